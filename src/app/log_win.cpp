#include "app/log_win.h"

#include <cstdio>
#include <new>
#include <vector>

#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "platform/message_box.h"

namespace {

// The log file through the C library: "rb" shares the file with the port's
// writer on every system we build for.
class StdLogFile : public LogFileSource {
 public:
  ~StdLogFile() override { Close(); }
  bool Open(const std::string& path) override {
    file_ = std::fopen(path.c_str(), "rb");
    return file_ != nullptr;
  }
  bool Size(uint64_t& size) override {
    if (std::fseek(file_, 0, SEEK_END) != 0) return false;
    long end = std::ftell(file_);
    if (end < 0) return false;
    size = static_cast<uint64_t>(end);
    return std::fseek(file_, 0, SEEK_SET) == 0;
  }
  bool Seek(uint64_t offset) override {
    return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
  }
  bool Read(char* buffer, size_t n, size_t& got) override {
    got = std::fread(buffer, 1, n, file_);
    return got == n || !std::ferror(file_);
  }
  void Close() override {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
  }

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace

CLogWin::CLogWin(CCommDialog* panel, LogFileSource* source)
    : m_pPanel(panel), m_hFile(source) {
  OnInitDialog();
}

CLogWin::~CLogWin() {
  CLogWin* self = this;
  if (m_pPanel != nullptr) m_pPanel->m_pLogWin.compare_exchange_strong(self, nullptr);
}

void CLogWin::OnInitDialog() {
  const char* portName = m_pPanel->m_session.m_szPortName;
  m_strCaption = std::string(kProductTitle) + " Log: " + portName;
  m_strText.clear();

  StdLogFile stdFile;
  LogFileSource& file = m_hFile != nullptr ? *m_hFile : stdFile;
  if (!file.Open(m_pPanel->GetLogFilePath())) {
    ShowError(portName, "Failed to open the log file\n");
    return;
  }
  uint64_t size = 0;
  if (!file.Size(size)) {
    ShowError(portName, "GetFileSize");
    file.Close();
    return;
  }
  size_t n = static_cast<size_t>(size);
  uint64_t offset = 0;
  if (size > kLogViewMaxBytes) {
    n = kLogViewMaxBytes;
    offset = size - kLogViewMaxBytes;
  }
  std::vector<char> buffer;
  try {
    buffer.resize(n + 1);
  } catch (const std::bad_alloc&) {
    ShowError(portName, "Failed to allocate memory\n");
    file.Close();
    return;
  }
  size_t got = 0;
  if (!file.Seek(offset) || !file.Read(buffer.data(), n, got)) {
    ShowError(portName, "Cannot read from file\n");
    file.Close();
    return;
  }
  // Only the bytes that arrived are shown: a file that shrank since its size
  // was read leaves the rest of the buffer unfilled. Received data may hold
  // zero bytes; they are left out so that they do not end the text.
  m_strText.reserve(got);
  for (size_t i = 0; i < got; ++i) {
    if (buffer[i] != '\0') m_strText.push_back(buffer[i]);
  }
  file.Close();
}

void CLogWin::OnOK() { CloseLogWindow(m_pPanel); }

CLogWin* ToggleLogWindow(CCommDialog* panel) {
  if (panel->m_pLogWin.load() == nullptr) {
    CLogWin* view = new CLogWin(panel);
    panel->m_pLogWin.store(view);
    return view;
  }
  CloseLogWindow(panel);
  return nullptr;
}

void CloseLogWindow(CCommDialog* panel) {
  CLogWin* view = panel->m_pLogWin.exchange(nullptr);
  delete view;
}
