#include "platform/serial_port.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

class PortMapTest : public ::testing::Test {
 protected:
  void TearDown() override { SetPortMap(nullptr); }
};

TEST_F(PortMapTest, NamesLeadToDevices) {
  SetPortMap([](const std::string& name) -> std::string {
    if (name == "COM1") return "/dev/ttyUSB0";
    if (name == "ZEV0") return "/dev/serial/by-id/usb-zev-0";
    return "";
  });
  struct {
    const char* name;
    const char* path;
  } cases[] = {
      {"COM1", "/dev/ttyUSB0"},                          // mapped
      {"\\\\.\\COM1", "/dev/ttyUSB0"},                   // device prefix dropped
      {"ZEV0", "/dev/serial/by-id/usb-zev-0"},
      {"\\\\.\\ZEV0", "/dev/serial/by-id/usb-zev-0"},
      {"COM2", "/dev/ttyS1"},                            // unmapped COMn
      {"COM20", "/dev/ttyS19"},
      {"\\\\.\\COM7", "/dev/ttyS6"},
      {"com3", "/dev/ttyS2"},
      {"/dev/pts/4", "/dev/pts/4"},                      // a path leads to itself
      {"ZEV3", ""},                                      // unmapped, not a COM port
      {"COM0", ""},
      {"COM", ""},
      {"COM3x", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DevicePathFor(c.name), c.path) << c.name;
}

TEST_F(PortMapTest, WithoutAMapOnlyComPortsAndPathsLeadAnywhere) {
  EXPECT_EQ(DevicePathFor("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DevicePathFor("ZEV0"), "");
}

TEST(PortOpenerTest, InstalledOpenerServesEveryNameUntilRemoved) {
  std::string asked;
  InstallPortOpener([&](const std::string& name, int& error) -> PortPtr {
    asked = name;
    error = kErrorAccessDenied;
    return nullptr;
  });
  int error = 0;
  EXPECT_FALSE(OpenSerialPort("\\\\.\\COM7", error));
  EXPECT_EQ(asked, "\\\\.\\COM7");  // the opener sees the program's name
  EXPECT_EQ(error, kErrorAccessDenied);

  // An opener that fails without saying why still reports a failure.
  InstallPortOpener([](const std::string&, int&) -> PortPtr { return nullptr; });
  EXPECT_FALSE(OpenSerialPort("COM1", error));
  EXPECT_EQ(error, kErrorFileNotFound);

  InstallPortOpener(nullptr);
  asked.clear();
  EXPECT_FALSE(OpenSerialPort("ZEV9", error));  // unmapped: the system has no such port
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_EQ(asked, "");
}

}  // namespace
}  // namespace platform
