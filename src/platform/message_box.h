// Message boxes and the beep, for every thread of the program.
//
// One sink is installed per process: the desktop front end shows real boxes
// (each blocking only its calling thread until OK), the command-line front end
// prints them, tests record them. Library code reports failures only here.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class BoxKind { kError, kWarning, kNotice, kPlainError, kApiError, kInfo };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows one box and returns when the user has acknowledged it.
  virtual void Show(BoxKind kind, const std::string& caption, const std::string& text) = 0;
  virtual void Beep(uint32_t type) = 0;
};

// Installs the process's sink (null: boxes are dropped). Not owned.
void InstallMessageSink(MessageSink* sink);
MessageSink* CurrentMessageSink();

// The system's description of an error code (strerror, FormatMessage).
std::string SystemErrorText(int code);

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
// Caption the application name ("Vantorel"); used by FileExists.
void ShowInfo(const std::string& text);
void MessageBeep(uint32_t type);
