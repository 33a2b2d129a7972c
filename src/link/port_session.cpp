// The line of a port: its name, opening and configuring the port with the
// fixed line settings, the events, the write primitive.
#include "link/port_session.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/message_box.h"

std::atomic<bool> g_bClosing{false};

namespace {

// The fixed line: 57600 bits/s, 8 data bits, no parity, 1 stop bit, output
// held by CTS, RTS raised while there is room to receive, DTR on while open,
// no XON/XOFF. Every field not named is zero.
platform::LineSettings FixedLineSettings() {
  platform::LineSettings dcb{};
  dcb.DCBlength = 28;
  dcb.BaudRate = 57600;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = platform::DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = platform::RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = platform::NOPARITY;
  dcb.StopBits = platform::ONESTOPBIT;
  return dcb;
}

// A read completes 1 ms after the last byte of a burst; writes have no time-out.
platform::CommTimeouts FixedTimeouts() {
  platform::CommTimeouts timeouts{};
  timeouts.ReadIntervalTimeout = 1;
  return timeouts;
}

void CreateEventIfMissing(std::unique_ptr<platform::Event>& event, const char* portName,
                          const char* failureText) {
  if (event) return;
  event.reset(new (std::nothrow) platform::Event());
  if (!event) ShowError(portName, failureText);
}

}  // namespace

PortSession::PortSession(const char* portName, std::function<std::string()> logFolder)
    : logFolder_(std::move(logFolder)) {
  const char* name = portName != nullptr ? portName : "";
  const size_t length = std::strlen(name);
  nameTooLong_ = length >= sizeof m_szPortName;
  std::memcpy(m_szPortName, name, nameTooLong_ ? sizeof m_szPortName - 1 : length);
  // The events exist for the session's whole life, so that no function of
  // the port ever meets a missing one; OpenPort only makes up for a failed
  // creation.
  CreateMissingEvents();
  m_rxBuffer.Reset();
}

void PortSession::CreateMissingEvents() {
  CreateEventIfMissing(m_hExitEvent, m_szPortName, "CreateEvent (Thread exit event)");
  CreateEventIfMissing(m_hDataEvent, m_szPortName, "CreateEvent (Data received event)");
  CreateEventIfMissing(m_hReceiveEvent, m_szPortName, "CreateEvent (Receive event)");
}

PortSession::~PortSession() {
  ClosePort();
  CloseLog();
}

std::string PortSession::GetLogFilePath() const {
  std::lock_guard<std::mutex> lock(m_logPathMutex);
  return m_szLogFile;
}

void PortSession::CloseLog() {
  if (m_hLogFile != nullptr) {
    std::fclose(m_hLogFile);
    m_hLogFile = nullptr;
  }
}

void PortSession::OpenPort() {
  if (!m_hPort.IsOpen()) {
    CreateMissingEvents();
    if (nameTooLong_) {
      m_nOpenError = platform::kErrorInvalidParameter;
      m_strOpenError = platform::SystemErrorText(m_nOpenError);
    } else {
      int error = 0;
      std::string why;
      platform::PortPtr port = platform::OpenSerialPort(m_szPortName, error, why);
      m_nOpenError = port ? 0 : (error != 0 ? error : platform::kErrorFileNotFound);
      m_strOpenError = port ? std::string() : why;
      m_hPort.Set(std::move(port));
    }
  }

  if (platform::PortPtr port = m_hPort.Get()) {
    if (!savedValid_) {
      platform::LineSettings saved{};
      if (port->GetCommState(saved)) {
        m_dcbSaved = saved;
        savedValid_ = true;
      }
    }
    m_timeouts = FixedTimeouts();
    port->SetCommTimeouts(m_timeouts);
    m_dcb = FixedLineSettings();
    // The port reads the settings back; a line that does not run 57600 8N1
    // with RTS/CTS would garble every transfer, so say so.
    if (!port->SetCommState(m_dcb)) {
      ShowApiError(m_szPortName, "SetCommState in OpenPort", port->LastError());
    }
  }

  if (m_hReceiveEvent) m_hReceiveEvent->Reset();
  m_dwCommMask = platform::EV_RXCHAR;
}

void PortSession::ReportOpenFailure() const {
  // In the opener's words: on POSIX they name the device the port led to
  // and, for one the user may not open, the group that may.
  ShowApiErrorDetails(m_szPortName, "CreateFile in OpenPort",
                      m_strOpenError.empty() ? platform::SystemErrorText(m_nOpenError)
                                             : m_strOpenError);
}

void PortSession::ClosePort() {
  if (platform::PortPtr port = m_hPort.Get()) port->Close();
  m_hPort.Set(nullptr);
}

void PortSession::RestoreLineSettings() {
  if (platform::PortPtr port = m_hPort.Get()) {
    if (savedValid_) port->SetCommState(m_dcbSaved);
  }
}

bool WritePort(const platform::PortPtr& port, const void* data, uint32_t length) {
  if (!port) return false;
  return port->Write(data, length);
}

bool WritePort(const PortHandle& port, const void* data, uint32_t length) {
  return WritePort(port.Get(), data, length);
}
