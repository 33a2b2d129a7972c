#include "ports/port_list.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "platform/device_map.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"

namespace {

// The USB driver names its device objects so; values of other drivers are not ours.
constexpr const char* kDriverDeviceName = "\\Device\\ZevSu";
// The port name is read into a buffer of this many bytes, terminator included.
constexpr size_t kPortNameBufferBytes = 100;

// Copies text into a fixed field, cut to fit, always terminated.
template <size_t N>
void CopyField(char (&field)[N], const std::string& text) {
  size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace

bool SamePortName(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) !=
        std::tolower(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}

CPortList::CPortList() { Refresh(); }

CPortList::~CPortList() {
  m_current.clear();
  m_known.clear();
  m_new.clear();
}

std::unique_ptr<COMM_SPORT> CPortList::NewRecord() {
  return std::unique_ptr<COMM_SPORT>(new (std::nothrow) COMM_SPORT{});
}

bool CPortList::AppendCopy(RecordList& list, const COMM_SPORT& record) {
  std::unique_ptr<COMM_SPORT> copy = NewRecord();
  if (!copy) return false;
  *copy = record;
  try {
    list.push_back(std::move(copy));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void CPortList::Refresh() {
  std::list<std::string> errors;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
      Scan(errors);
    } catch (const std::bad_alloc&) {
      errors.push_back("Insufficient memory for COMM_SPORT");
    }
  }
  // The boxes wait until the lists are consistent and the lock is free: a
  // box keeps the window thread's message loop running, and a timer tick in
  // that loop may scan again.
  for (const std::string& text : errors) ShowPlainError(text);
}

void CPortList::Scan(std::list<std::string>& errors) {
  m_current.clear();
  m_new.clear();

  std::unique_ptr<platform::DeviceMapKey> key = platform::CurrentDeviceMap().Open();
  if (!key) {
    errors.push_back(
        "Cannot open DeviceMap registry key. Make sure you have read access to the key.");
    return;
  }
  uint32_t count = key->ValueCount();
  if (count == 0) {
    errors.push_back("No COM ports found under SerialComm device map registry key.");
    return;
  }

  for (uint32_t index = 0; index < count; ++index) {
    std::string valueName;
    if (!key->EnumValueName(index, valueName)) continue;
    if (valueName.find(kDriverDeviceName) == std::string::npos) continue;

    char data[kPortNameBufferBytes] = {};
    if (!key->QueryValue(valueName, data, sizeof data)) {
      errors.push_back("Cannot read the COM port name of " + valueName + ".");
      continue;
    }
    std::string portName(data, strnlen(data, sizeof data));
    // A name longer than the record's field cannot be any port a panel
    // holds (panel names are "\\.\" and at most 7 characters); cutting it
    // would name another port, so the value is passed over.
    if (portName.size() >= sizeof(COMM_SPORT{}.szPortName)) continue;

    // A port that does not open is gone, or held by another program or by
    // its own panel: it is not offered.
    int error = 0;
    platform::PortPtr probe = platform::OpenSerialPort("\\\\.\\" + portName, error);
    if (!probe) continue;
    probe->Close();
    probe.reset();

    std::unique_ptr<COMM_SPORT> record = NewRecord();
    if (!record) {
      errors.push_back("Insufficient memory for COMM_SPORT");
      return;
    }
    record->bInUse = 1;
    record->bUsb = 1;
    record->pPanel = nullptr;
    CopyField(record->szPortName, portName);
    // The device name only tells where the port came from; a longer one is cut.
    CopyField(record->szDeviceName, valueName);
    const COMM_SPORT& stored = *record;
    m_current.push_back(std::move(record));
    if (!AddIfNewLocked(stored)) errors.push_back("No memory for new USB COM port");
  }
}

bool CPortList::AddIfNewLocked(const COMM_SPORT& record) {
  for (const auto& known : m_known) {
    if (SamePortName(known->szPortName, record.szPortName)) return true;
  }
  return AppendCopy(m_new, record);
}

void CPortList::AddIfNew(const COMM_SPORT& record) {
  if (!AddIfNewLocked(record)) ShowPlainError("No memory for new USB COM port");
}

void CPortList::MarkKnown(const COMM_SPORT& record) {
  if (!AppendCopy(m_known, record)) ShowPlainError("Now memory for new USB COM port");
}

bool CPortList::IsUsbPort(const char* portName) {
  if (portName == nullptr) return false;
  std::lock_guard<std::mutex> lock(m_lock);
  for (const auto& record : m_current) {
    if (SamePortName(record->szPortName, portName)) return true;
  }
  return false;
}
