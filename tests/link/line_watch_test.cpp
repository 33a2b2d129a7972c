// The line watch: the banner of a loader that restarted, found in the bytes
// the receiver reads however they are cut into blocks, and the waits on the
// ring ending at once on a noted fault.
#include "link/line_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/response.h"
#include "platform/message_box.h"
#include "support/link_fixture.h"

namespace {

using linktest::LinkFixture;

struct ScanCase {
  const char* name;
  std::vector<std::string> blocks;
  std::vector<bool> found;  // after each block
};

TEST(BannerScannerTest, FindsABannerEndingInTheNewestBlock) {
  const std::string banner = "\r\nQZ6 Boot Loader version 2.3.4 Build 1203\r\n";
  const ScanCase cases[] = {
      {"whole", {banner}, {true}},
      {"cut before Build", {"\r\nQZ6 Boot Loader version 2.3.4 ", "Build 1203"}, {false, true}},
      {"cut inside Build", {"\r\nQZ6 Boot Loader version 2.3.4 Bu", "ild 1203"}, {false, true}},
      {"one byte at a time", {"QZ6 version 1.0.0 Buil", "d"}, {false, true}},
      {"seen once only", {banner, "more menu text\r\n"}, {true, false}},
      {"without version", {"QZ6 Boot Loader Build 1203"}, {false}},
      {"Build alone", {"Image Build area\r\n"}, {false}},
      {"noise", {std::string(3000, '.') + "#%&", "!!"}, {false, false}},
      {"after a long block", {std::string(5000, 'x'), banner}, {false, true}},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    BannerScanner scanner;
    for (size_t i = 0; i < c.blocks.size(); ++i) {
      const std::string& block = c.blocks[i];
      EXPECT_EQ(scanner.Scan(reinterpret_cast<const uint8_t*>(block.data()), block.size()),
                c.found[i])
          << "block " << i;
    }
  }
}

class LineFaultWaitTest : public LinkFixture {
 protected:
  void SetUp() override { rig.CreatePanel(); }
};

// A noted fault ends both waits as soon as the ring is empty, whatever their
// time-out: a wait of a minute returns at once.
TEST_F(LineFaultWaitTest, WaitsEndAtOnceOnANotedFault) {
  CCommDialog& panel = *rig.panel;
  for (LineFault fault : {kLineDeviceGone, kLineRestarted}) {
    SCOPED_TRACE(static_cast<int>(fault));
    panel.m_session.m_nLineFault.store(kLineHealthy);
    panel.m_session.m_bOutcomeShown.store(true);  // no box: the fault is only noted
    NoteLineFault(panel.m_session, panel, fault);
    EXPECT_EQ(WaitForPair(panel.m_session, 60000, Expect{.success = {"Write flash complete"}}),
              UPD_LINK_DOWN);
    uint8_t out[16];
    EXPECT_EQ(WaitBetween(panel.m_session, 60000, out, sizeof out, "QZ", "Build"), UPD_LINK_DOWN);
  }
}

// A completion text that came with a restarted loader's banner is no answer
// to the step.
TEST_F(LineFaultWaitTest, CompletionAfterARestartIsNoSuccess) {
  CCommDialog& panel = *rig.panel;
  NoteLineFault(panel.m_session, panel, kLineRestarted);
  ASSERT_TRUE(rig.PutInRing("QZ6 Boot Loader version 2.3.4 Build 1203\r\nWrite flash complete\r\n"));
  EXPECT_EQ(WaitForPair(panel.m_session, 60000, Expect{.success = {"Write flash complete"}}),
            UPD_LINK_DOWN);
}

// A vanished device is said once, and never once the run has shown its
// outcome (then it is the scanner being switched off).
TEST_F(LineFaultWaitTest, DeviceGoneIsSaidOnceAndNotAfterTheOutcome) {
  CCommDialog& panel = *rig.panel;
  NoteLineFault(panel.m_session, panel, kLineDeviceGone);
  NoteLineFault(panel.m_session, panel, kLineDeviceGone);
  NoteLineFault(panel.m_session, panel, kLineRestarted);  // does not hide the vanished device
  EXPECT_EQ(CurrentLineFault(panel.m_session), kLineDeviceGone);
  ASSERT_EQ(rig.boxes.Boxes().size(), 1u);
  EXPECT_EQ(rig.boxes.Boxes()[0].text, kDeviceGoneText);
  EXPECT_EQ(rig.boxes.Boxes()[0].caption, "COM3: Error");

  panel.m_session.m_nLineFault.store(kLineHealthy);
  panel.m_session.m_bOutcomeShown.store(true);
  NoteLineFault(panel.m_session, panel, kLineDeviceGone);
  EXPECT_EQ(rig.boxes.Boxes().size(), 1u);
}

}  // namespace
