#include "app/ini_file.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "platform/file_replace.h"

namespace {

// One line of the file as read: its text, and the bytes that ended it as
// they stood ("\n", "\r\n", or for a last line without a line feed "\r" or
// nothing). Each line keeps its own end, so a file that mixes LF and CR LF
// lines comes back byte for byte where it was not changed.
struct Line {
  std::string text;
  std::string end;
};

struct ParsedFile {
  // A UTF-8 byte-order mark the file starts with: not part of the first
  // line's text (it would hide a section header there), written back as it was.
  std::string bom;
  std::vector<Line> lines;
  std::string eol = "\n";  // for new lines: CR LF when the file already uses it
};

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

bool ReadAll(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

ParsedFile Parse(const std::string& content) {
  ParsedFile file;
  size_t pos = 0;
  if (content.compare(0, sizeof kUtf8Bom - 1, kUtf8Bom) == 0) {
    file.bom = kUtf8Bom;
    pos = file.bom.size();
  }
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    const bool lineFeed = end != std::string::npos;
    if (!lineFeed) end = content.size();
    Line line{content.substr(pos, end - pos), lineFeed ? "\n" : ""};
    pos = lineFeed ? end + 1 : end;
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.end.insert(0, "\r");
    }
    if (line.end == "\r\n") file.eol = "\r\n";
    file.lines.push_back(std::move(line));
  }
  return file;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The section name of a "[name]" line, or nothing for other lines.
std::optional<std::string> SectionName(const std::string& line) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  size_t close = t.find(']');
  return Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

bool IsComment(const std::string& line) {
  std::string t = Trim(line);
  return !t.empty() && (t[0] == ';' || t[0] == '#');
}

// Splits a "key=value" line; false for lines that hold no key.
bool SplitEntry(const std::string& line, std::string& key, std::string& value) {
  if (IsComment(line) || SectionName(line)) return false;
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(line.substr(0, eq));
  if (key.empty()) return false;
  value = Trim(line.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return true;
}

std::string CutValue(std::string value) {
  if (value.size() > CIniFile::kMaxValueChars) value.resize(CIniFile::kMaxValueChars);
  return value;
}

// Index of the first line of the first section named `section`, or npos.
size_t FindSection(const ParsedFile& file, const std::string& section) {
  for (size_t i = 0; i < file.lines.size(); ++i) {
    std::optional<std::string> name = SectionName(file.lines[i].text);
    if (name && EqualsNoCase(*name, section)) return i;
  }
  return std::string::npos;
}

// One past the last line that belongs to the section starting at `header`.
size_t SectionEnd(const ParsedFile& file, size_t header) {
  size_t i = header + 1;
  while (i < file.lines.size() && !SectionName(file.lines[i].text)) ++i;
  return i;
}

// Index of the line that holds key in the first section named `section`
// (the first such key wins), or npos.
size_t FindKey(const ParsedFile& file, const std::string& section, const std::string& key) {
  size_t header = FindSection(file, section);
  if (header == std::string::npos) return std::string::npos;
  size_t end = SectionEnd(file, header);
  for (size_t i = header + 1; i < end; ++i) {
    std::string k, v;
    if (SplitEntry(file.lines[i].text, k, v) && EqualsNoCase(k, key)) return i;
  }
  return std::string::npos;
}

}  // namespace

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool CIniFile::Content(std::string& content) const {
  if (!held_) return ReadAll(m_strPath, content);
  content = heldContent_;
  return heldExists_;
}

void CIniFile::Hold() {
  heldExists_ = ReadAll(m_strPath, heldContent_);
  if (!heldExists_) heldContent_.clear();
  held_ = true;
  changed_ = false;
}

bool CIniFile::Save(std::string& error) {
  if (!held_ || !changed_) return true;
  if (!platform::ReplaceFileContents(m_strPath, heldContent_, error)) return false;
  heldExists_ = true;
  changed_ = false;
  return true;
}

std::string CIniFile::GetString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  std::string content;
  if (!Content(content)) return CutValue(def);
  ParsedFile file = Parse(content);
  const size_t at = FindKey(file, section, key);
  if (at == std::string::npos) return CutValue(def);
  std::string k, v;
  SplitEntry(file.lines[at].text, k, v);
  return CutValue(v);
}

int CIniFile::KeyLine(const std::string& section, const std::string& key) const {
  std::string content;
  if (!Content(content)) return 0;
  const size_t at = FindKey(Parse(content), section, key);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

std::vector<std::pair<std::string, std::string>> CIniFile::GetSection(
    const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> entries;
  std::string content;
  if (!Content(content)) return entries;
  ParsedFile file = Parse(content);
  size_t header = FindSection(file, section);
  if (header == std::string::npos) return entries;
  size_t end = SectionEnd(file, header);
  for (size_t i = header + 1; i < end; ++i) {
    std::string k, v;
    if (SplitEntry(file.lines[i].text, k, v)) entries.emplace_back(k, CutValue(v));
  }
  return entries;
}

bool CIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value, std::string* error) {
  // A line end inside a value would turn the rest of it into lines of their
  // own (a new section, say); the value ends there instead.
  std::string clean = value.substr(0, value.find_first_of("\r\n"));

  std::string content;
  Content(content);  // a missing file is created below
  ParsedFile file = Parse(content);
  std::string entry = key + "=" + clean;

  size_t header = FindSection(file, section);
  if (header == std::string::npos) {
    file.lines.push_back({"[" + section + "]", file.eol});
    file.lines.push_back({entry, file.eol});
  } else {
    size_t end = SectionEnd(file, header);
    bool replaced = false;
    for (size_t i = header + 1; i < end && !replaced; ++i) {
      std::string k, v;
      if (SplitEntry(file.lines[i].text, k, v) && EqualsNoCase(k, key)) {
        // Keep the key as the file spells it and any indentation before it.
        const std::string& old = file.lines[i].text;
        file.lines[i].text = old.substr(0, old.find('=') + 1) + clean;
        replaced = true;
      }
    }
    if (!replaced) {
      // After the section's last non-blank line, so that a blank line that
      // separates it from the next section stays where it is.
      size_t at = end;
      while (at > header + 1 && Trim(file.lines[at - 1].text).empty()) --at;
      file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(at), {entry, file.eol});
    }
  }

  // Every line is written as it ended. Only a last line without a line feed
  // that no longer is the last one gets one: after its CR if it has one, else
  // the file's line end.
  std::ostringstream out;
  out << file.bom;
  for (size_t i = 0; i < file.lines.size(); ++i) {
    const Line& line = file.lines[i];
    out << line.text << line.end;
    if (i + 1 < file.lines.size() && line.end.find('\n') == std::string::npos) {
      out << (line.end == "\r" ? "\n" : file.eol);
    }
  }
  if (held_) {
    heldContent_ = out.str();
    changed_ = true;
    return true;
  }
  std::string reason;
  const bool saved = platform::ReplaceFileContents(m_strPath, out.str(), reason);
  if (!saved && error != nullptr) *error = reason;
  return saved;
}
