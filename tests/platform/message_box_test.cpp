#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/message_recorder.h"
#include "platform/serial_port.h"

namespace platform {
namespace {

struct BoxCase {
  const char* what;
  void (*show)();
  BoxKind kind;
  const char* caption;
  const char* text;
};

const BoxCase kBoxCases[] = {
    {"error", [] { ShowError("COM3", "CreateThread (Recv)"); }, BoxKind::kError, "COM3: Error",
     "CreateThread (Recv)"},
    {"error on a USB panel", [] { ShowError("\\\\.\\COM7", "ReadFile"); }, BoxKind::kError,
     "\\\\.\\COM7: Error", "ReadFile"},
    {"warning", [] { ShowWarning("COM1", "Check file"); }, BoxKind::kWarning, "COM1: Warning",
     "Check file"},
    {"notice", [] { ShowNotice("COM2", "Turn scanner power off"); }, BoxKind::kNotice, "COM2: ",
     "Turn scanner power off"},
    {"plain error", [] { ShowPlainError("No file"); }, BoxKind::kPlainError, "Error", "No file"},
    {"info", [] { ShowInfo("File not found"); }, BoxKind::kInfo, "Vantorel", "File not found"},
    {"error without a name", [] { ShowError(nullptr, "x"); }, BoxKind::kError, ": Error", "x"},
};

TEST(MessageBoxTest, CaptionsAndTexts) {
  for (const BoxCase& c : kBoxCases) {
    ScopedMessageRecorder recorder;
    c.show();
    const auto boxes = recorder.Boxes();
    ASSERT_EQ(boxes.size(), 1u) << c.what;
    EXPECT_EQ(boxes[0].kind, c.kind) << c.what;
    EXPECT_EQ(boxes[0].caption, c.caption) << c.what;
    EXPECT_EQ(boxes[0].text, c.text) << c.what;
  }
}

TEST(MessageBoxTest, ApiErrorCarriesNameTextAndSystemDescription) {
  ScopedMessageRecorder recorder;
  ShowApiError("COM4", "ReadFile in rcvProc", kErrorOperationAborted);
  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, BoxKind::kApiError);
  EXPECT_EQ(boxes[0].caption, "COM4");
  const std::string system = SystemErrorText(kErrorOperationAborted);
  EXPECT_FALSE(system.empty());
  EXPECT_EQ(boxes[0].text, "COM4:ReadFile in rcvProc\nAPI details:" + system);
}

TEST(MessageBoxTest, ApiErrorTextIsCutAt511Characters) {
  const std::string prefix = "COM4:";
  const std::string middle = "\nAPI details:" + SystemErrorText(kErrorGenFailure);
  const size_t fits = 511 - prefix.size() - middle.size();
  struct {
    size_t textLength;
    size_t expected;
  } cases[] = {{fits - 1, 510}, {fits, 511}, {fits + 1, 511}, {2000, 511}};
  for (const auto& c : cases) {
    ScopedMessageRecorder recorder;
    const std::string text(c.textLength, 'a');
    ShowApiError("COM4", text, kErrorGenFailure);
    const auto boxes = recorder.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.size(), c.expected) << c.textLength;
    EXPECT_EQ(boxes[0].text, (prefix + text + middle).substr(0, 511)) << c.textLength;
  }
}

TEST(MessageBoxTest, SystemTextsForTheLinkErrorCodesAreDistinct) {
  const int codes[] = {kErrorFileNotFound,     kErrorAccessDenied, kErrorInvalidHandle,
                       kErrorGenFailure,       kErrorInvalidParameter,
                       kErrorOperationAborted, kErrorIoPending,    kErrorDeviceNotConnected,
                       kErrorNotSerialDevice};
  for (int a : codes) {
    EXPECT_FALSE(SystemErrorText(a).empty()) << a;
    for (int b : codes) {
      if (a != b) {
        EXPECT_NE(SystemErrorText(a), SystemErrorText(b)) << a << " " << b;
      }
    }
  }
}

// What the C library left in errno is described by the C library, on every
// system.
TEST(MessageBoxTest, ErrnoValuesAreDescribedByTheCLibrary) {
  for (int err : {ENOENT, EACCES, EIO, ENAMETOOLONG, ENOSPC}) {
    EXPECT_EQ(CErrorText(err), std::strerror(err)) << err;
  }
}

TEST(MessageBoxTest, APathThatIsNoSerialDeviceIsSaidSo) {
  EXPECT_EQ(SystemErrorText(kErrorNotSerialDevice), "The file is not a serial device");
}

TEST(MessageBoxTest, BoxesWithoutASinkAreDropped) {
  ScopedMessageRecorder recorder;
  InstallMessageSink(nullptr);
  ShowError("COM1", "lost");
  ShowApiError("COM1", "lost", kErrorGenFailure);
  MessageBeep(0);
  InstallMessageSink(&recorder);
  EXPECT_TRUE(recorder.Boxes().empty());
  EXPECT_EQ(recorder.BeepCount(), 0);
}

TEST(MessageBoxTest, ScopedRecorderRestoresThePreviousSink) {
  ScopedMessageRecorder outer;
  {
    ScopedMessageRecorder inner;
    ShowPlainError("inner");
    MessageBeep(0x40);
    EXPECT_EQ(inner.BeepCount(), 1);
    EXPECT_TRUE(inner.Contains("inner"));
  }
  ShowPlainError("outer");
  EXPECT_EQ(outer.Texts(), std::vector<std::string>{"outer"});
  EXPECT_EQ(outer.BeepCount(), 0);
}

TEST(MessageRecorderTest, ContainsAndWaitForMatchWholeTexts) {
  ScopedMessageRecorder recorder;
  ShowError("COM1", "GetCommModemStatus");
  EXPECT_TRUE(recorder.Contains("GetCommModemStatus"));
  EXPECT_FALSE(recorder.Contains("GetComm"));
  EXPECT_FALSE(recorder.WaitFor("GetComm", 0));
  recorder.Clear();
  EXPECT_FALSE(recorder.Contains("GetCommModemStatus"));
}

TEST(MessageRecorderTest, WaitForSeesABoxFromAnotherThread) {
  ScopedMessageRecorder recorder;
  std::thread shower([] { ShowError("COM9", "ClearCommError"); });
  EXPECT_TRUE(recorder.WaitFor("ClearCommError", 10000));
  shower.join();
  ASSERT_EQ(recorder.Boxes().size(), 1u);
  EXPECT_EQ(recorder.Boxes()[0].caption, "COM9: Error");
}

}  // namespace
}  // namespace platform
