// The Windows backend against the system itself (or wine): opening ports,
// the system's error texts, the registry device map, and a pair of serial
// ports joined back to back.
//
// The pair is named by VT_TEST_COM_PAIR ("COM8,COM9"); tools/windows-build
// makes one under wine from two pseudo-terminals joined by socat. Without it
// the tests that need the pair skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/device_map.h"
#include "platform/event.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"
#include "platform/win32/windows_api.h"
#include "support/line_settings.h"

namespace platform {
namespace {

constexpr auto kLongWait = std::chrono::seconds(10);  // only reached when something is broken

// ---- opening ----

TEST(Win32PortOpenTest, NamesThatLeadToNoSerialPortAreRefused) {
  const struct {
    const char* name;
    int error;  // 0: any error will do
  } cases[] = {
      {"COM250", kErrorFileNotFound},
      {"\\\\.\\COM250", kErrorFileNotFound},
      {"ZEV250", kErrorFileNotFound},
      {"", kErrorFileNotFound},
      {"NUL", 0},  // opens, but has no line settings
  };
  for (const auto& c : cases) {
    int error = 0;
    PortPtr port = OpenNativeSerialPort(c.name, error);
    EXPECT_EQ(port, nullptr) << c.name;
    if (c.error != 0) {
      EXPECT_EQ(error, c.error) << c.name;
    } else {
      EXPECT_NE(error, 0) << c.name;
    }
  }
}

// ---- system error texts ----

TEST(Win32SystemErrorTest, TextsAreTheSystemsWithoutTheirLineBreak) {
  for (int code : {kErrorFileNotFound, kErrorAccessDenied, kErrorInvalidHandle, kErrorGenFailure,
                   kErrorInvalidParameter, kErrorOperationAborted, kErrorDeviceNotConnected}) {
    char* raw = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&raw), 0, nullptr);
    ASSERT_GT(length, 0u) << code;
    std::string system(raw, length);
    ::LocalFree(raw);
    const std::string text = SystemErrorText(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_EQ(system.rfind(text, 0), 0u) << code << ": " << text;
    EXPECT_EQ(text.find_last_of("\r\n"), std::string::npos) << code;
    EXPECT_NE(text.back(), ' ') << code;
  }
}

TEST(Win32SystemErrorTest, CodeWithoutTextIsNamedByNumber) {
  EXPECT_EQ(SystemErrorText(0x2000FFFF), "Unknown error 536936447");
}

// ---- the registry device map ----

// Values written into the system's device map for one test and removed
// afterwards. The key is volatile and writable only with administrator
// rights; without them the tests skip.
class Win32DeviceMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "hardware\\devicemap\\serialcomm", 0, nullptr,
                          REG_OPTION_VOLATILE, KEY_READ | KEY_SET_VALUE, nullptr, &key_,
                          nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      GTEST_SKIP() << "the serial device map cannot be written here";
    }
  }
  void TearDown() override {
    if (key_ == nullptr) return;
    for (const std::string& name : written_) ::RegDeleteValueA(key_, name.c_str());
    ::RegCloseKey(key_);
  }

  // Stores data (exactly these bytes) under name with the given type.
  bool Put(const std::string& name, DWORD type, const std::string& data) {
    if (::RegSetValueExA(key_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size())) != ERROR_SUCCESS) {
      return false;
    }
    written_.push_back(name);
    return true;
  }

  HKEY key_ = nullptr;
  std::vector<std::string> written_;
};

TEST_F(Win32DeviceMapTest, ValuesAreListedAndReadAsZeroEndedText) {
  const std::string longName = "\\Device\\ZevSuLong";
  const std::string longData(150, 'Z');
  ASSERT_TRUE(Put("\\Device\\ZevSu97", REG_SZ, std::string("ZEV97", 6)));  // with its zero
  ASSERT_TRUE(Put("\\Device\\ZevSu98", REG_SZ, "COM98"));                  // stored without
  ASSERT_TRUE(Put("\\Device\\ZevSu99", REG_DWORD, std::string(4, '\x01')));
  ASSERT_TRUE(Put(longName, REG_SZ, longData));

  std::unique_ptr<DeviceMapKey> map = NativeDeviceMap().Open();
  ASSERT_NE(map, nullptr);
  std::vector<std::string> names;
  for (uint32_t i = 0; i < map->ValueCount(); ++i) {
    std::string name;
    if (map->EnumValueName(i, name)) names.push_back(name);
  }
  for (const std::string& written : written_) {
    EXPECT_NE(std::find(names.begin(), names.end(), written), names.end()) << written;
  }

  const struct {
    const char* name;
    size_t capacity;
    bool readable;
    const char* text;
  } cases[] = {
      {"\\Device\\ZevSu97", 100, true, "ZEV97"},
      {"\\Device\\ZevSu98", 100, true, "COM98"},
      {"\\Device\\ZevSu98", 6, true, "COM98"},   // text and zero fill the buffer exactly
      {"\\Device\\ZevSu98", 5, false, nullptr},  // no room for the zero
      {"\\Device\\ZevSu99", 100, false, nullptr},  // not text
      {"\\Device\\ZevSu96", 100, false, nullptr},  // not there
      {"\\Device\\ZevSuLong", 100, false, nullptr},
  };
  for (const auto& c : cases) {
    std::vector<char> buffer(c.capacity + 1, '#');
    const bool readable = map->QueryValue(c.name, buffer.data(), c.capacity);
    EXPECT_EQ(readable, c.readable) << c.name << " in " << c.capacity;
    if (c.readable) {
      EXPECT_EQ(std::string(buffer.data()), c.text) << c.name << " in " << c.capacity;
    }
    EXPECT_EQ(buffer[c.capacity], '#') << "written past the buffer: " << c.name;
  }
  std::vector<char> fits(longData.size() + 1);
  EXPECT_TRUE(map->QueryValue(longName, fits.data(), fits.size()));
  EXPECT_EQ(std::string(fits.data()), longData);
}

TEST_F(Win32DeviceMapTest, ConfigurationFilePortsAreNotConsulted) {
  ASSERT_TRUE(Put("\\Device\\ZevSu95", REG_SZ, "ZEV95"));
  SetDeviceMapPorts({{"ZEV94", "C:\\"}});
  std::unique_ptr<DeviceMapKey> map = NativeDeviceMap().Open();
  ASSERT_NE(map, nullptr);
  bool sawWritten = false;
  for (uint32_t i = 0; i < map->ValueCount(); ++i) {
    std::string name;
    if (!map->EnumValueName(i, name)) continue;
    EXPECT_EQ(name.find("ZevSu94"), std::string::npos);
    sawWritten = sawWritten || name == "\\Device\\ZevSu95";
  }
  EXPECT_TRUE(sawWritten);
  SetDeviceMapPorts({});
}

// ---- a pair of ports joined back to back ----

class Win32PortPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* pair = std::getenv("VT_TEST_COM_PAIR");
    const std::string names = pair ? pair : "";
    const size_t comma = names.find(',');
    if (comma == std::string::npos) {
      GTEST_SKIP() << "no pair of joined serial ports (VT_TEST_COM_PAIR=COMa,COMb)";
    }
    int error = 0;
    near_ = OpenNativeSerialPort(names.substr(0, comma), error);
    ASSERT_NE(near_, nullptr) << names.substr(0, comma) << " error " << error;
    // The far end by its device path, as a USB panel names its port.
    far_ = OpenNativeSerialPort("\\\\.\\" + names.substr(comma + 1), error);
    ASSERT_NE(far_, nullptr) << names.substr(comma + 1) << " error " << error;
    for (const PortPtr& port : {near_, far_}) {
      ASSERT_TRUE(port->SetCommState(testsupport::StationLineSettings()));
      ASSERT_TRUE(port->SetCommTimeouts(CommTimeouts{1, 0, 0, 0, 0}));
    }
    // Whatever an earlier test left on the line.
    Collect(*far_, 1u << 20, 100);
    Collect(*near_, 1u << 20, 100);
  }

  // Reads from port until want bytes arrived or a read of quietMs passes
  // without any.
  static std::string Collect(SerialPort& port, size_t want, uint32_t quietMs) {
    std::string text;
    char buffer[4096];
    while (text.size() < want) {
      size_t got = 0;
      const ReadStatus status = port.Read(buffer, sizeof buffer, got, quietMs);
      if (status != ReadStatus::kData) break;
      text.append(buffer, got);
    }
    return text;
  }

  PortPtr near_;
  PortPtr far_;
};

TEST_F(Win32PortPairTest, LineSettingsAreAppliedAndReadBack) {
  LineSettings saved{};
  ASSERT_TRUE(near_->GetCommState(saved));
  LineSettings other = testsupport::StationLineSettings();
  other.BaudRate = 9600;
  other.fOutxCtsFlow = 0;
  other.fRtsControl = RTS_CONTROL_ENABLE;
  for (const LineSettings& wanted : {testsupport::StationLineSettings(), other}) {
    ASSERT_TRUE(near_->SetCommState(wanted));
    LineSettings back{};
    ASSERT_TRUE(near_->GetCommState(back));
    EXPECT_EQ(back.DCBlength, 28u);
    EXPECT_EQ(back.BaudRate, wanted.BaudRate);
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.Parity, NOPARITY);
    EXPECT_EQ(back.StopBits, ONESTOPBIT);
    EXPECT_EQ(back.fOutxCtsFlow, wanted.fOutxCtsFlow);
    EXPECT_EQ(back.fBinary, 1u);
  }
  EXPECT_TRUE(near_->SetCommState(saved));
}

TEST_F(Win32PortPairTest, BytesCrossInOrderWhateverTheReadSize) {
  std::string sent;
  for (int i = 0; i < 20000; ++i) sent += static_cast<char>('A' + i % 23);
  // The reader runs alongside: the line holds only so much unread.
  auto received = std::async(std::launch::async, [&] { return Collect(*far_, sent.size(), 2000); });
  ASSERT_TRUE(near_->Write(sent.data(), sent.size()));
  ASSERT_EQ(received.wait_for(kLongWait), std::future_status::ready);
  EXPECT_EQ(received.get(), sent);

  // A read takes no more than it has room for; the rest waits for the next.
  ASSERT_TRUE(far_->Write("QZ600 Build", 11));
  std::string pieces;
  for (int reads = 0; reads < 100 && pieces.size() < 11; ++reads) {
    char small[4] = {};
    size_t got = 0;
    const ReadStatus status = near_->Read(small, sizeof small, got, 2000);
    ASSERT_EQ(status, ReadStatus::kData);
    ASSERT_LE(got, sizeof small);
    pieces.append(small, got);
  }
  EXPECT_EQ(pieces, "QZ600 Build");
}

TEST_F(Win32PortPairTest, QuietLineReadsAsTimeOut) {
  char buffer[16];
  for (uint32_t timeoutMs : {0u, 1u, 50u}) {
    size_t got = 99;
    EXPECT_EQ(near_->Read(buffer, sizeof buffer, got, timeoutMs), ReadStatus::kTimeout) << timeoutMs;
    EXPECT_EQ(got, 0u) << timeoutMs;
  }
  size_t got = 99;
  EXPECT_EQ(near_->Read(buffer, 0, got, 50), ReadStatus::kTimeout);
  EXPECT_EQ(got, 0u);
}

TEST_F(Win32PortPairTest, LinesAndLineErrorsCanBeRead) {
  uint32_t status = 0xFFFFFFFFu;
  EXPECT_TRUE(near_->GetCommModemStatus(status));
  EXPECT_EQ(status & ~(MS_CTS_ON | MS_DSR_ON), 0u);
  EXPECT_TRUE(near_->ClearCommError());
}

TEST_F(Win32PortPairTest, CloseEndsAReadThatWaitsForEver) {
  auto read = std::async(std::launch::async, [&] {
    char buffer[64];
    size_t got = 0;
    const ReadStatus status = near_->Read(buffer, sizeof buffer, got, kInfinite);
    return std::make_pair(status, near_->LastError());
  });
  // Whether the read is already waiting or not yet issued, it must end.
  EXPECT_EQ(read.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  near_->Close();
  ASSERT_EQ(read.wait_for(kLongWait), std::future_status::ready);
  const auto [status, error] = read.get();
  EXPECT_EQ(status, ReadStatus::kFailed);
  EXPECT_EQ(error, kErrorOperationAborted);
}

TEST_F(Win32PortPairTest, CloseEndsAWriteThatTheLineHolds) {
  // Far more than the line holds while nobody reads the far end.
  const std::string flood(8u << 20, 'x');
  auto write = std::async(std::launch::async, [&] {
    const bool written = near_->Write(flood.data(), flood.size());
    return std::make_pair(written, near_->LastError());
  });
  ASSERT_EQ(write.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout)
      << "the line took the whole flood";
  near_->Close();
  ASSERT_EQ(write.wait_for(kLongWait), std::future_status::ready);
  const auto [written, error] = write.get();
  EXPECT_FALSE(written);
  EXPECT_EQ(error, kErrorOperationAborted);
}

TEST_F(Win32PortPairTest, EveryCallFailsOnceClosed) {
  near_->Close();
  near_->Close();  // a second close changes nothing
  LineSettings settings{};
  uint32_t status = 0;
  char buffer[8];
  size_t got = 0;
  const struct {
    const char* call;
    bool ok;
  } calls[] = {
      {"GetCommState", near_->GetCommState(settings)},
      {"SetCommState", near_->SetCommState(testsupport::StationLineSettings())},
      {"SetCommTimeouts", near_->SetCommTimeouts(CommTimeouts{1, 0, 0, 0, 0})},
      {"GetCommModemStatus", near_->GetCommModemStatus(status)},
      {"ClearCommError", near_->ClearCommError()},
      {"Write", near_->Write("x", 1)},
      {"Read", near_->Read(buffer, sizeof buffer, got, 10) != ReadStatus::kFailed},
  };
  for (const auto& c : calls) EXPECT_FALSE(c.ok) << c.call;
  EXPECT_EQ(near_->LastError(), kErrorOperationAborted);
}

}  // namespace
}  // namespace platform
