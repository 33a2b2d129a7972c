// The keys of ZANDRIC.INI, each described once: its section and key, what a
// missing key reads as, the main window member that holds it and, for a
// firmware file, what kind of file it is and its row on the Setup sheet.
// The start-up load and the save at exit (programmer_dlg_settings.cpp), the
// Setup sheet's pages and the copies into and out of them (file_open_sheet,
// programmer_dlg_setup.cpp) and the station check (preflight.cpp) all walk
// this one table, so a key added here is loaded, saved, shown and checked.
//
// The [Ports] section is not here: it maps port names to devices on POSIX
// systems and is read as a whole (InstallPortsSection).
#pragma once

#include <atomic>
#include <span>

#include "platform/sync_string.h"

class CStationSettings;

enum class SettingKind {
  kStamp,     // written at each save, never read: the time of the save
  kOption,    // [Common] y/n switch: on unless the value is "n" in either case
  kFolder,    // [Common] LogPath: the folder of logs and results
  kPortLogs,  // [Common] COM1..COM20 = LOG: the ports whose traffic is logged
  kBaud,      // a platform's baud rate
  kFile,      // a platform's firmware file
};

// What the station check reads a firmware file as.
enum class FileRole { kNone, kRcp, kVtc, kLdr, kRaw };

// A firmware file's row on the Setup sheet; label null: not on the sheet.
struct SheetRow {
  const char* label = nullptr;
  int editId = 0;
  int browseId = 0;
  const char* initialName = nullptr;  // the file-open dialog's initial name
  const char* filter = nullptr;       // its filter literal
};

struct SettingKey {
  const char* section;
  const char* key;       // the key as read
  const char* savedKey;  // the key as written
  SettingKind kind;
  const char* defaultText;  // what a missing key reads as
  std::atomic<bool> CStationSettings::*option = nullptr;    // kOption
  std::atomic<int> CStationSettings::*rate = nullptr;       // kBaud
  platform::SyncString CStationSettings::*text = nullptr;   // kFolder, kFile
  FileRole role = FileRole::kNone;                        // kFile
  SheetRow row = {};                                      // kFile
};

// Every key in the order the station loads and saves them (a fresh file has
// its keys in this order; the boxes of missing files come in this order).
std::span<const SettingKey> SettingKeys();

// The firmware file setting of a section and key; null when there is none.
const SettingKey* FindFileSetting(const char* section, const char* key);
