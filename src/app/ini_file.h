// The private-profile store behind ZANDRIC.INI: string reads with a default and
// string writes by section and key. Used by the main window's LoadSettings and
// SaveSettings, and by the application start-up to learn the [Ports] map early.
//
// Every call goes to the file (a read parses the file as it is now, a write
// replaces it at once), unless the store holds the file: then the file is
// read once, when Hold is called, reads and writes use that copy, and Save
// writes it back in one piece. Loading holds the file so that it reads one
// version of it, not a key of each of two; saving holds it so that the file
// is written once, not once per key. The file is always written whole into
// a temporary file and put in place in one step, so a failed save (a full
// disk, a crash, a power loss) leaves the old file as it was, and a reader
// sees the old file or the new one, never half of each. What loading and
// saving rely on:
//   - section and key names match without regard to letter case;
//   - an absent key yields the caller's default, a key with an empty value
//     yields an empty text;
//   - at most kMaxValueChars characters of a value are returned;
//   - a write replaces the value where the key stands, or adds the key at the
//     end of its section; a missing section is added at the end of the file, a
//     missing file is created; every other line (comments included) stays.
// Syntax: "[Section]" lines, "key=value" lines (blanks around key and value
// are dropped, one pair of matching quotes around a value is dropped), lines
// starting with ';' or '#' are comments. The first of duplicate sections or
// keys wins. Lines the write does not change stay byte for byte: each keeps
// its own end (LF, CR LF, or a last line's lone CR or none), and a UTF-8
// byte-order mark at the start of the file stays and hides no section. New
// lines end in CR LF when the file has a CR LF line, else in LF; a last line
// without a line feed gets one only when a line is added after it.
#pragma once

#include <string>
#include <utility>
#include <vector>

class CIniFile {
 public:
  // A value of more characters is cut to this many when read.
  static constexpr size_t kMaxValueChars = 259;

  explicit CIniFile(std::string path) : m_strPath(std::move(path)) {}

  const std::string& Path() const { return m_strPath; }
  CIniFile(const CIniFile&) = default;
  CIniFile& operator=(const CIniFile&) = default;

  // The value of key in section, cut to kMaxValueChars; def when the key (or
  // the file) is absent.
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& def) const;

  // Writes key=value into section (see the header comment): into the held
  // copy while the file is held, else into the file at once. False when the
  // file could not be written (the file stays as it was); error (if given)
  // then tells why.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   std::string* error = nullptr);

  // Reads the file once; reads and writes use this copy until Save. A missing
  // file is an empty one.
  void Hold();
  // Writes the held copy back, whole, when a write changed it. False with the
  // system's reason in error when it could not be written: the file on disk
  // is then as it was. The file stays held.
  bool Save(std::string& error);

  // Every key=value pair of the first section of that name, in file order
  // (values cut as GetString cuts them); empty when the section is absent.
  std::vector<std::pair<std::string, std::string>> GetSection(const std::string& section) const;

  // The line (counted from 1) that holds the key GetString reads; 0 when the
  // key (or the file) is absent. Lets a check point at the setting it reports.
  int KeyLine(const std::string& section, const std::string& key) const;

 private:
  // The file's content: the held copy, or the file as it is now.
  bool Content(std::string& content) const;

  std::string m_strPath;
  bool held_ = false;
  bool heldExists_ = false;  // the file was there when it was held
  bool changed_ = false;     // a write changed the held copy since Hold or Save
  std::string heldContent_;
};

// Letter case ignored, ASCII only (names and texts are 8-bit ANSI).
bool EqualsNoCase(const std::string& a, const std::string& b);
