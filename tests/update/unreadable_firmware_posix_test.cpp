// Firmware settings that name no regular file: a character device (which
// reads without end), a FIFO (whose open would wait for a writer) and a
// folder. The step that would send it fails at once with a box that names
// the path and what it is; the run ends failed, nothing reaches the scanner
// as that component, and the record lists it as failed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "support/update_fixture.h"

namespace {

using scanner::Component;
using scanner::ScannerConfig;
using updtest::FirmwareKit;
using updtest::UpdateRig;

struct Step {
  const char* name;
  ScannerConfig config;
  std::function<void(CProgrammerDlg&, const std::string&)> set;
  Component component;
  const char* recordName;
  std::vector<std::string> boxesAfter;  // the engine's own box after the refusal
  std::string keys;
};

const Step kSteps[] = {
    {"FPGA", ScannerConfig::MV2(),
     [](CProgrammerDlg& d, const std::string& path) { d.m_strFpgaFileMV2.Set(path); },
     Component::kFpga, "FPGA", {}, "3"},
    {"VTC", ScannerConfig::MV2(),
     [](CProgrammerDlg& d, const std::string& path) { d.m_strVtcFileMV2.Set(path); },
     Component::kVtc, "VTC", {"VTC Update: Read file failed"}, ""},
    {"LoaderSentAsFile", ScannerConfig::QZ500(),
     [](CProgrammerDlg& d, const std::string& path) {
       d.m_strLdrFileQZ6.Set(path);
       d.m_bPermitLoaderOverwrite = true;
     },
     Component::kLdr, "LDR", {"Loader Update: Send failed"}, "a"},
};

TEST(UnreadableFirmware, DevicesPipesAndFoldersFailTheirStepAtOnce) {
  FirmwareKit kit;
  const std::string fifo = kit.dir.PathOf("firmware.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* what;
  } paths[] = {
      {"/dev/zero", "a device"},
      {fifo, "a pipe"},
      {kit.dir.PathOf(""), "a folder"},
  };
  for (const Step& step : kSteps) {
    for (const auto& p : paths) {
      SCOPED_TRACE(std::string(step.name) + " " + p.path);
      UpdateRig rig(step.config);
      step.set(rig.Settings(), p.path);

      ASSERT_EQ(rig.Run(), updtest::kFailedText);
      std::vector<std::string> expected = {"File " + p.path + " is " + p.what +
                                           ", not a regular file"};
      expected.insert(expected.end(), step.boxesAfter.begin(), step.boxesAfter.end());
      EXPECT_EQ(rig.boxes.Texts(), expected);
      EXPECT_EQ(rig.sim.KeysTyped(), step.keys);
      EXPECT_EQ(rig.sim.BlockCount(step.component), 0u);
      ASSERT_TRUE(rig.SwitchOff());
      const std::vector<std::string> fields = rig.RecordFields();
      ASSERT_GE(fields.size(), 7u);
      EXPECT_EQ(fields[6], std::string(step.recordName) + "=" + p.path + " (0 bytes, failed)");
    }
  }
}

}  // namespace
