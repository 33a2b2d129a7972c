// The traffic log of a port. WriteLog runs on the receiver thread for every
// delivered block, and on the window thread for the run header while the
// receiver is parked, so the file itself needs no lock; only the file's name
// is guarded, because the log window reads it while the receiver rotates.
#include "link/traffic_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "link/port_session.h"
#include "link/run_reporter.h"
#include "platform/message_box.h"
#include "platform/time.h"
#include "platform/format.h"

namespace {

// The device prefix of a USB panel's name (\\.\COM7): a port logs under the
// same name however it was reached.
constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr size_t kDevicePrefixLength = 4;

constexpr int kLogFiles = 3;

std::string LogPortName(const char* portName) {
  if (std::strncmp(portName, kDevicePrefix, kDevicePrefixLength) == 0) {
    return portName + kDevicePrefixLength;
  }
  return portName;
}

void ReportCreateFailure(RunReporter& reporter, int error, const std::string& path) {
  reporter.ShowError(Format("InitLogFile : CreateFile = %d\n\nfile : %s", error, path.c_str()));
}

}  // namespace

void InitLogFile(PortSession& session, RunReporter& reporter) {
  if (session.m_hLogFile != nullptr) {
    std::fclose(session.m_hLogFile);
    session.m_hLogFile = nullptr;
  }

  const std::string folder = session.LogFolder();
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  const std::string path = folder + separator + Format("LOG%s.%.3i",
                                                       LogPortName(session.m_szPortName).c_str(),
                                                       session.m_nLogIndex);
  {
    std::lock_guard<std::mutex> lock(session.m_logPathMutex);
    if (path.size() >= sizeof session.m_szLogFile) {
      // A cut path would name some other file: no log rather than a wrong one.
      session.m_szLogFile[0] = '\0';
    } else {
      std::memcpy(session.m_szLogFile, path.c_str(), path.size() + 1);
    }
  }
  if (path.size() >= sizeof session.m_szLogFile) {
    ReportCreateFailure(reporter, ENAMETOOLONG, path);
    return;
  }

  // Each cycle starts its file empty.
  std::remove(path.c_str());
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "wbx");
  if (file == nullptr) {
    ReportCreateFailure(reporter, errno, path);
    return;
  }
  session.m_hLogFile = file;
}

bool WriteLog(PortSession& session, RunReporter& reporter, const void* data, size_t length) {
  std::FILE* file = session.m_hLogFile;
  if (file == nullptr) return false;

  const size_t written = length > 0 ? std::fwrite(data, 1, length, file) : 0;
  // Flushed at once: the log window shows the file while it is written.
  if (written != length || std::fflush(file) != 0) {
    std::clearerr(file);
    ShowPlainError("Cannot write to log file\n");
    return false;
  }

  session.m_dwLogBytes += static_cast<uint32_t>(length);
  if (session.m_dwLogBytes > kLogRotateBytes) {
    // The block that crossed the limit stays whole in the file it went to.
    session.m_nLogIndex = (session.m_nLogIndex + 1) % kLogFiles;
    session.m_dwLogBytes = 0;
    std::fclose(file);
    session.m_hLogFile = nullptr;
    InitLogFile(session, reporter);
  }
  return true;
}

std::string FormatLogHeader() {
  const platform::LocalTime now = platform::GetLocalTime();
  const std::string date = Format("%02d/%02d/%02d", now.month, now.day, now.year % 100);
  const std::string time = Format("%02d:%02d:%02d", now.hour, now.minute, now.second);
  return Format(
      "*****************************************\r\n"
      "* Date: %s Time: %s *\r\n"
      "*****************************************\r\n",
      date.c_str(), time.c_str());
}

void WriteLogHeader(PortSession& session, RunReporter& reporter) {
  const std::string header = FormatLogHeader();
  WriteLog(session, reporter, header.data(), header.size());
}
