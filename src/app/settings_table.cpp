#include "app/settings_table.h"

#include <cstring>

#include "app/file_open_sheet.h"
#include "app/station_settings.h"

namespace {

constexpr const char* kRunFilter = "Run Files (*.run) | *.run | All Files (*.*) | *.* ||";
constexpr const char* kSssFilter = "S-Rec Files (*.sss) | *.sss | All Files (*.*) | *.* ||";
// The MV2 loader's filter says "Run Files" for its *.srec images.
constexpr const char* kLdrSrecFilter = "Run Files (*.srec) | *.srec | All Files (*.*) | *.* ||";
constexpr const char* kSrecFilter = "S-Rec Files (*.srec) | *.srec | All Files (*.*) | *.* ||";

using D = CStationSettings;

SettingKey Option(const char* key, const char* defaultText, std::atomic<bool> D::*member) {
  return {.section = "Common", .key = key, .savedKey = key, .kind = SettingKind::kOption,
          .defaultText = defaultText, .option = member};
}

// The rate is read from BaudRate but written to Baud: files in the field
// carry both keys, and a station must go on reading the rate their operators
// set under BaudRate while writing where it always wrote. Neither key may
// change.
SettingKey Baud(const char* section, std::atomic<int> D::*member) {
  return {.section = section, .key = "BaudRate", .savedKey = "Baud", .kind = SettingKind::kBaud,
          .defaultText = "57600", .rate = member};
}

SettingKey File(const char* section, const char* key, platform::SyncString D::*member,
                FileRole role, SheetRow row = {}) {
  return {.section = section, .key = key, .savedKey = key, .kind = SettingKind::kFile,
          .defaultText = "", .text = member, .role = role, .row = row};
}

const SettingKey kKeys[] = {
    {.section = "Common", .key = "LastModTime", .savedKey = "LastModTime",
     .kind = SettingKind::kStamp, .defaultText = ""},
    Option("PermitLoaderOverwrite", "n", &D::m_bPermitLoaderOverwrite),
    Option("PreserveSerialNumber", "y", &D::m_bPreserveSerialNumber),
    Option("LeaveImages", "n", &D::m_bLeaveImages),
    Option("IncludeSetupMenu", "n", &D::m_bIncludeSetupMenu),
    {.section = "Common", .key = "LogPath", .savedKey = "LogPath", .kind = SettingKind::kFolder,
     .defaultText = "", .text = &D::m_strLogPath},
    {.section = "Common", .key = "COM", .savedKey = "COM", .kind = SettingKind::kPortLogs,
     .defaultText = ""},

    Baud("QZ6", &D::m_nBaudQZ6),
    File("QZ6", "RCP", &D::m_strRcpFileQZ6, FileRole::kRcp,
         {"RCP file name :", IDC_EDIT_RCP, IDC_BROWSE_RCP, "*.run", kRunFilter}),
    File("QZ6", "LDR", &D::m_strLdrFileQZ6, FileRole::kLdr,
         {"LDR file name :", IDC_EDIT_LDR, IDC_BROWSE_LDR, "*.run", kRunFilter}),
    File("QZ6", "VTC", &D::m_strVtcFileQZ6, FileRole::kVtc,
         {"VTC file name :", IDC_EDIT_VTC, IDC_BROWSE_VTC, "*.run", kRunFilter}),
    File("QZ6", "CPLD", &D::m_strCpldFileQZ6, FileRole::kRaw,
         {"CPLD file name :", IDC_EDIT_CPLD, IDC_BROWSE_CPLD, "*.sss", kSssFilter}),
    File("QZ6", "DSP", &D::m_strDspFileQZ6, FileRole::kRaw,
         {"DSP file name :", IDC_EDIT_DSP, IDC_BROWSE_DSP, "*.sss", kSssFilter}),

    Baud("MV2", &D::m_nBaudMV2),
    File("MV2", "RCP", &D::m_strRcpFileMV2, FileRole::kRcp,
         {"RCP file name :", IDC_EDIT_RCP, IDC_BROWSE_RCP, "*.run", kRunFilter}),
    // The older loader for boards before 5.0: set in the file only.
    File("MV2", "LDR_PRE_5_0", &D::m_strLdrPre50FileMV2, FileRole::kLdr),
    File("MV2", "LDR", &D::m_strLdrFileMV2, FileRole::kLdr,
         {"LDR file name :", IDC_EDIT_LDR, IDC_BROWSE_LDR, "*.srec", kLdrSrecFilter}),
    File("MV2", "VTC", &D::m_strVtcFileMV2, FileRole::kVtc,
         {"VTC file name :", IDC_EDIT_VTC, IDC_BROWSE_VTC, "*.run", kRunFilter}),
    File("MV2", "FPGA", &D::m_strFpgaFileMV2, FileRole::kRaw,
         {"FPGA file name :", IDC_EDIT_FPGA, IDC_BROWSE_FPGA, "*.srec", kSrecFilter}),
    File("MV2", "UIM", &D::m_strUimFileMV2, FileRole::kRaw,
         {"UIM file name :", IDC_EDIT_UIM, IDC_BROWSE_UIM, "*.srec", kSrecFilter}),
};

}  // namespace

std::span<const SettingKey> SettingKeys() { return kKeys; }

const SettingKey* FindFileSetting(const char* section, const char* key) {
  for (const SettingKey& setting : kKeys) {
    if (setting.kind == SettingKind::kFile && std::strcmp(setting.section, section) == 0 &&
        std::strcmp(setting.key, key) == 0) {
      return &setting;
    }
  }
  return nullptr;
}
