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
#include "app/comm_dialog.h"
#include "app/settings_table.h"
#include "platform/device_map.h"
#include "platform/format.h"
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

// LogPath: leading blanks and a trailing separator go. A value of blanks
// alone (or of the separator alone) names no folder: the setting stays empty
// and nothing is created.
void LoadLogPath(std::string logPath, platform::SyncString& member) {
  logPath.erase(0, std::min(logPath.find_first_not_of(" \t"), logPath.size()));
  if (!logPath.empty() && logPath.back() == kSeparator) logPath.pop_back();
  if (logPath.empty()) return;
  member.Set(logPath);
  std::error_code ec;
  if (!fs::is_directory(fs::path(logPath), ec)) {
    // One level only; a failure shows later, when the log file cannot be opened.
    fs::create_directory(fs::path(logPath), ec);
  }
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

std::string CStationSettings::GetIniPath() const {
  return std::string(m_szAppDir) + kSeparator + kIniFileName;
}

void CStationSettings::LoadSettings() {
  const std::string path = GetIniPath();
  // One version of the file for the whole load, read once.
  CIniFile ini(path);
  ini.Hold();
  InstallPortsSection(path);

  for (const SettingKey& setting : SettingKeys()) {
    switch (setting.kind) {
      case SettingKind::kStamp:
        break;
      case SettingKind::kOption:
        this->*setting.option = OptionValue(ini, setting.key, setting.defaultText);
        break;
      case SettingKind::kFolder:
        LoadLogPath(ini.GetString(setting.section, setting.key, setting.defaultText), m_strLogPath);
        break;
      case SettingKind::kPortLogs:
        for (int n = 1; n <= kPortTableRows; ++n) {
          const std::string key = Format("%s%d", setting.key, n);
          if (EqualsNoCase(ini.GetString(setting.section, key, ""), "LOG")) g_portTable[n - 1].bLog = 1;
        }
        break;
      case SettingKind::kBaud:
        this->*setting.rate =
            LeadingNumber(ini.GetString(setting.section, setting.key, setting.defaultText));
        break;
      case SettingKind::kFile:
        LoadFileSetting(ini, setting.section, setting.key, this->*setting.text);
        break;
    }
  }
}

void CStationSettings::SaveSettings() {
  // Every key goes into one copy of the file, which is written once, whole.
  CIniFile ini(GetIniPath());
  ini.Hold();

  auto yn = [](bool on) { return std::string(on ? "y" : "n"); };
  for (const SettingKey& setting : SettingKeys()) {
    switch (setting.kind) {
      case SettingKind::kStamp: {
        const platform::LocalTime now = platform::GetLocalTime();
        ini.WriteString(setting.section, setting.savedKey,
                        Format("%02d/%02d/%02d %02d:%02d:%02d", now.month, now.day,
                               now.year % 100, now.hour, now.minute, now.second));
        break;
      }
      case SettingKind::kOption:
        ini.WriteString(setting.section, setting.savedKey, yn(this->*setting.option));
        break;
      case SettingKind::kFolder:
      case SettingKind::kFile:
        ini.WriteString(setting.section, setting.savedKey, (this->*setting.text).Get());
        break;
      case SettingKind::kPortLogs:
        // Only switches of open, logging panels are written: a LOG entry
        // already in the file is never taken out.
        for (int n = 1; n <= kPortTableRows; ++n) {
          const COMM_SPORT& row = g_portTable[n - 1];
          if (row.bInUse && row.pPanel != nullptr && row.pPanel->m_session.m_bLogEnabled) {
            ini.WriteString(setting.section, Format("%s%i", setting.savedKey, n), "LOG");
          }
        }
        break;
      case SettingKind::kBaud:
        ini.WriteString(setting.section, setting.savedKey, std::to_string((this->*setting.rate).load()));
        break;
    }
  }

  std::string reason;
  if (!ini.Save(reason)) {
    // The old file stays whole; the operator learns that the settings of
    // this session are not in it.
    ShowPlainError("The settings could not be saved to " + ini.Path() + ": " + reason);
  }
}
