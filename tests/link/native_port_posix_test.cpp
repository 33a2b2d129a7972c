// A port panel on the operating system's serial port: what the operator is
// told when the port name leads to something that is no serial device, and
// that the line is given back with the settings it had before the panel
// opened it, whether the panel lets go through Reset or its teardown.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "support/link_fixture.h"
#include "support/pty_line.h"
#include "support/scratch_dir.h"

namespace {

using linktest::WaitUntil;

// COM3 leads through the operating system's backend to the given path.
class NativePortScope {
 public:
  explicit NativePortScope(const std::string& path) {
    platform::InstallPortOpener({});
    platform::SetPortMap([path](const std::string& name) {
      return name == "COM3" ? path : std::string();
    });
  }
  ~NativePortScope() { platform::SetPortMap({}); }
};

TEST(NativePort, APathThatIsNoSerialDeviceIsReportedAndThePanelGivenBack) {
  linktest::LinkRig rig("COM3", 3);
  testsupport::ScratchDir dir;
  const std::string path = dir.Write("ttyS2", "");
  NativePortScope native(path);

  CCommDialog& panel = rig.CreatePanel();
  panel.Start();

  const auto boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, platform::BoxKind::kApiError);
  EXPECT_EQ(boxes[0].caption, "COM3");
  EXPECT_EQ(boxes[0].text,
            "COM3:CreateFile in OpenPort\nAPI details:" + path + " is not a serial device");
  EXPECT_TRUE(panel.m_bButtonEnabled.load());
  EXPECT_FALSE(panel.m_bBusy.load());
  EXPECT_TRUE(panel.ThreadsDone());
  EXPECT_EQ(testsupport::ReadFile(path), "");
}

// A programming run that only waits to be told to stop.
int WaitForTheEnd(PortSession& session, RunReporter&, const ScannerIdentity&) {
  platform::WaitForAny({session.m_hExitEvent.get()}, platform::kInfinite);
  return 0;
}

TEST(NativePort, TheLineIsGivenBackAsItWasFound) {
  struct {
    const char* how;
    bool run;    // Start a run (receiver and programming thread) first
    bool reset;  // let go through Reset; else through the teardown
  } cases[] = {
      {"Reset during a run", true, true},
      {"teardown during a run", true, false},
      {"teardown of a port opened without a run", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    linktest::LinkRig rig("COM3", 3);
    testsupport::PtyLine line;
    ASSERT_TRUE(line.Ready());
    ASSERT_TRUE(line.SetConsoleSettings());
    const std::string before = line.Settings();
    NativePortScope native(line.SlavePath());

    CCommDialog& panel = rig.CreatePanel();
    if (c.run) {
      panel.Start(WaitForTheEnd);
      ASSERT_TRUE(panel.m_session.m_hPort.IsOpen()) << rig.boxes.Texts().front();
    } else {
      panel.OpenPort();
      ASSERT_TRUE(panel.m_session.m_hPort.IsOpen());
    }
    ASSERT_NE(line.Settings(), before) << "the station's line is in force while open";

    if (c.reset) {
      panel.Reset();
      EXPECT_EQ(line.Settings(), before) << "at once, while the threads are still ending";
      EXPECT_TRUE(WaitUntil([&] { return panel.ThreadsDone(); }));
    }
    rig.DestroyPanel();
    EXPECT_EQ(line.Settings(), before);
  }
}

}  // namespace
