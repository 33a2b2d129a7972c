// Single engine dialogues against a scripted loader: the download menu with
// the Image Store Area question, the memory dump that reads the special
// block, and the engine frame's reaction to a link that is down or a port
// that is gone. Each runs on the test's thread with the port's receiver
// feeding the ring.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/comm_dialog.h"
#include "platform/message_box.h"
#include "support/link_fixture.h"
#include "support/update_fixture.h"
#include "support/update_scripted_loader.h"
#include "update/engine_frame.h"
#include "update/engines.h"

namespace {

using platform::BoxKind;
using updtest::ScriptedLoader;

// A panel whose receiver runs, its scanner switched on and identified.
class EngineDialogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    panel = &rig.CreatePanel();
    rig.line->SetPower(true);
    rig.StartReceiverOnly();
    panel->m_bBusy = true;
    panel->ShowIdentity(
        ScannerIdentity{.identified = true, .family = ScannerFamily::kQZ600, .loaderVersion = 20304});
  }

  // The run's copy of the settings for a scanner of the family.
  RunSettings RunFor(ScannerFamily family) const {
    RunSettings run = rig.mainDlg.TakeRunSettings(family, panel->Identity().boardVersion);
    run.loaderVersion = panel->Identity().loaderVersion;
    return run;
  }

  std::vector<std::pair<BoxKind, std::string>> Boxes() const {
    std::vector<std::pair<BoxKind, std::string>> boxes;
    for (const auto& box : rig.boxes.Boxes()) boxes.emplace_back(box.kind, box.text);
    return boxes;
  }

  linktest::LinkRig rig;
  CCommDialog* panel = nullptr;
};

// ---- the download menu ----

const char kQuestion[] = "\r\nThe Image Store Area holds data; it will be lost. Proceed (y/n)? ";
const char kPrompt[] = "\r\nReady to receive: send the S-records now\r\n";
const char kAborted[] = "\r\nDownload aborted\r\n=== Loader menu ===\r\n> ";
const char kRcpStore[] =
    "Data has been detected in the Image Store Area.\r\nYou must delete the data before the rcp "
    "file can be downloaded.";
const char kVtcStore[] =
    "Data has been detected in the Image Store Area.\r\nYou must delete the data before the vtc "
    "file can be downloaded.";

struct DownloadCase {
  const char* name;
  bool vtc;
  bool firstBlock;
  bool leaveImages;
  std::deque<ScriptedLoader::Step> script;
  std::string keys;
  UpdateStatus result;
  std::vector<std::pair<BoxKind, std::string>> boxes;
  bool collectingAfter;  // m_bRxActive when the dialogue is over
};

void PrintTo(const DownloadCase& c, std::ostream* os) { *os << c.name; }

class DownloadMenuTest : public EngineDialogueTest,
                         public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(DownloadMenuTest, AnswersTheStoreQuestion) {
  const DownloadCase& c = GetParam();
  linktest::ScopedTimeScale fast(0.1);  // for the cases where the loader says nothing
  ScriptedLoader loader(rig.line, c.script);

  const UpdateStatus result = c.vtc ? StartVTCDownload(panel->m_session, *panel, c.firstBlock, c.leaveImages)
                                    : StartRCPDownload(panel->m_session, *panel, c.firstBlock, c.leaveImages);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(rig.FarReceived(), c.keys);
  EXPECT_EQ(Boxes(), c.boxes);
  EXPECT_EQ(panel->m_session.m_bRxActive.load(), c.collectingAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadMenuTest,
    ::testing::Values(
        DownloadCase{"EmptyStore", false, true, false, {{'1', kPrompt}}, "1", UPD_OK, {}, false},
        DownloadCase{"FirstBlockDeclined",
                     false,
                     true,
                     false,
                     {{'1', kQuestion}, {'n', kAborted}},
                     "1n",
                     UPD_IMAGE_STORE_NOT_EMPTY,
                     {{BoxKind::kWarning, kRcpStore}},
                     true},
        DownloadCase{"FirstVtcBlockDeclined",
                     true,
                     true,
                     false,
                     {{'1', kQuestion}, {'n', kAborted}},
                     "1n",
                     UPD_IMAGE_STORE_NOT_EMPTY,
                     {{BoxKind::kWarning, kVtcStore}},
                     true},
        DownloadCase{"LeaveImages", false, true, true, {{'1', kQuestion}, {'y', kPrompt}}, "1y",
                     UPD_OK, {}, false},
        // A later block of a download the loader accepted is always let in.
        DownloadCase{"LaterBlock", true, false, false, {{'1', kQuestion}, {'y', kPrompt}}, "1y",
                     UPD_OK, {}, false},
        DownloadCase{"NoAnswer", false, true, false, {}, "1", UPD_TIMEOUT,
                     {{BoxKind::kError, "No response"}}, true},
        DownloadCase{"NoAnswerAfterN",
                     false,
                     true,
                     false,
                     {{'1', kQuestion}},
                     "1n",
                     UPD_TIMEOUT,
                     {{BoxKind::kWarning, kRcpStore}, {BoxKind::kError, "No response"}},
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the memory dump ----

std::deque<ScriptedLoader::Step> DumpScript(char key, const std::string& text, int replies = 3) {
  std::deque<ScriptedLoader::Step> script = {
      {key, "\r\nDump memory. Start address (0x1234abcd format): "},
      {'\r', "\r\nEnd Address (0xabcd1234 format): "},
      {'\r', text},
  };
  script.resize(static_cast<size_t>(replies));
  return script;
}

// The loader's dump of bytes from start: 16 to a line, each a piece between
// blanks, then the end address.
std::string DumpText(uint32_t start, const std::vector<uint8_t>& bytes, const char* end) {
  std::string text = "\r\n";
  char piece[16];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) {
      std::snprintf(piece, sizeof piece, "%08x ", static_cast<unsigned>(start + i));
      text += piece;
    }
    std::snprintf(piece, sizeof piece, "%02x ", bytes[i]);
    text += piece;
    if (i % 16 == 15) text += "\r\n";
  }
  return text + "end " + end + "\r\n> ";
}

std::vector<uint8_t> Counting(size_t n, uint8_t from = 0) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(from + i);
  return bytes;
}

struct DumpCase {
  const char* name;
  ScannerFamily family;
  int loaderVersion;
  std::deque<ScriptedLoader::Step> script;
  unsigned limit;
  UpdateStatus result;
  std::vector<uint8_t> bytes;
  std::string keys;
  std::vector<std::string> errors;
};

void PrintTo(const DumpCase& c, std::ostream* os) { *os << c.name; }

class SpecialBlockTest : public EngineDialogueTest, public ::testing::WithParamInterface<DumpCase> {};

TEST_P(SpecialBlockTest, ReadsTheBytesBetweenTheAddresses) {
  const DumpCase& c = GetParam();
  linktest::ScopedTimeScale fast(0.1);  // for the cases where the loader says nothing
  RunSettings dump;
  dump.family = c.family;
  dump.loaderVersion = c.loaderVersion;
  ScriptedLoader loader(rig.line, c.script);

  uint8_t bytes[100] = {};
  unsigned count = 999;
  EXPECT_EQ(GetSpecialBlock(panel->m_session, *panel, dump, bytes, c.limit, &count), c.result);
  if (c.result == UPD_OK) {
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + count), c.bytes);
  }
  EXPECT_EQ(rig.FarReceived(), c.keys);
  std::vector<std::string> errors;
  for (const auto& box : Boxes()) {
    EXPECT_EQ(box.first, BoxKind::kError);
    errors.push_back(box.second);
  }
  EXPECT_EQ(errors, c.errors);
}

const char kFirstGenKeys[] = "7FFC0\r10000\r";

INSTANTIATE_TEST_SUITE_P(
    Cases, SpecialBlockTest,
    ::testing::Values(
        DumpCase{"FirstGeneration", ScannerFamily::kQZ600, 20304,
                 DumpScript('7', DumpText(0xFFC0, Counting(64), "00010000")), 100, UPD_OK,
                 Counting(64), kFirstGenKeys, {}},
        // Loaders before 1.1.1 have the dump under "4".
        DumpCase{"LoaderBefore111", ScannerFamily::kQZ600, 10100,
                 DumpScript('4', DumpText(0xFFC0, Counting(64), "00010000")), 100, UPD_OK,
                 Counting(64), "4FFC0\r10000\r", {}},
        DumpCase{"Loader111", ScannerFamily::kQZ500, 10101,
                 DumpScript('7', DumpText(0xFFC0, Counting(64), "00010000")), 100, UPD_OK,
                 Counting(64), kFirstGenKeys, {}},
        DumpCase{"Mv2", ScannerFamily::kMV2, 30100, DumpScript('7', DumpText(0x1FFC0, Counting(64, 9), "00020000")),
                 100, UPD_OK, Counting(64, 9), "71FFC0\r20000\r", {}},
        DumpCase{"LimitCutsTheBlock", ScannerFamily::kQZ600, 20304,
                 DumpScript('7', DumpText(0xFFC0, Counting(64), "00010000")), 4, UPD_OK,
                 Counting(4), kFirstGenKeys, {}},
        // The markers are lower case: an upper-case echo is not the dump.
        DumpCase{"UpperCaseEchoIsNoMarker", ScannerFamily::kQZ600, 20304,
                 DumpScript('7', "10000\r\nFFC0 aa bb\r\n0000ffc0 05 06 \r\nend 00010000\r\n"),
                 100, UPD_OK, {5, 6}, kFirstGenKeys, {}},
        DumpCase{"FirstPieceNotAByte", ScannerFamily::kQZ600, 20304,
                 DumpScript('7', "\r\n0000ffc0 012 02 03 \r\nend 00010000\r\n"), 100, UPD_BAD_DUMP,
                 {}, kFirstGenKeys, {}},
        DumpCase{"NothingBetweenTheAddresses", ScannerFamily::kQZ600, 20304,
                 DumpScript('7', "\r\n0000ffc000010000\r\n"), 100, UPD_BAD_DUMP, {}, kFirstGenKeys,
                 {}},
        // A line end standing alone between blanks is no byte: read as 0 it
        // would put a false byte into the scanner's own data.
        DumpCase{"StrayLineEndIsNoByte", ScannerFamily::kQZ600, 20304,
                 DumpScript('7', "\r\n0000ffc0 01 \r\n 02 \r\nend 00010000\r\n"), 100, UPD_OK,
                 {1, 2}, kFirstGenKeys, {}},
        DumpCase{"NoDumpPrompt", ScannerFamily::kQZ600, 20304, {}, 100, UPD_TIMEOUT, {}, "7",
                 {"GetSpecialBlock: No response Dump"}},
        DumpCase{"NoEndAddressPrompt", ScannerFamily::kQZ600, 20304, DumpScript('7', "", 1), 100, UPD_TIMEOUT, {},
                 "7FFC0\r", {"GetSpecialBlock: No response End Address"}},
        DumpCase{"NoDumpText", ScannerFamily::kQZ600, 20304, DumpScript('7', "", 2), 100, UPD_TIMEOUT, {},
                 kFirstGenKeys,
                 {"GetSpecialBlock: No response Memory Data",
                  "Dump Memory. addr1: ffc0  addr2: 00010000 "}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- engine results the sequence only passes on ----

const char kDumpOf48[] = "\r\n0000ffc0 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \r\n"
                         "0000ffd0 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f \r\n"
                         "0000ffe0 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f \r\n"
                         "end 00010000\r\n> ";

struct ResultCase {
  const char* name;
  ScannerFamily family;
  UpdateStatus (*engine)(PortSession&, RunReporter&, const RunSettings&);
  // Sets the engine's file; returns the path of a raw file it streams, or "".
  std::function<std::string(CProgrammerDlg&, const updtest::FirmwareKit&)> configure;
  std::deque<ScriptedLoader::Step> script;
  std::string keys;  // typed before anything streamed
  UpdateStatus result;
  std::vector<std::string> errors;
  std::string status;  // the status text at the end ("" for any)
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

class EngineResultTest : public EngineDialogueTest,
                         public ::testing::WithParamInterface<ResultCase> {};

TEST_P(EngineResultTest, ReturnsItsOwnCode) {
  const ResultCase& c = GetParam();
  linktest::ScopedTimeScale fast(0.1);  // for the cases where the loader says nothing
  updtest::FirmwareKit kit;
  const std::string streamed = c.configure(rig.mainDlg, kit);
  ScriptedLoader loader(rig.line, c.script);

  EXPECT_EQ(c.engine(panel->m_session, *panel, RunFor(c.family)), c.result);
  std::string expected = c.keys;
  if (!streamed.empty()) expected += updtest::FirmwareDir::Read(streamed) + "\xFF";
  EXPECT_EQ(rig.FarReceived(), expected);
  std::vector<std::string> errors;
  for (const auto& box : Boxes()) {
    if (box.first == BoxKind::kError) errors.push_back(box.second);
  }
  EXPECT_EQ(errors, c.errors);
  if (!c.status.empty()) {
    EXPECT_EQ(panel->m_strStatus.Get(), c.status);
  }
}

std::vector<ResultCase> ResultCases() {
  using Dlg = CProgrammerDlg;
  using Kit = updtest::FirmwareKit;
  const std::deque<ScriptedLoader::Step> declined = {{'1', kQuestion}, {'n', kAborted}};
  return {
      // A declined single-pass RCP download stops the run; a declined block
      // download lets it go on.
      {"RcpDeclinedInOnePass", ScannerFamily::kQZ600, UpdateRCP,
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileQZ6.Set(k.Rcp("QZ6 app"));
         return std::string();
       },
       declined, "1n", UPD_RCP_STORE_NOT_EMPTY, {}, "RCP file read complete."},
      {"RcpDeclinedInBlocks", ScannerFamily::kQZ500, UpdateRCP,
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileQZ6.Set(k.Rcp("QZ500 app"));
         return std::string();
       },
       declined, "1n", UPD_OK, {}, "RCP file read complete."},
      {"VtcDeclined", ScannerFamily::kMV2, UpdateVTC,
       [](Dlg& d, const Kit& k) {
         d.m_strVtcFileMV2.Set(k.Vtc());
         return std::string();
       },
       declined, "1n", UPD_OK, {}, "VTC file read complete."},
      {"DspRamError", ScannerFamily::kQZ600, UpdateDSP,
       [](Dlg& d, const Kit& k) {
         d.m_strDspFileQZ6.Set(k.Raw("code.dsp"));
         return std::string();
       },
       {{'9', "\r\nProgramming DSP Flash\r\nErase the DSP flash first (y/n)? "}, {'y', "\r\nDSP RAM Error\r\n> "}},
       "9y", UPD_DSP_RAM_ERROR, {}, ""},
      {"DspReadyWithoutReceive", ScannerFamily::kQZ600, UpdateDSP,
       [](Dlg& d, const Kit& k) {
         d.m_strDspFileQZ6.Set(k.Raw("code.dsp"));
         return std::string();
       },
       {{'9', "\r\nProgramming DSP Flash\r\nErase the DSP flash first (y/n)? "}, {'y', "\r\nDSP flash Ready...\r\n"}},
       "9y", UPD_TIMEOUT, {"No response"}, ""},
      {"ShortSpecialBlockThreeTimes", ScannerFamily::kQZ600, UpdateLDR,
       [](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         return std::string();
       },
       [] {
         std::deque<ScriptedLoader::Step> script;
         for (int i = 0; i < 3; ++i) {
           for (const auto& step : DumpScript('7', kDumpOf48)) script.push_back(step);
         }
         return script;
       }(),
       std::string(kFirstGenKeys) + kFirstGenKeys + kFirstGenKeys, UPD_SHORT_BLOCK,
       {"Link or Receive error"}, ""},
      // The CPLD engine waits for nothing after its end byte: the scanner
      // restarts by itself.
      {"CpldDone", ScannerFamily::kQZ600, UpdateCPLD,
       [](Dlg& d, const Kit& k) {
         const std::string path = k.Raw("logic.pld", 500);
         d.m_strCpldFileQZ6.Set(path);
         return path;
       },
       {{'3', "\r\nCPLD update menu\r\n1  Execute\r\n"}, {'1', "\r\nExecute: receive the file\r\n"}},
       "31", UPD_OK, {}, "PLD Done"},
      {"CpldMenuWithoutExecute", ScannerFamily::kQZ600, UpdateCPLD,
       [](Dlg& d, const Kit& k) {
         d.m_strCpldFileQZ6.Set(k.Raw("logic.pld", 500));
         return std::string();
       },
       {{'3', "\r\nCPLD update menu\r\n"}}, "3", UPD_TIMEOUT, {"No response"}, ""},
      {"FpgaMenuWithoutAbort", ScannerFamily::kMV2, UpdateFPGA,
       [](Dlg& d, const Kit& k) {
         d.m_strFpgaFileMV2.Set(k.Raw("logic.fpga", 500));
         return std::string();
       },
       {{'3', "\r\nFPGA Update: waiting for the file\r\n"}}, "3", UPD_TIMEOUT, {"No response"}, ""},
      {"UimDone", ScannerFamily::kMV2, UpdateUIM,
       [](Dlg& d, const Kit& k) {
         const std::string path = k.Raw("agent.uim", 500);
         d.m_strUimFileMV2.Set(path);
         return path;
       },
       {{'8', "\r\nUIM Agent Update: send the file (ESC to abort)\r\n"},
        {'\xFF', "\r\nUIM agent stored.\r\n=== Loader menu ===\r\n> "}},
       "8", UPD_OK, {}, "UIM Done"},
  };
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineResultTest, ::testing::ValuesIn(ResultCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineDialogueTest, CpldDoneLeavesTheScannerToRestart) {
  updtest::FirmwareKit kit;
  rig.mainDlg.m_strCpldFileQZ6.Set(kit.Raw("logic.pld", 500));
  ScriptedLoader loader(rig.line, {{'3', "\r\nCPLD update menu\r\n1  Execute\r\n"},
                                   {'1', "\r\nExecute: receive the file\r\n"}});
  ASSERT_EQ(UpdateCPLD(panel->m_session, *panel, RunFor(ScannerFamily::kQZ600)), UPD_OK);
  EXPECT_EQ(panel->m_session.m_nReconnectPhase.load(), 1);
  EXPECT_EQ(panel->m_progress.GetPos(), 0);
  // Reset stays unavailable and the receiver collects again.
  EXPECT_FALSE(panel->m_bBusy.load());
  EXPECT_TRUE(panel->m_session.m_bRxActive.load());
}

// ---- every engine refuses a link that is down ----

using Engine = UpdateStatus (*)(PortSession&, RunReporter&, const RunSettings&);

struct LinkCase {
  const char* name;
  Engine engine;
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class LinkDownTest : public EngineDialogueTest,
                     public ::testing::WithParamInterface<std::tuple<LinkCase, bool>> {};

TEST_P(LinkDownTest, SendsNothing) {
  const auto& [c, unplugged] = GetParam();
  rig.mainDlg.m_bPreserveSerialNumber = true;
  if (unplugged) {
    rig.line->Unplug();
  } else {
    rig.line->SetDsr(false);
  }
  const size_t before = rig.line->FarReceivedCount();

  EXPECT_EQ(c.engine(panel->m_session, *panel, RunFor(ScannerFamily::kQZ600)), UPD_LINK_DOWN);
  EXPECT_EQ(rig.line->FarReceivedCount(), before);
  const std::vector<std::pair<BoxKind, std::string>> expected = {
      {BoxKind::kError, unplugged ? "The scanner's device is gone (unplugged or switched off)" : "Link down (CTS and DSR)"}};
  // The receiver of a port that went may report its failed read besides.
  std::vector<std::pair<BoxKind, std::string>> boxes;
  for (const auto& box : Boxes()) {
    if (box.first != BoxKind::kApiError) boxes.push_back(box);
  }
  EXPECT_EQ(boxes, expected);
  if (!unplugged) {
    EXPECT_EQ(panel->m_session.m_bCts.load(), platform::MS_CTS_ON);
    EXPECT_EQ(panel->m_session.m_bDsr.load(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Engines, LinkDownTest,
    ::testing::Combine(::testing::Values(LinkCase{"RCP", UpdateRCP}, LinkCase{"VTC", UpdateVTC},
                                         LinkCase{"FPGA", UpdateFPGA}, LinkCase{"UIM", UpdateUIM},
                                         LinkCase{"CPLD", UpdateCPLD}, LinkCase{"DSP", UpdateDSP},
                                         LinkCase{"LDR", UpdateLDR}),
                       ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) ? "Unplugged" : "DsrOff");
    });

// ---- keys that cannot be written ----

struct WriteCase {
  const char* name;
  bool abort;
  UpdateStatus result;
  std::vector<std::string> errors;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class KeyWriteTest : public EngineDialogueTest, public ::testing::WithParamInterface<WriteCase> {};

// A port that is gone (or closed by Reset) cannot take the end byte: the
// transfer has not ended at the loader, so it must not count as done, and
// Reset must be available again since no flash is being written.
TEST_P(KeyWriteTest, EndByteOnAPortThatIsGone) {
  const WriteCase& c = GetParam();
  panel->m_session.m_bAbort = c.abort;
  rig.line->Unplug();
  EXPECT_EQ(EngineEndByte(panel->m_session, *panel), c.result);
  EXPECT_TRUE(panel->m_bBusy.load());
  std::vector<std::string> errors;
  for (const auto& box : Boxes()) {
    if (box.first == BoxKind::kError) errors.push_back(box.second);
  }
  EXPECT_EQ(errors, c.errors);
}

TEST_P(KeyWriteTest, MenuKeyOnAPortThatIsGone) {
  const WriteCase& c = GetParam();
  panel->m_session.m_bAbort = c.abort;
  rig.line->Unplug();
  const MenuPrompt prompt{"3", 2000, Expect{.success = {"FPGA Update", "abort"}}};
  EXPECT_EQ(EngineMenuStep(panel->m_session, *panel, prompt, true), c.result);
  std::vector<std::string> errors;
  for (const auto& box : Boxes()) {
    if (box.first == BoxKind::kError) errors.push_back(box.second);
  }
  EXPECT_EQ(errors, c.errors);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyWriteTest,
    ::testing::Values(WriteCase{"ScannerGone", false, UPD_LINK_DOWN, {"The scanner's device is gone (unplugged or switched off)"}},
                      WriteCase{"PortReset", true, UPD_ABORTED, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
