#include "ports/port_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/app_usb_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> Names(const CPortList::RecordList& list) {
  std::vector<std::string> names;
  for (const auto& record : list) names.push_back(record->szPortName);
  return names;
}

COMM_SPORT Record(const char* name) {
  COMM_SPORT record;
  record.bInUse = 1;
  record.bUsb = 1;
  std::snprintf(record.szPortName, sizeof record.szPortName, "%s", name);
  return record;
}

class PortListTest : public apptest::SimMachineFixture {};

TEST_F(PortListTest, FindsOnlyDriverPortsThatOpenNow) {
  PlugUsbScanner("ZEV0");
  std::string com7Value = DeviceMap().PlugScanner("COM7");  // listed ...
  AddSerialPort("COM7");                                     // ... and opens
  DeviceMap().PlugScanner("ZEV3");                           // listed, but its port is gone
  AddSerialPort("COM1");
  DeviceMap().AddValue("\\Device\\Serial0", "COM1");         // another driver's port
  DeviceMap().AddValue("\\device\\zevsu9", "ZEV9");          // the driver's name is case-sensitive
  AddSerialPort("ZEV9");
  auto held = PlugUsbScanner("ZEV5");
  int error = 0;
  platform::PortPtr holder = held->OpenNear(error);          // a panel holds it open
  ASSERT_TRUE(holder);

  CPortList list;
  EXPECT_THAT(Names(list.m_current), ElementsAre("ZEV0", "COM7"));
  EXPECT_THAT(Names(list.m_new), ElementsAre("ZEV0", "COM7"));
  EXPECT_THAT(list.m_known, IsEmpty());
  const COMM_SPORT& com7 = *list.m_current.back();
  EXPECT_EQ(com7.bInUse, 1);
  EXPECT_EQ(com7.bUsb, 1);
  EXPECT_EQ(com7.bLog, 0);
  EXPECT_EQ(com7.pPanel, nullptr);
  EXPECT_EQ(std::string(com7.szDeviceName), com7Value);
  // Records are copies, not shared between the lists.
  EXPECT_NE(list.m_current.front().get(), list.m_new.front().get());
  EXPECT_TRUE(boxes.Boxes().empty());
  // The probe left every port free for its panel.
  EXPECT_FALSE(Registry().Find("ZEV0")->IsNearOpen());
}

TEST_F(PortListTest, PortFoundAgainAfterMarkKnownIsNotNewAnyMore) {
  PlugUsbScanner("com7");
  PlugUsbScanner("ZEV1");
  CPortList list;
  ASSERT_THAT(Names(list.m_new), ElementsAre("com7", "ZEV1"));
  list.MarkKnown(Record("COM7"));  // names compare without regard to case
  list.Refresh();
  EXPECT_THAT(Names(list.m_current), ElementsAre("com7", "ZEV1"));
  EXPECT_THAT(Names(list.m_new), ElementsAre("ZEV1"));
  EXPECT_THAT(Names(list.m_known), ElementsAre("COM7"));
  // AddIfNew alone follows the same rule.
  list.AddIfNew(Record("Com7"));
  list.AddIfNew(Record("ZEV2"));
  EXPECT_THAT(Names(list.m_new), ElementsAre("ZEV1", "ZEV2"));
}

TEST_F(PortListTest, RefreshForgetsPortsThatVanished) {
  auto zev0 = PlugUsbScanner("ZEV0");
  PlugUsbScanner("ZEV1");
  CPortList list;
  ASSERT_EQ(list.m_current.size(), 2u);
  zev0->Unplug();
  list.Refresh();
  EXPECT_THAT(Names(list.m_current), ElementsAre("ZEV1"));
  EXPECT_THAT(Names(list.m_new), ElementsAre("ZEV1"));
  zev0->Replug();
  DeviceMap().UnplugScanner("ZEV1");
  list.Refresh();
  EXPECT_THAT(Names(list.m_current), ElementsAre("ZEV0"));
}

TEST_F(PortListTest, IsUsbPortAsksTheLastScan) {
  PlugUsbScanner("COM7");
  AddSerialPort("COM1");
  CPortList list;
  const struct {
    const char* name;
    bool usb;
  } cases[] = {{"COM7", true}, {"com7", true}, {"COM1", false},
               {"COM70", false}, {"", false}, {nullptr, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(list.IsUsbPort(c.name), c.usb) << (c.name ? c.name : "(null)");
  }
}

TEST_F(PortListTest, NullNameDoesNotTakeTheLock) {
  CPortList list;
  std::lock_guard<std::mutex> held(list.m_lock);
  EXPECT_FALSE(list.IsUsbPort(nullptr));
}

struct MapFailureCase {
  const char* name;
  void (*setUp)(platform::sim::SimDeviceMap&);
  std::vector<std::string> boxes;
  std::vector<std::string> found;
};

TEST_F(PortListTest, DeviceMapFailuresAndNonsenseEntries) {
  const MapFailureCase cases[] = {
      {"map cannot be opened",
       [](platform::sim::SimDeviceMap& m) {
         m.PlugScanner("ZEV0");
         m.SetOpenFails(true);
       },
       {"Cannot open DeviceMap registry key. Make sure you have read access to the key."},
       {}},
      {"map has no values", [](platform::sim::SimDeviceMap&) {},
       {"No COM ports found under SerialComm device map registry key."}, {}},
      {"only other drivers' values", [](platform::sim::SimDeviceMap& m) {
         m.AddValue("\\Device\\Serial0", "COM1");
         m.AddValue("", "ZEV0");
       }, {}, {}},
      {"unreadable value is reported and skipped, the scan goes on",
       [](platform::sim::SimDeviceMap& m) {
         m.AddUnreadableValue("\\Device\\ZevSu7");
         m.PlugScanner("ZEV0");
       },
       {"Cannot read the COM port name of \\Device\\ZevSu7."}, {"ZEV0"}},
      {"data of 100 characters does not fit the 100-byte buffer",
       [](platform::sim::SimDeviceMap& m) {
         m.AddValue("\\Device\\ZevSu8", std::string(100, 'Z'));
         m.PlugScanner("ZEV0");
       },
       {"Cannot read the COM port name of \\Device\\ZevSu8."}, {"ZEV0"}},
      {"port names longer than the record's field are passed over",
       [](platform::sim::SimDeviceMap& m) {
         m.AddValue("\\Device\\ZevSu8", std::string(99, 'Z'));
         m.AddValue("\\Device\\ZevSu9", "ZEV12345");
         m.PlugScanner("ZEV0");
       },
       {}, {"ZEV0"}},
      {"value names beyond the name buffer cannot be enumerated",
       [](platform::sim::SimDeviceMap& m) {
         m.AddValue("\\Device\\ZevSu" + std::string(platform::kMaxDeviceMapNameChars, 'n'),
                    "ZEV0");
       },
       {}, {}},
      {"empty port name does not open", [](platform::sim::SimDeviceMap& m) {
         m.AddValue("\\Device\\ZevSu1", "");
       }, {}, {}},
  };
  AddSerialPort("ZEV0");
  AddSerialPort("COM1");
  AddSerialPort("ZEV12345");
  for (const MapFailureCase& c : cases) {
    DeviceMap().Clear();
    boxes.Clear();
    c.setUp(DeviceMap());
    CPortList list;
    EXPECT_EQ(boxes.Texts(), c.boxes) << c.name;
    for (const platform::RecordedBox& box : boxes.Boxes()) {
      EXPECT_EQ(box.kind, platform::BoxKind::kPlainError) << c.name;
      EXPECT_EQ(box.caption, "Error") << c.name;
    }
    EXPECT_EQ(Names(list.m_current), c.found) << c.name;
    EXPECT_EQ(Names(list.m_new), c.found) << c.name;
  }
}

TEST_F(PortListTest, OverlongDeviceNameIsCutToItsField) {
  std::string name = "\\Device\\ZevSu" + std::string(300, 'x');
  DeviceMap().AddValue(name, "ZEV4");
  AddSerialPort("ZEV4");
  CPortList list;
  ASSERT_EQ(list.m_current.size(), 1u);
  EXPECT_EQ(std::string(list.m_current.front()->szDeviceName), name.substr(0, 259));
  EXPECT_EQ(std::string(list.m_current.front()->szPortName), "ZEV4");
}

TEST_F(PortListTest, PersistentFailureIsReportedAtEveryScan) {
  DeviceMap().SetOpenFails(true);
  CPortList list;
  list.Refresh();
  list.Refresh();
  EXPECT_EQ(boxes.Boxes().size(), 3u);
}

// A port list whose n-th allocation from now on fails (n from 1; 0: none).
class StarvedPortList : public CPortList {
 public:
  void FailAllocation(int n) {
    failAt_ = n;
    calls_ = 0;
  }

 protected:
  std::unique_ptr<COMM_SPORT> NewRecord() override {
    if (++calls_ == failAt_) return nullptr;
    return CPortList::NewRecord();
  }

 private:
  int failAt_ = 0;
  int calls_ = 0;
};

TEST_F(PortListTest, OutOfMemoryStopsOrSkipsAsEachListRequires) {
  PlugUsbScanner("ZEV0");
  PlugUsbScanner("ZEV1");
  PlugUsbScanner("ZEV2");
  const struct {
    const char* name;
    int failAt;  // each port takes its record, then its copy in m_new
    std::vector<std::string> box;
    std::vector<std::string> current;
    std::vector<std::string> fresh;
  } cases[] = {
      {"record of the second port stops the scan", 3, {"Insufficient memory for COMM_SPORT"},
       {"ZEV0"}, {"ZEV0"}},
      {"copy of the second port only keeps it from being offered", 4,
       {"No memory for new USB COM port"}, {"ZEV0", "ZEV1", "ZEV2"}, {"ZEV0", "ZEV2"}},
      {"first record", 1, {"Insufficient memory for COMM_SPORT"}, {}, {}},
  };
  for (const auto& c : cases) {
    StarvedPortList list;
    boxes.Clear();
    list.FailAllocation(c.failAt);
    list.Refresh();
    EXPECT_EQ(boxes.Texts(), c.box) << c.name;
    EXPECT_EQ(Names(list.m_current), c.current) << c.name;
    EXPECT_EQ(Names(list.m_new), c.fresh) << c.name;
  }
  StarvedPortList list;
  boxes.Clear();
  list.FailAllocation(1);
  list.MarkKnown(Record("ZEV0"));
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Now memory for new USB COM port"});
  EXPECT_THAT(list.m_known, IsEmpty());
  // Not remembered, so the next scan offers it again.
  list.Refresh();
  EXPECT_THAT(Names(list.m_new), ElementsAre("ZEV0", "ZEV1", "ZEV2"));
  boxes.Clear();
  list.FailAllocation(1);
  list.AddIfNew(Record("ZEV5"));
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"No memory for new USB COM port"});
}

// A box keeps the window thread's message loop running; the scan must not
// hold its lock while one is open, or a timer tick inside the loop that asks
// the list again would wait for itself.
class LockProbe : public platform::MessageSink {
 public:
  explicit LockProbe(CPortList* list) : list_(list) {}
  void Show(platform::BoxKind, const std::string&, const std::string& text) override {
    bool free = list_->m_lock.try_lock();
    if (free) list_->m_lock.unlock();
    shown.push_back({text, free});
  }
  void Beep(uint32_t) override {}
  std::vector<std::pair<std::string, bool>> shown;

 private:
  CPortList* list_;
};

TEST_F(PortListTest, BoxesAreShownWithTheLockReleased) {
  PlugUsbScanner("ZEV0");
  CPortList list;
  DeviceMap().AddUnreadableValue("\\Device\\ZevSu7");
  LockProbe probe(&list);
  platform::MessageSink* previous = platform::CurrentMessageSink();
  platform::InstallMessageSink(&probe);
  list.Refresh();
  DeviceMap().SetOpenFails(true);
  list.Refresh();
  platform::InstallMessageSink(previous);
  ASSERT_EQ(probe.shown.size(), 2u);
  EXPECT_TRUE(probe.shown[0].second);
  EXPECT_TRUE(probe.shown[1].second);
}

}  // namespace
