// Helpers for the application tests: a scratch folder per test, files in it,
// and a fixture that holds a main window model whose program folder is that
// scratch folder, with message boxes recorded and the port table cleared.
#pragma once

#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "platform/message_recorder.h"
#include "ports/comm_sport.h"

namespace apptest {

namespace fs = std::filesystem;

inline const char kSep = static_cast<char>(fs::path::preferred_separator);

using ScratchDir = testsupport::ScratchDir;
using testsupport::ReadFile;
using testsupport::WriteFile;

inline void ClearPortTable() {
  for (COMM_SPORT& row : g_portTable) row = COMM_SPORT{};
}

// Runs the test with the current directory switched to a folder, and back.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir) : previous_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~ScopedCurrentDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
  }

 private:
  fs::path previous_;
};

// A main window model over a scratch program folder, as it stands right
// before LoadSettings: port table cleared, pre-load values set.
class SettingsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearPortTable();
    g_bClosing = false;
    std::snprintf(dlg.m_szAppDir, sizeof dlg.m_szAppDir, "%s", dir.Path().c_str());
    dlg.SetPreloadDefaults();
  }
  void TearDown() override { ClearPortTable(); }

  std::string IniPath() const { return dir / "ZANDRIC.INI"; }
  void WriteIni(const std::string& content) { WriteFile(IniPath(), content); }
  std::string ReadIni() const { return ReadFile(IniPath()); }
  // A firmware file that exists, named in the scratch folder.
  std::string MakeFile(const std::string& name) {
    std::string path = dir / name;
    WriteFile(path, "S0030000FC\n");
    return path;
  }

  ScratchDir dir;
  platform::ScopedMessageRecorder boxes;
  CProgrammerDlg dlg;
};

}  // namespace apptest
