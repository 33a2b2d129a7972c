// The main window's settings side: ZANDRIC.INI read once at start-up and
// written once at exit, the existence test of configured firmware files, the
// baud-rate table, and the [Ports] map that tells a POSIX system where COMn
// and ZEVn lead.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "app/ini_file.h"
#include "app/programmer_dlg.h"
#include "link/comm_dialog.h"
#include "platform/device_map.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"
#include "platform/time.h"
#include "ports/comm_sport.h"
#include "platform/path_text.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSeparator = static_cast<char>(fs::path::preferred_separator);

// The rates the Setup sheet accepts, in the order they are searched.
constexpr int kBaudRates[] = {115200, 57600, 38400, 28800};

// Options are on unless their value is "n" in either case: "no", "0" and an
// empty value all leave them on.
bool OptionValue(const CIniFile& ini, const char* key, const char* def) {
  return !EqualsNoCase(ini.GetString("Common", key, def), "n");
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// The platform's file search: the path itself, or, when its last part holds
// wildcards, any entry of its folder that matches them.
bool FileSearchFinds(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  size_t cut = path.find_last_of(std::string("/") + kSeparator);
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  if (!HasWildcard(name)) return fs::exists(platform::PathFromText(path), ec);
  fs::path folder = cut == std::string::npos ? fs::path(".") : platform::PathFromText(path.substr(0, cut + 1));
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (WildcardMatch(name.c_str(), platform::TextFromPath(it->path().filename()).c_str())) return true;
  }
  return false;
}

// Reads a configured firmware file: the member takes the value only when it is
// set and the file is there; a missing file is reported once, here.
void LoadFileSetting(const CIniFile& ini, const char* section, const char* key,
                     platform::SyncString& member) {
  std::string value = ini.GetString(section, key, "");
  if (!value.empty() && FileExists(value, 1)) member.Set(value);
}

}  // namespace

bool WildcardMatch(const char* pattern, const char* name) {
  // On a mismatch only the last star is tried again, one character further
  // on: what an earlier star took can never need to change, because the
  // last star can take it instead. So the match takes time in proportion
  // to the pattern times the name, where trying every star at every place
  // would take exponential time (a setting like fw/*a*a*a*a*b would hang
  // the start-up on a long file name).
  const char* star = nullptr;   // just after the last star met
  const char* resume = nullptr; // where that star's run ends now
  while (*name != '\0') {
    if (*pattern == '*') {
      star = ++pattern;
      resume = name;
    } else if (*pattern != '\0' && (*pattern == '?' || *pattern == *name)) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

int IsValidBaudRate(int rate) {
  for (int allowed : kBaudRates) {
    if (rate == allowed) return 1;
  }
  return 0;
}

int LeadingNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int FileExists(const std::string& path, int report) {
  if (FileSearchFinds(path)) return 1;
  if (report) ShowInfo("File " + path + " not found");
  return 0;
}

void InstallPortsSection(const std::string& iniPath) {
  std::vector<std::pair<std::string, std::string>> entries = CIniFile(iniPath).GetSection("Ports");
  std::map<std::string, std::string> byName;  // upper-case port name -> device path
  for (const auto& [name, path] : entries) byName.emplace(Upper(name), path);
  platform::SetPortMap([byName](const std::string& name) -> std::string {
    auto it = byName.find(Upper(platform::WithoutDevicePrefix(name)));
    return it == byName.end() ? std::string() : it->second;
  });
  platform::SetDeviceMapPorts(std::move(entries));
}

std::string CProgrammerDlg::GetIniPath() const {
  return std::string(m_szAppDir) + kSeparator + kIniFileName;
}

void CProgrammerDlg::LoadSettings() {
  const std::string path = GetIniPath();
  // One version of the file for the whole load, read once.
  CIniFile ini(path);
  ini.Hold();
  InstallPortsSection(path);

  m_bPermitLoaderOverwrite = OptionValue(ini, "PermitLoaderOverwrite", "n");
  m_bPreserveSerialNumber = OptionValue(ini, "PreserveSerialNumber", "y");
  m_bLeaveImages = OptionValue(ini, "LeaveImages", "n");
  m_bIncludeSetupMenu = OptionValue(ini, "IncludeSetupMenu", "n");

  std::string logPath = ini.GetString("Common", "LogPath", "");
  logPath.erase(0, std::min(logPath.find_first_not_of(" \t"), logPath.size()));
  if (!logPath.empty() && logPath.back() == kSeparator) logPath.pop_back();
  // A value of blanks alone (or of the separator alone) names no folder: the
  // setting stays empty and nothing is created.
  if (!logPath.empty()) {
    m_strLogPath.Set(logPath);
    std::error_code ec;
    if (!fs::is_directory(fs::path(logPath), ec)) {
      // One level only; a failure shows later, when the log file cannot be opened.
      fs::create_directory(fs::path(logPath), ec);
    }
  }

  for (int n = 1; n <= kPortTableRows; ++n) {
    char key[16];
    std::snprintf(key, sizeof key, "COM%d", n);
    if (EqualsNoCase(ini.GetString("Common", key, ""), "LOG")) g_portTable[n - 1].bLog = 1;
  }

  m_nBaudQZ6 = LeadingNumber(ini.GetString("QZ6", "BaudRate", "57600"));
  LoadFileSetting(ini, "QZ6", "RCP", m_strRcpFileQZ6);
  LoadFileSetting(ini, "QZ6", "LDR", m_strLdrFileQZ6);
  LoadFileSetting(ini, "QZ6", "VTC", m_strVtcFileQZ6);
  LoadFileSetting(ini, "QZ6", "CPLD", m_strCpldFileQZ6);
  LoadFileSetting(ini, "QZ6", "DSP", m_strDspFileQZ6);

  m_nBaudMV2 = LeadingNumber(ini.GetString("MV2", "BaudRate", "57600"));
  LoadFileSetting(ini, "MV2", "RCP", m_strRcpFileMV2);
  LoadFileSetting(ini, "MV2", "LDR_PRE_5_0", m_strLdrPre50FileMV2);
  LoadFileSetting(ini, "MV2", "LDR", m_strLdrFileMV2);
  LoadFileSetting(ini, "MV2", "VTC", m_strVtcFileMV2);
  LoadFileSetting(ini, "MV2", "FPGA", m_strFpgaFileMV2);
  LoadFileSetting(ini, "MV2", "UIM", m_strUimFileMV2);
}

void CProgrammerDlg::SaveSettings() {
  // Every key goes into one copy of the file, which is written once, whole.
  CIniFile ini(GetIniPath());
  ini.Hold();

  platform::LocalTime now = platform::GetLocalTime();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d", now.month, now.day,
                now.year % 100, now.hour, now.minute, now.second);
  ini.WriteString("Common", "LastModTime", stamp);

  auto yn = [](bool on) { return std::string(on ? "y" : "n"); };
  ini.WriteString("Common", "PermitLoaderOverwrite", yn(m_bPermitLoaderOverwrite));
  ini.WriteString("Common", "PreserveSerialNumber", yn(m_bPreserveSerialNumber));
  ini.WriteString("Common", "LeaveImages", yn(m_bLeaveImages));
  ini.WriteString("Common", "IncludeSetupMenu", yn(m_bIncludeSetupMenu));
  ini.WriteString("Common", "LogPath", m_strLogPath.Get());

  // Only switches of open, logging panels are written: a LOG entry already in
  // the file is never taken out.
  for (int n = 1; n <= kPortTableRows; ++n) {
    const COMM_SPORT& row = g_portTable[n - 1];
    if (row.bInUse && row.pPanel != nullptr && row.pPanel->m_bLogEnabled) {
      char key[16];
      std::snprintf(key, sizeof key, "COM%i", n);
      ini.WriteString("Common", key, "LOG");
    }
  }

  ini.WriteString("QZ6", "Baud", std::to_string(m_nBaudQZ6.load()));
  ini.WriteString("QZ6", "RCP", m_strRcpFileQZ6.Get());
  ini.WriteString("QZ6", "LDR", m_strLdrFileQZ6.Get());
  ini.WriteString("QZ6", "VTC", m_strVtcFileQZ6.Get());
  ini.WriteString("QZ6", "CPLD", m_strCpldFileQZ6.Get());
  ini.WriteString("QZ6", "DSP", m_strDspFileQZ6.Get());

  ini.WriteString("MV2", "Baud", std::to_string(m_nBaudMV2.load()));
  ini.WriteString("MV2", "RCP", m_strRcpFileMV2.Get());
  ini.WriteString("MV2", "LDR_PRE_5_0", m_strLdrPre50FileMV2.Get());
  ini.WriteString("MV2", "LDR", m_strLdrFileMV2.Get());
  ini.WriteString("MV2", "VTC", m_strVtcFileMV2.Get());
  ini.WriteString("MV2", "FPGA", m_strFpgaFileMV2.Get());
  ini.WriteString("MV2", "UIM", m_strUimFileMV2.Get());

  std::string reason;
  if (!ini.Save(reason)) {
    // The old file stays whole; the operator learns that the settings of
    // this session are not in it.
    ShowPlainError("The settings could not be saved to " + ini.Path() + ": " + reason);
  }
}
