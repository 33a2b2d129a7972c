// Device checks of the POSIX serial port before it opens a path; see
// tty_device.h.
#include "platform/posix/tty_device.h"

#include <grp.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace platform::posix {
namespace {

constexpr const char* kTtyDriverTable = "/proc/tty/drivers";

bool ParseNumber(const std::string& text, unsigned long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  if (text.size() > 9) return false;  // far above any device number
  value = std::stoul(text);
  return true;
}

}  // namespace

bool TtyDriverTableLists(const std::string& table, unsigned major, unsigned minor) {
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) words.push_back(word);
    // Counted from the end: the major number and the minors are the third and
    // second last fields whatever the driver's name holds.
    if (words.size() < 5) continue;
    const std::string& majorText = words[words.size() - 3];
    const std::string& minors = words[words.size() - 2];
    unsigned long lineMajor = 0, first = 0, last = 0;
    if (!ParseNumber(majorText, lineMajor) || lineMajor != major) continue;
    const size_t dash = minors.find('-');
    if (dash == std::string::npos) {
      if (!ParseNumber(minors, first)) continue;
      last = first;
    } else if (!ParseNumber(minors.substr(0, dash), first) ||
               !ParseNumber(minors.substr(dash + 1), last)) {
      continue;
    }
    if (minor >= first && minor <= last) return true;
  }
  return false;
}

bool IsTtyDevice(dev_t device) {
  std::ifstream file(kTtyDriverTable);
  if (!file) return true;
  std::ostringstream table;
  table << file.rdbuf();
  return TtyDriverTableLists(table.str(), ::major(device), ::minor(device));
}

std::string NotInDeviceGroupText(const std::string& path, gid_t group) {
  std::string name;
  const long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 1024);
  for (;;) {
    struct group entry {};
    struct group* found = nullptr;
    const int rc = ::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc == 0 && found != nullptr && found->gr_name != nullptr) name = found->gr_name;
    break;
  }
  if (name.empty()) name = std::to_string(group);
  return "Permission denied: the user needs to be a member of group " + name + " to use " + path +
         " (and to log in again after being added)";
}

}  // namespace platform::posix
