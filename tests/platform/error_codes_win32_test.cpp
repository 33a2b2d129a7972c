// The Windows backend's reading of error codes: which failures of an open
// port mean its device has vanished, and which text describes a code (the
// system's for Win32 codes, the C library's for errno values).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "platform/message_box.h"
#include "platform/record_file.h"
#include "platform/serial_port.h"
#include "platform/win32/device_gone.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// ---- device gone ----

TEST(Win32DeviceGoneTest, CodesAreClassifiedAsTheDriversMeanThem) {
  const struct {
    DWORD code;
    bool closedByReset;
    bool gone;
  } cases[] = {
      // What the USB serial drivers and the system answer once the device left.
      {ERROR_DEVICE_NOT_CONNECTED, false, true},
      {ERROR_DEVICE_REMOVED, false, true},
      {ERROR_BAD_COMMAND, false, true},
      {ERROR_ACCESS_DENIED, false, true},
      {ERROR_GEN_FAILURE, false, true},
      {ERROR_OPERATION_ABORTED, false, true},
      // wine's comm layer on a line that hung up: writes, then reads.
      {ERROR_NOT_READY, false, true},
      {ERROR_BROKEN_PIPE, false, true},
      // The program closed the port itself: its own cancel, not the device.
      {ERROR_OPERATION_ABORTED, true, false},
      {ERROR_DEVICE_NOT_CONNECTED, true, true},
      // A quiet line, a call under way, a port without modem lines, settings
      // refused: the device is there.
      {ERROR_SUCCESS, false, false},
      {ERROR_TIMEOUT, false, false},
      {ERROR_IO_PENDING, false, false},
      {ERROR_NOT_SUPPORTED, false, false},
      {ERROR_INVALID_FUNCTION, false, false},
      {ERROR_INVALID_PARAMETER, false, false},
      {ERROR_INVALID_HANDLE, false, false},
      {ERROR_FILE_NOT_FOUND, false, false},
      {ERROR_NOT_ENOUGH_MEMORY, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(win32::IsDeviceGoneCode(c.code, c.closedByReset), c.gone)
        << c.code << (c.closedByReset ? " after Reset" : "");
  }
}

TEST(Win32DeviceGoneTest, EveryCodeOfTheTableIsNamedOnceAndSaysWhy) {
  int count = 0;
  const win32::DeviceGoneCode* codes = win32::DeviceGoneCodes(count);
  ASSERT_GT(count, 0);
  std::set<uint32_t> seen;
  for (int i = 0; i < count; ++i) {
    EXPECT_TRUE(seen.insert(codes[i].code).second) << codes[i].name;
    EXPECT_GT(std::strlen(codes[i].name), 0u);
    EXPECT_GT(std::strlen(codes[i].why), 0u) << codes[i].name;
    EXPECT_TRUE(win32::IsDeviceGoneCode(codes[i].code, false)) << codes[i].name;
  }
}

// ---- error texts ----

// Win32 codes and errno values number different things: 5 is "access denied"
// to the system and EIO to the C library. Each text comes from its own source.
TEST(Win32ErrorTextTest, SystemCodesAndErrnoValuesHaveTheirOwnTexts) {
  for (int code : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED}) {
    EXPECT_NE(SystemErrorText(code), CErrorText(code)) << code;
  }
  for (int err : {ENOENT, EACCES, EIO, ENAMETOOLONG}) {
    EXPECT_EQ(CErrorText(err), std::strerror(err)) << err;
  }
}

// The reason the result record gives for a file it cannot open is the
// system's text for the system's code.
TEST(Win32ErrorTextTest, ARecordFileInAMissingFolderSaysThePathIsNotFound) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "vantorel-no-such-folder" / "deeper";
  std::string reason;
  EXPECT_FALSE(AppendToRecordFile((folder / "results.csv").string(), "head\r\n", "line\r\n", reason));
  EXPECT_EQ(reason, SystemErrorText(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace platform
