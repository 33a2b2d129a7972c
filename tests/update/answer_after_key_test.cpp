// A wait after a key is answered only by what the loader says to that key.
// The loader's earlier message (the menu after a completion text, the rest of
// a chatty answer) may still sit in the ring or be on its way when the next
// key goes: none of it may answer the key. Each case runs with the loader's
// bytes cut into reads of 1, 16 and 64 bytes and whole bursts, and must end
// the same way for every cut.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/comm_dialog.h"
#include "link/receiver.h"
#include "platform/message_box.h"
#include "support/link_fixture.h"
#include "support/update_fixture.h"
#include "support/update_scripted_loader.h"
#include "update/engines.h"

namespace {

using platform::BoxKind;
using updtest::ScriptedLoader;

using Boxes = std::vector<std::pair<BoxKind, std::string>>;

// An answer to "9" that goes on at length and names the next step's words
// before it asks: the wait for "Programming DSP Flash" is satisfied more than
// a window's worth of bytes before its end, however fast the bytes come.
std::string ChattyDspAnswer() {
  std::string text = "\r\nProgramming DSP Flash\r\n";
  for (int line = 0; line < 64; ++line) {
    text += "The DSP flash is erased and written sector by sector; keep the power on.\r\n";
  }
  return text +
         "The loader will be Ready to receive the DSP code once its RAM test has passed.\r\n"
         "Continue (y/n)? ";
}
const char kRamError[] = "\r\nRAM Error\r\nDSP update cancelled\r\n=== Loader menu ===\r\n> ";

// The menu after a completion text, naming the words of the image prompt.
const char kMenuNamingImageWords[] =
    "\r\nWrite flash complete\r\n=== Loader menu ===\r\n"
    "1 - receive an image\r\n2 - send the image store\r\n> ";
const char kStoreQuestion[] =
    "\r\nThe Image Store Area holds data; it will be lost. Proceed (y/n)? ";
const char kDownloadAborted[] = "\r\nDownload aborted\r\n=== Loader menu ===\r\n> ";
const char kImagePrompt[] = "\r\nReady to receive: send the S-records now\r\n";
const char kRcpStoreWarning[] =
    "Data has been detected in the Image Store Area.\r\nYou must delete the data before the rcp "
    "file can be downloaded.";

// A menu that names the FPGA prompt's own words.
const char kMenuNamingFpgaWords[] =
    "\r\n=== Loader menu ===\r\n3 - FPGA Update (any other key to abort)\r\n"
    "7 - Dump memory (addresses as 0x1234abcd)\r\n> ";

struct DialogueCase {
  const char* name;
  std::string tail;  // what the loader said before the step began
  std::deque<ScriptedLoader::Step> script;
  std::function<UpdateStatus(CCommDialog*, const RunSettings&)> step;
  UpdateStatus result;
  std::string keys;  // every byte the loader received
  Boxes boxes;
};

void PrintTo(const DialogueCase& c, std::ostream* os) { *os << c.name; }

std::vector<DialogueCase> Cases() {
  return {
      {"RamErrorAfterChattyDspAnswer",
       "",
       {{'9', ChattyDspAnswer()}, {'y', kRamError}},
       [](CCommDialog* panel, const RunSettings& run) { return UpdateDSP(panel->m_session, *panel, run); },
       UPD_DSP_RAM_ERROR,
       "9y",
       {}},
      {"StoreQuestionAfterMenuNamingImageWords",
       kMenuNamingImageWords,
       {{'1', kStoreQuestion}, {'n', kDownloadAborted}},
       [](CCommDialog* panel, const RunSettings&) {
         return StartRCPDownload(panel->m_session, *panel, true, false);
       },
       UPD_IMAGE_STORE_NOT_EMPTY,
       "1n",
       {{BoxKind::kWarning, kRcpStoreWarning}}},
      {"ImagePromptAfterMenuNamingImageWords",
       kMenuNamingImageWords,
       {{'1', kImagePrompt}},
       [](CCommDialog* panel, const RunSettings&) {
         return StartRCPDownload(panel->m_session, *panel, true, false);
       },
       UPD_OK,
       "1",
       {}},
      {"SilentLoaderAfterChattyMenu",
       kMenuNamingFpgaWords,
       {},
       [](CCommDialog* panel, const RunSettings& run) { return UpdateFPGA(panel->m_session, *panel, run); },
       UPD_TIMEOUT,
       "3",
       {{BoxKind::kError, "No response"}}},
      {"SilentDumpAfterChattyMenu",
       kMenuNamingFpgaWords,
       {},
       [](CCommDialog* panel, const RunSettings& run) {
         uint8_t bytes[100] = {};
         unsigned count = 0;
         return GetSpecialBlock(panel->m_session, *panel, run, bytes, sizeof bytes, &count);
       },
       UPD_TIMEOUT,
       "7",
       {{BoxKind::kError, "GetSpecialBlock: No response Dump"}}},
  };
}

class AnswerAfterKeyTest
    : public ::testing::TestWithParam<std::tuple<DialogueCase, size_t>> {
 protected:
  void SetUp() override {
    SetReceiveBlockBytes(std::get<1>(GetParam()));
    panel = &rig.CreatePanel();
    rig.line->SetPower(true);
    rig.StartReceiverOnly();
    panel->m_bBusy = true;
    panel->ShowIdentity(
        ScannerIdentity{.identified = true, .family = ScannerFamily::kQZ600, .loaderVersion = 20304});
  }
  void TearDown() override {
    rig.DestroyPanel();
    SetReceiveBlockBytes(16);
  }

  Boxes BoxesShown() const {
    Boxes boxes;
    for (const auto& box : rig.boxes.Boxes()) boxes.emplace_back(box.kind, box.text);
    return boxes;
  }

  linktest::LinkRig rig;
  CCommDialog* panel = nullptr;
};

TEST_P(AnswerAfterKeyTest, OnlyTheAnswerToTheKeyCounts) {
  const DialogueCase& c = std::get<0>(GetParam());
  linktest::ScopedTimeScale fast(0.1);  // for the loaders that say nothing
  RunSettings run = rig.mainDlg.TakeRunSettings(ScannerFamily::kQZ600, 0);
  run.loaderVersion = panel->Identity().loaderVersion;
  // The earlier message is on the line before the step begins.
  if (!c.tail.empty()) {
    ASSERT_TRUE(rig.line->FarWrite(c.tail));
  }
  ScriptedLoader loader(rig.line, c.script);

  EXPECT_EQ(c.step(panel, run), c.result);
  EXPECT_EQ(rig.FarReceived(), c.keys);
  EXPECT_EQ(BoxesShown(), c.boxes);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, AnswerAfterKeyTest,
    ::testing::Combine(::testing::ValuesIn(Cases()), ::testing::Values(1, 16, 64, 4096)),
    [](const auto& info) {
      const size_t cut = std::get<1>(info.param);
      return std::string(std::get<0>(info.param).name) + "_" +
             (cut == 4096 ? std::string("WholeBursts") : "Reads" + std::to_string(cut));
    });

}  // namespace
