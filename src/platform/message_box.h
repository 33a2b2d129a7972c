// Message boxes and the beep, for every thread of the program.
//
// One sink is installed per process: the desktop front end shows real boxes
// (each blocking only its calling thread until OK), the command-line front end
// prints them, tests record them. Library code reports failures only here.
//
// A port thread may sit in a box for as long as the operator leaves it open.
// Whoever waits for such a thread to end (the window thread ending an earlier
// run or tearing a panel down) first releases the thread's boxes with a
// ScopedBoxRelease, so the wait never depends on the operator.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace platform {

enum class BoxKind { kError, kWarning, kNotice, kPlainError, kApiError, kInfo };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows one box and returns when the user has acknowledged it.
  virtual void Show(BoxKind kind, const std::string& caption, const std::string& text) = 0;
  virtual void Beep(uint32_t type) = 0;

  // From now on boxes of this thread do not hold it: a box it has open stays
  // for the operator, but the thread goes on at once, and later boxes of the
  // thread are shown without waiting. A sink whose boxes return at once has
  // nothing to do.
  virtual void ReleaseThread(std::thread::id /*thread*/) {}
  // The released thread has ended: its id may be given to a new thread,
  // whose boxes wait again.
  virtual void ForgetThread(std::thread::id /*thread*/) {}
};

// Releases the boxes of the given threads (ids of no thread are skipped) at
// the installed sink for as long as it lives. Made by whoever is about to
// wait for those threads to end; destroyed once they have.
class ScopedBoxRelease {
 public:
  explicit ScopedBoxRelease(std::initializer_list<std::thread::id> threads);
  ~ScopedBoxRelease();
  ScopedBoxRelease(const ScopedBoxRelease&) = delete;
  ScopedBoxRelease& operator=(const ScopedBoxRelease&) = delete;

 private:
  MessageSink* sink_;
  std::vector<std::thread::id> threads_;
};

// Installs the process's sink (null: boxes are dropped). Not owned.
void InstallMessageSink(MessageSink* sink);
MessageSink* CurrentMessageSink();

// The system's description of an error code the system's own calls gave: a
// Win32 code on Windows (FormatMessageW), on POSIX the codes of serial_port.h
// and errno values (strerror). For port, file and registry calls.
std::string SystemErrorText(int code);
// The C library's description of an errno value (strerror), on every system:
// for what fopen, fread and the other C and C++ library calls left in errno.
// A Win32 code never goes here, nor an errno value to SystemErrorText on
// Windows, where the two number different things.
std::string CErrorText(int err);

}  // namespace platform

// Caption "<name>: Error".
void ShowError(const char* portName, const std::string& text);
// Caption "<name>: Warning".
void ShowWarning(const char* portName, const std::string& text);
// Caption "<name>: " (the product title in place of the name for start-up notices).
void ShowNotice(const char* portName, const std::string& text);
// Caption "Error".
void ShowPlainError(const std::string& text);
// Caption the port name; text "<name>:<text>\nAPI details:<system text>", at most 511 characters.
void ShowApiError(const char* portName, const std::string& text, int errorCode);
// The same with the system text given: the words a port's opener chose for
// why it failed (OpenSerialPort).
void ShowApiErrorDetails(const char* portName, const std::string& text, const std::string& details);
// Caption the application name ("Vantorel"); used by FileExists.
void ShowInfo(const std::string& text);
void MessageBeep(uint32_t type);
