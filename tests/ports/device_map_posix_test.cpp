#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/device_map.h"
#include "platform/serial_port.h"
#include "ports/port_list.h"
#include "support/app_fixture.h"
#include "support/app_usb_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::Pair;

std::map<std::string, std::string> ListValues(platform::DeviceMap& map) {
  std::map<std::string, std::string> values;
  auto key = map.Open();
  EXPECT_TRUE(key);
  if (!key) return values;
  for (uint32_t i = 0; i < key->ValueCount(); ++i) {
    std::string name;
    char data[100];
    if (key->EnumValueName(i, name) && key->QueryValue(name, data, sizeof data)) {
      values[name] = data;
    }
  }
  return values;
}

class NativeDeviceMapTest : public apptest::SimMachineFixture {
 protected:
  void TearDown() override {
    platform::SetDeviceMapPorts({});
    platform::SetPortMap({});
    SimMachineFixture::TearDown();
  }
  apptest::ScratchDir dir;
};

TEST_F(NativeDeviceMapTest, ListsPortsEntriesWhoseDeviceNodeExistsNow) {
  std::string zev0 = dir / "zev0";
  std::string zev12 = dir / "zev12";
  std::string com2 = dir / "com2";
  for (const std::string& node : {zev0, zev12, com2}) apptest::WriteFile(node, "");
  platform::SetDeviceMapPorts({{"ZEV0", zev0},
                               {"ZEV1", dir / "unplugged"},
                               {"zev12", zev12},
                               {"ZEVX", zev0},
                               {"ZEV", zev0},
                               {"COM2", com2}});
  platform::SetPortMap([&](const std::string& name) {
    return name == "COM2" ? com2 : std::string(dir / "no-such-node");
  });
  auto values = ListValues(platform::NativeDeviceMap());
  EXPECT_EQ(values.size(), 3u);
  EXPECT_THAT(values, Contains(Pair("\\Device\\ZevSu0", "ZEV0")));
  EXPECT_THAT(values, Contains(Pair("\\Device\\ZevSu12", "ZEV12")));
  EXPECT_THAT(values, Contains(Pair("\\Device\\Serial1", "COM2")));

  // The node comes and goes with the scanner.
  std::filesystem::remove(zev12);
  values = ListValues(platform::NativeDeviceMap());
  EXPECT_EQ(values.count("\\Device\\ZevSu12"), 0u);
}

TEST_F(NativeDeviceMapTest, PortListFindsTheMappedScannerThatOpens) {
  std::string node = dir / "zev3";
  apptest::WriteFile(node, "");
  platform::SetDeviceMapPorts({{"ZEV3", node}, {"ZEV4", node}});
  AddSerialPort("ZEV3");  // ZEV4 is listed but does not open
  platform::InstallDeviceMap(nullptr);
  CPortList list;
  ASSERT_EQ(list.m_current.size(), 1u);
  EXPECT_STREQ(list.m_current.front()->szPortName, "ZEV3");
  EXPECT_STREQ(list.m_current.front()->szDeviceName, "\\Device\\ZevSu3");
  EXPECT_TRUE(list.IsUsbPort("zev3"));
}

}  // namespace
