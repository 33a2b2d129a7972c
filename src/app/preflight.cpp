#include "app/preflight.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>

#include "app/ini_file.h"
#include "app/programmer_dlg.h"
#include "app/settings_table.h"
#include "firmware/file_access.h"
#include "firmware/hex_digit.h"
#include "firmware/loader_image.h"
#include "link/comm_dialog.h"
#include "platform/message_recorder.h"
#include "update/engines.h"
#include "update/image_record.h"
#include "update/send_proc.h"

namespace {

using Setting = SettingKey;

const int kAllFamilies[] = {kFamilyQZ500, kFamilyQZ600, kFamilyMV2};

// The start of a problem for a file that does not fit the memory left: the
// check goes on with the next file.
constexpr const char kNoMemoryText[] = "not enough memory to read";

// A reader that had no room for the file ends the file's check the way a
// failed allocation of the check itself does, so the report says so and
// never takes the shortage for a fault of the file.
UpdateStatus NoMemoryEndsTheFile(UpdateStatus status) {
  if (status == UPD_NO_MEMORY) throw std::bad_alloc();
  return status;
}

std::vector<int> SectionFamilies(const std::string& section) {
  if (section == "MV2") return {kFamilyMV2};
  return {kFamilyQZ500, kFamilyQZ600};
}

const char* FamilyName(int family) {
  if (family == kFamilyMV2) return "MV2";
  return ModelText(family);
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}

// The special block's bytes of a family as "1FFC0-1FFFF" or "FFC0-FFFF".
std::string BlockRangeText(int family) {
  const uint32_t base = SpecialBlockBase(family);
  char text[32];
  std::snprintf(text, sizeof text, "%X-%X", base, base + static_cast<uint32_t>(kSpecialBlockBytes) - 1);
  return text;
}

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

// A box text as one report line: line ends inside become blanks, trailing
// ones go.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += c == '\r' || c == '\n' ? ' ' : c;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// The text field of a header record (S0: byte count, two address bytes, the
// text, the checksum), printable characters kept and others shown as dots.
std::string HeaderText(const ImageRecord& header) {
  std::string text;
  const size_t pairs = header.byteCount;  // byte count's own pair excluded
  for (size_t i = 3; i < pairs; ++i) {
    const size_t at = 2 + 2 * i;
    if (at + 1 >= static_cast<size_t>(header.length)) break;
    const int high = HexDigit(header.text[at]);
    const int low = HexDigit(header.text[at + 1]);
    if (high < 0 || low < 0) break;
    const char c = static_cast<char>(high * 16 + low);
    text += c >= 0x20 && c < 0x7F ? c : '.';
  }
  return text;
}

// What the image readers found in an S-record file.
struct ImageFacts {
  unsigned lines = 0;
  size_t data = 0;
  bool header = false;
  bool count = false;
  bool termination = false;
  uint32_t low = 0;      // lowest data address
  uint32_t high = 0;     // highest data address that holds a byte
  unsigned blocks = 1;   // the 64 KB blocks of a download in blocks
  std::string tag;       // the header record's text
};

class Checker {
 public:
  Checker() : panel_(0, "check", &dlg_) {}

  CheckReport Report() { return std::move(report_); }

  CheckReport Station(const std::string& appDir);
  CheckReport Image(const std::string& path);

 private:
  // The facts and problems of one image; Image adds the heading and catches
  // what runs out of memory.
  void ImageBody(const std::string& path);

  void Heading(const std::string& text) {
    report_.lines.push_back(text);
    ++report_.files;
  }
  void Fact(const std::string& text) { report_.lines.push_back("  " + text); }
  void Problem(const std::string& file, unsigned line, const std::string& text) {
    std::string where = file;
    if (line > 0) where += ":" + std::to_string(line);
    report_.lines.push_back(where + ": " + OneLine(text));
    ++report_.problems;
  }
  // Every box shown since the last call becomes a problem at file:line.
  void BoxesAsProblems(const std::string& file, unsigned line) {
    for (const std::string& text : boxes_.Texts()) Problem(file, line, text);
    boxes_.Clear();
  }

  bool ReadImage(const std::string& path, const std::string& failFile, unsigned failLine,
                 ImageFacts& facts);
  void ImageLines(const ImageFacts& facts);
  std::vector<int> RcpFamilies(const std::string& path);
  // Whether the loader image has a place for the special block on a
  // scanner of the family; the splice's boxes stay in the recorder.
  bool HasSplicePlace(const FileBuffer& image, int family);
  // A loader image with bytes of its own where the special block lives: the
  // splice leaves them out, so what the station sends is not the file. One
  // line at the first such record: a problem when the block is kept for a
  // family of the setting (the station changes the image), else a note
  // among the facts (the file goes as it stands, over the scanner's block).
  void BytesInSpecialBlock(const FileBuffer& image, const std::string& path,
                           const std::vector<int>& families, bool spliced);

  void CheckRcp(const Setting& setting, const std::string& path, const std::string& ini, int line);
  void CheckVtc(const std::string& path, const std::string& ini, int line);
  void CheckLdr(const Setting& setting, const std::string& path, const std::string& ini, int line);
  void CheckRaw(const std::string& path, const std::string& ini, int line);

  // The recorder is installed first and removed last: every box of the
  // check is the check's own.
  platform::ScopedMessageRecorder boxes_;
  CProgrammerDlg dlg_;
  CCommDialog panel_;
  CheckReport report_;
};

bool Checker::ReadImage(const std::string& path, const std::string& failFile, unsigned failLine,
                        ImageFacts& facts) {
  ImageRecord header, count, termination;
  ImageRecord* first = nullptr;
  uint32_t expected = 0;
  boxes_.Clear();
  const UpdateStatus result =
      NoMemoryEndsTheFile(ReadRCPFile(&panel_, path, &header, &first, &count, &termination,
                                      &expected, &facts.lines));
  std::unique_ptr<ImageRecord, void (*)(ImageRecord*)> list(first, FreeRecordList);
  if (result != UPD_OK) {
    // A fault in a line points at the line; a file that cannot be read at
    // the place that names it.
    if (result == UPD_BAD_IMAGE) {
      BoxesAsProblems(path, facts.lines);
    } else {
      BoxesAsProblems(failFile, failLine);
    }
    return false;
  }
  facts.header = header.length > 0;
  facts.count = count.length > 0;
  facts.termination = termination.length > 0;
  if (facts.header) facts.tag = HeaderText(header);
  for (const ImageRecord* r = first; r; r = r->next) {
    const uint32_t last = r->address + (r->byteCount > 5 ? r->byteCount - 6 : 0);
    if (facts.data == 0 || r->address < facts.low) facts.low = r->address;
    if (facts.data == 0 || last > facts.high) facts.high = last;
    ++facts.data;
  }
  facts.blocks = CountImageBlocks(first);
  return true;
}

void Checker::ImageLines(const ImageFacts& facts) {
  auto has = [](bool present) { return present ? "1" : "no"; };
  Fact(std::to_string(facts.lines) + " lines: " + has(facts.header) + " header, " +
       std::to_string(facts.data) + " data, " + has(facts.count) + " count, " +
       has(facts.termination) + " termination record" + (facts.termination ? "" : "s"));
  if (facts.data > 0) {
    Fact("addresses " + Hex8(facts.low) + " to " + Hex8(facts.high));
  }
  Fact("header tag \"" + facts.tag + "\"");
}

std::vector<int> Checker::RcpFamilies(const std::string& path) {
  uint8_t header[kRcpHeaderBytes] = {};
  const bool decoded = NoMemoryEndsTheFile(ReadHdrStr(&panel_, path, header, kRcpHeaderBytes)) == UPD_OK;
  boxes_.Clear();  // a file the image reader has read opens here too
  std::vector<int> families;
  if (!decoded) return families;
  for (int family : kAllFamilies) {
    if (RcpSuitsFamily(header, family)) families.push_back(family);
  }
  return families;
}

bool Checker::HasSplicePlace(const FileBuffer& image, int family) {
  FileBuffer copy;
  copy.data.reset(new char[image.size + 1]);
  std::copy(image.data.get(), image.data.get() + image.size + 1, copy.data.get());
  copy.size = image.size;
  const uint8_t block[64] = {};
  return NoMemoryEndsTheFile(InsertSpecialBlock(&panel_, family, copy, block, sizeof block)) == UPD_OK;
}

void Checker::BytesInSpecialBlock(const FileBuffer& image, const std::string& path,
                                  const std::vector<int>& families, bool spliced) {
  for (int family : families) {
    const unsigned line = FirstLineInSpecialBlock(image, family);
    if (line == 0) continue;
    const std::string where = path + ":" + std::to_string(line) + ": ";
    if (spliced) {
      Problem(path, line, "the scanner's special block will replace the image's bytes at " +
                              BlockRangeText(family));
    } else {
      Fact(where + "note: the image's bytes at " + BlockRangeText(family) +
           " are written over the scanner's special block, which is not kept");
    }
    return;
  }
}

void Checker::CheckRcp(const Setting& setting, const std::string& path, const std::string& ini,
                       int line) {
  ImageFacts facts;
  if (!ReadImage(path, ini, static_cast<unsigned>(line), facts)) return;
  ImageLines(facts);
  const std::vector<int> serves = RcpFamilies(path);
  std::vector<std::string> names;
  for (int family : serves) names.push_back(FamilyName(family));
  Fact("serves " + (names.empty() ? std::string("no family") : Join(names, ", ")));

  const std::vector<int> section = SectionFamilies(setting.section);
  bool any = false;
  for (int family : section) {
    if (std::find(serves.begin(), serves.end(), family) == serves.end()) continue;
    any = true;
    // A QZ500 takes the image in blocks cut at 64 KB; the others in one pass.
    if (family == kFamilyQZ500) {
      Fact(std::string("64 KB blocks to a QZ500: ") + std::to_string(facts.blocks));
    } else {
      Fact(std::string("sent to a") + (family == kFamilyMV2 ? "n " : " ") + FamilyName(family) +
           " in one pass");
    }
    const bool onePass = family != kFamilyQZ500;
    if (!facts.header || !facts.termination || (onePass && !facts.count)) {
      Problem(path, facts.lines, kRcpIncompleteText);
      break;
    }
  }
  // An image for another platform: every scanner of this section refuses it.
  if (!any) {
    for (int family : section) Problem(path, 1, RcpRefusalText(family));
  }
}

void Checker::CheckVtc(const std::string& path, const std::string& ini, int line) {
  ImageFacts facts;
  if (!ReadImage(path, ini, static_cast<unsigned>(line), facts)) return;
  ImageLines(facts);
  Fact("64 KB blocks: " + std::to_string(facts.blocks));
  if (!facts.header || !facts.termination) Problem(path, facts.lines, kVtcIncompleteText);
}

void Checker::CheckLdr(const Setting& setting, const std::string& path, const std::string& ini,
                       int line) {
  const unsigned at = static_cast<unsigned>(line);
  boxes_.Clear();
  // The special block is kept on QZ600 and MV2 scanners when the station
  // preserves serial numbers; the loader then goes through the splice.
  std::vector<int> splicing;
  if (dlg_.m_bPreserveSerialNumber) {
    for (int family : SectionFamilies(setting.section)) {
      if (family != kFamilyQZ500) splicing.push_back(family);
    }
  }
  const bool streamed = splicing.empty() || std::string(setting.section) == "QZ6";
  uint32_t size = 0;
  if (streamed && NoMemoryEndsTheFile(CheckFileToSend(&panel_, path, size)) != UPD_OK) {
    BoxesAsProblems(ini, at);
    return;
  }
  if (!splicing.empty()) {
    FileBuffer image;
    if (NoMemoryEndsTheFile(ReadWholeFile(&panel_, path, image)) != UPD_OK) {
      BoxesAsProblems(ini, at);
      return;
    }
    size = static_cast<uint32_t>(image.size);
    Fact(std::to_string(size) + " bytes");
    unsigned lines = static_cast<unsigned>(std::count(image.data.get(), image.data.get() + image.size, '\n'));
    if (image.size > 0 && image.data[image.size - 1] != '\n') ++lines;
    for (int family : splicing) {
      boxes_.Clear();
      if (HasSplicePlace(image, family)) {
        Fact(std::string("special block place for ") + FamilyName(family) + ": present");
      } else {
        Fact(std::string("special block place for ") + FamilyName(family) + ": missing");
        BoxesAsProblems(path, lines);
        Problem(path, lines, kLoaderSpliceFailedText);
      }
    }
    BytesInSpecialBlock(image, path, splicing, true);
  } else {
    Fact(std::to_string(size) + " bytes, sent as it stands (the special block is not kept)");
    FileBuffer image;
    if (NoMemoryEndsTheFile(ReadWholeFile(&panel_, path, image)) == UPD_OK) {
      BytesInSpecialBlock(image, path, SectionFamilies(setting.section), false);
    }
    boxes_.Clear();
  }
  if (!dlg_.m_bPermitLoaderOverwrite) {
    Problem(ini, at, "Missing permission to overwrite Loader");
  }
}

void Checker::CheckRaw(const std::string& path, const std::string& ini, int line) {
  boxes_.Clear();
  uint32_t size = 0;
  if (NoMemoryEndsTheFile(CheckFileToSend(&panel_, path, size)) != UPD_OK) {
    BoxesAsProblems(ini, static_cast<unsigned>(line));
    return;
  }
  Fact(std::to_string(size) + " bytes");
}

CheckReport Checker::Station(const std::string& appDir) {
  std::string dir = appDir;
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  if (dir.size() >= sizeof dlg_.m_szAppDir) dir = ".";
  std::snprintf(dlg_.m_szAppDir, sizeof dlg_.m_szAppDir, "%s", dir.c_str());
  const std::string iniPath = dlg_.GetIniPath();
  const std::string ini = kIniFileName;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(iniPath, ec)) {
    Problem(ini, 0, "no " + ini + " in " + dir + ": no firmware is configured");
    return Report();
  }
  dlg_.SetPreloadDefaults();
  boxes_.Clear();
  dlg_.LoadSettings();
  // The boxes of the loading, in the order of the settings table: one per file that
  // is configured but not found.
  std::vector<std::string> loading = boxes_.Texts();
  boxes_.Clear();

  const CIniFile file(iniPath);
  int configured = 0;
  for (const Setting& setting : SettingKeys()) {
    if (setting.kind != SettingKind::kFile) continue;
    const std::string value = file.GetString(setting.section, setting.key, "");
    if (value.empty()) continue;
    ++configured;
    const int line = file.KeyLine(setting.section, setting.key);
    Heading(std::string("[") + setting.section + "] " + setting.key + " = " + value);
    const std::string path = (dlg_.*setting.text).Get();
    if (path.empty()) {
      // Dropped at loading: its box names the file.
      auto box = std::find_if(loading.begin(), loading.end(), [&](const std::string& text) {
        return text.find(value) != std::string::npos;
      });
      Problem(ini, static_cast<unsigned>(line), box != loading.end() ? *box : "File " + value + " not found");
      if (box != loading.end()) loading.erase(box);
      continue;
    }
    // A file too big for the memory left is a problem of its own; what it
    // took is given back, and the other files are checked still.
    try {
      switch (setting.role) {
        case FileRole::kRcp: CheckRcp(setting, path, ini, line); break;
        case FileRole::kVtc: CheckVtc(path, ini, line); break;
        case FileRole::kLdr: CheckLdr(setting, path, ini, line); break;
        case FileRole::kRaw: CheckRaw(path, ini, line); break;
        case FileRole::kNone: break;
      }
    } catch (const std::bad_alloc&) {
      boxes_.Clear();
      Problem(ini, static_cast<unsigned>(line), std::string(kNoMemoryText) + " " + path);
    }
  }
  if (configured == 0) Problem(ini, 0, "no firmware file is configured");
  return Report();
}

CheckReport Checker::Image(const std::string& path) {
  Heading(path);
  try {
    ImageBody(path);
  } catch (const std::bad_alloc&) {
    boxes_.Clear();
    Problem(path, 0, std::string(kNoMemoryText) + " the file");
  }
  return Report();
}

void Checker::ImageBody(const std::string& path) {
  ImageFacts facts;
  if (!ReadImage(path, path, 0, facts)) return;
  ImageLines(facts);
  std::vector<std::string> names;
  for (int family : RcpFamilies(path)) names.push_back(FamilyName(family));
  Fact("as RCP image serves " + (names.empty() ? std::string("no family") : Join(names, ", ")));
  Fact("64 KB blocks: " + std::to_string(facts.blocks) + " (VTC, RCP to a QZ500)");
  if (!facts.count) Fact(std::string("no count record: ") + kRcpIncompleteText);
  if (!facts.header || !facts.termination) Problem(path, facts.lines, kVtcIncompleteText);

  FileBuffer image;
  if (NoMemoryEndsTheFile(ReadWholeFile(&panel_, path, image)) == UPD_OK) {
    for (int family : {kFamilyQZ600, kFamilyMV2}) {
      Fact(std::string("special block place for ") + FamilyName(family) + ": " +
           (HasSplicePlace(image, family) ? "present" : "missing"));
      const unsigned line = FirstLineInSpecialBlock(image, family);
      if (line > 0) {
        Fact(path + ":" + std::to_string(line) + ": note: a special block spliced for " +
             FamilyName(family) + " replaces the image's bytes at " + BlockRangeText(family));
      }
    }
  }
  boxes_.Clear();
}

}  // namespace

CheckReport CheckStation(const std::string& appDir) { return Checker().Station(appDir); }

CheckReport CheckImageFile(const std::string& path) { return Checker().Image(path); }
