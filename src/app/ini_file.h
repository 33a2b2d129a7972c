// The private-profile store behind ZANDRIC.INI: string reads with a default and
// string writes by section and key. Used by the main window's LoadSettings and
// SaveSettings, and by the application start-up to learn the [Ports] map early.
//
// Every call goes to the file: a read parses the file as it is now, a write
// rewrites it at once. What loading and saving rely on:
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

  // The value of key in section, cut to kMaxValueChars; def when the key (or
  // the file) is absent.
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& def) const;

  // Writes key=value into section (see the header comment). Failures to write
  // are not reported: the settings simply stay as they were on disk.
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value) const;

  // Every key=value pair of the first section of that name, in file order
  // (values cut as GetString cuts them); empty when the section is absent.
  std::vector<std::pair<std::string, std::string>> GetSection(const std::string& section) const;

  // The line (counted from 1) that holds the key GetString reads; 0 when the
  // key (or the file) is absent. Lets a check point at the setting it reports.
  int KeyLine(const std::string& section, const std::string& key) const;

 private:
  std::string m_strPath;
};

// Letter case ignored, ASCII only (names and texts are 8-bit ANSI).
bool EqualsNoCase(const std::string& a, const std::string& b);
