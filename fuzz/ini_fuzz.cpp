// The INI store: a file of any bytes is loaded, values are set in it one
// after another, and after every save the file is loaded again.
//
// Input: up to four writes (a section, a key and a value each), then the
// file's first content.
// Oracles: a value that was set reads back as set (blanks around it and one
// pair of quotes dropped, cut at a line end and at 259 characters, as the
// store promises); a value set earlier under another key still reads back;
// every line the write did not change stays byte for byte, in order, and a
// changed or added line holds the key that was written.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "fuzz_support.h"

namespace {

// Section and key names as the program uses them: letters, digits, '_'.
std::string Name(fuzz::Input& input) {
  static const char kChars[] = "ABCcomMV2QZ6_09";
  std::string name;
  const size_t length = 1 + input.Byte() % 4;
  for (size_t i = 0; i < length; ++i) name += kChars[input.Byte() % (sizeof kChars - 1)];
  return name;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// What the store promises to give back for a value written.
std::string ReadsBackAs(const std::string& value) {
  std::string v = Trim(value.substr(0, value.find_first_of("\r\n")));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v.substr(0, CIniFile::kMaxValueChars);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// The file's lines with their ends; a last line without a line feed as it is.
std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    const size_t end = content.find('\n', pos);
    const size_t next = end == std::string::npos ? content.size() : end + 1;
    lines.push_back(content.substr(pos, next - pos));
    pos = next;
  }
  return lines;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// The line, without a UTF-8 byte-order mark and its end, with no regard to
// letter case, holds the header of section or an entry of key.
bool Mentions(std::string line, const std::string& section, const std::string& key) {
  if (StartsWith(line, "\xEF\xBB\xBF")) line.erase(0, 3);
  std::string lower;
  for (char c : line) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto low = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return lower.find("[" + low(section) + "]") != std::string::npos || StartsWith(Trim(lower), low(key));
}

// Old and new lines agree but for lines of the write: a changed line stands
// where the old one stood, added lines come in one run. A last old line
// without a line feed may have gained one.
void CheckUntouchedLines(const std::string& before, const std::string& after, const std::string& section,
                         const std::string& key) {
  const std::vector<std::string> a = Lines(before);
  const std::vector<std::string> b = Lines(after);
  auto same = [&](size_t i, size_t j) {
    if (a[i] == b[j]) return true;
    // The old last line completed by a line feed (after its CR), or by CR LF.
    return i + 1 == a.size() && a[i].find('\n') == std::string::npos &&
           (b[j] == a[i] + "\n" || b[j] == a[i] + "\r\n");
  };
  size_t front = 0;
  while (front < a.size() && front < b.size() && same(front, front)) ++front;
  size_t back = 0;
  while (back < a.size() - front && back < b.size() - front && same(a.size() - 1 - back, b.size() - 1 - back)) {
    ++back;
  }
  const size_t oldMiddle = a.size() - front - back;
  const size_t newMiddle = b.size() - front - back;
  fuzz::Check(oldMiddle <= 1, "at most one line changed");
  fuzz::Check(newMiddle >= oldMiddle && newMiddle <= oldMiddle + 2, "at most a header and an entry added");
  for (size_t j = front; j < front + newMiddle; ++j) {
    fuzz::Check(Mentions(b[j], section, key), "a changed line is the written section or key");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("store.ini");
  fuzz::Input input(data, size);
  struct Write {
    std::string section, key, value;
  };
  std::vector<Write> writes(input.Byte() % 5);
  for (Write& w : writes) {
    w.section = Name(input);
    w.key = Name(input);
    w.value = input.Text(300);
  }
  WriteAll(path, input.Rest());

  CIniFile ini(path);
  for (size_t i = 0; i < writes.size(); ++i) {
    const Write& w = writes[i];
    const std::string before = ReadAll(path);
    ini.WriteString(w.section, w.key, w.value);
    const std::string after = ReadAll(path);
    CheckUntouchedLines(before, after, w.section, w.key);
    fuzz::Check(ini.GetString(w.section, w.key, "\x01 absent") == ReadsBackAs(w.value), "a value reads back as set");
    for (size_t j = 0; j < i; ++j) {
      const Write& earlier = writes[j];
      bool overwritten = false;
      for (size_t k = j + 1; k <= i; ++k) {
        overwritten |= EqualsNoCase(writes[k].section, earlier.section) && EqualsNoCase(writes[k].key, earlier.key);
      }
      if (overwritten) continue;
      fuzz::Check(ini.GetString(earlier.section, earlier.key, "\x01 absent") == ReadsBackAs(earlier.value),
                  "an earlier value still reads back");
    }
  }
  return 0;
}
