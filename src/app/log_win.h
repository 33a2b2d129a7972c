// CLogWin: the log view of one port (template 146), the tail of the port's
// current traffic log as read-only text. The port panel's "Log window" command
// opens it and, chosen again, destroys it; closing it by OK, the close box or
// the cancel key destroys it too. The text is read once, when the view opens.
//
// Runs on the window thread. The front end shows m_strCaption and m_strText
// and calls OnOK when the operator closes the view; the model then deletes
// itself (the panel's m_pLogWin becomes null), so the front end drops its
// pointer at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CCommDialog;

// The view shows at most this many bytes from the end of the log.
constexpr size_t kLogViewMaxBytes = 0x7FFF;

// The file operations the view needs, opened for reading while the port keeps
// writing the same file. Tests replace them to make a step fail.
class LogFileSource {
 public:
  virtual ~LogFileSource() = default;
  virtual bool Open(const std::string& path) = 0;
  virtual bool Size(uint64_t& size) = 0;
  virtual bool Seek(uint64_t offset) = 0;
  // Reads up to n bytes; got receives the count. False when the read failed.
  virtual bool Read(char* buffer, size_t n, size_t& got) = 0;
  virtual void Close() = 0;
};

class CLogWin {
 public:
  // Stores the panel and initialises the view at once (OnInitDialog). With
  // a null source the file system is used.
  explicit CLogWin(CCommDialog* panel, LogFileSource* source = nullptr);
  // Clears the panel's m_pLogWin when it still names this view.
  ~CLogWin();
  CLogWin(const CLogWin&) = delete;
  CLogWin& operator=(const CLogWin&) = delete;

  // Caption "%s Log: %s", then the tail of the panel's current log file into
  // the text. Each failure shows its error box; the view then stays empty.
  void OnInitDialog();
  // OK, close box and cancel key: the panel forgets the view and the view
  // deletes itself. Nothing may touch it afterwards.
  void OnOK();
  void OnCancel() { OnOK(); }

  CCommDialog* m_pPanel = nullptr;
  std::string m_strCaption;  // window caption
  std::string m_strText;     // edit box 1032

 private:
  LogFileSource* m_hFile = nullptr;
};

// The panel's "Log window" command: opens a view into the panel's m_pLogWin
// when none is open, else destroys the open one. Returns the view now open
// (null after closing). Window thread only.
CLogWin* ToggleLogWindow(CCommDialog* panel);
// Destroys the panel's view if one is open (the panel is going away).
void CloseLogWindow(CCommDialog* panel);
