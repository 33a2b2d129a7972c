#include "app/preflight.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>

#include "app/ini_file.h"
#include "app/station_settings.h"
#include "app/settings_table.h"
#include "firmware/file_access.h"
#include "firmware/hex_digit.h"
#include "firmware/loader_image.h"
#include "firmware/srecord_reader.h"
#include "platform/message_recorder.h"
#include "update/engines.h"
#include "update/programming_steps.h"
#include "update/send_proc.h"

namespace {

using Setting = SettingKey;

// The start of a problem for a file that does not fit the memory left: the
// check goes on with the next file.
constexpr const char kNoMemoryText[] = "not enough memory to read";

// A reader that had no room for the file ends the file's check the way a
// failed allocation of the check itself does, so the report says so and
// never takes the shortage for a fault of the file.
const ReadFault& NoMemoryEndsTheFile(const ReadFault& fault) {
  if (fault.status == UPD_NO_MEMORY) throw std::bad_alloc();
  return fault;
}

// The families whose files a settings section holds.
std::vector<ScannerFamily> SectionFamilies(const std::string& section) {
  std::vector<ScannerFamily> families;
  for (const ScannerFamilyRow& row : ScannerFamilies()) {
    if (section == row.iniSection) families.push_back(row.family);
  }
  return families;
}

const char* FamilyName(ScannerFamily family) { return FamilyRow(family).name; }

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}

// The special block's bytes of a family as "1FFC0-1FFFF" or "FFC0-FFFF".
std::string BlockRangeText(ScannerFamily family) {
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

// What the image reader found in an S-record file.
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

// Keeps of an image's records only what the report says of them: the
// header's text, which frame records there are, the data records' range and
// the blocks a download cut at 64 KB sends (from their addresses and byte
// counts alone, put into the order they are sent in).
class FactsSink : public SRecordSink {
 public:
  bool Take(const SRecordLine& record) override {
    switch (record.type) {
      case 0:
        std::copy(record.text, record.text + record.length, header_.text);
        header_.length = static_cast<int32_t>(record.length);
        header_.byteCount = record.byteCount;
        break;
      case 5: count_ = true; break;
      case 7: termination_ = true; break;
      default:
        data_.push_back({record.address, record.byteCount});
        break;
    }
    return true;
  }

  void Finish(ImageFacts& facts) {
    facts.header = header_.length > 0;
    facts.count = count_;
    facts.termination = termination_;
    if (facts.header) facts.tag = HeaderText(header_);
    for (const DataRecord& r : data_) {
      const uint32_t last = r.address + (r.byteCount > 5 ? r.byteCount - 6 : 0);
      if (facts.data == 0 || r.address < facts.low) facts.low = r.address;
      if (facts.data == 0 || last > facts.high) facts.high = last;
      ++facts.data;
    }
    // Stable: records with equal addresses are sent in file order. Images
    // are written in ascending order as a rule.
    auto lower = [](const DataRecord& a, const DataRecord& b) { return a.address < b.address; };
    if (!std::is_sorted(data_.begin(), data_.end(), lower)) std::stable_sort(data_.begin(), data_.end(), lower);
    ImageBlockCounter blocks;
    for (const DataRecord& r : data_) blocks.Add(r.address, r.byteCount, DataRunsOver64K(r.address, r.byteCount));
    facts.blocks = blocks.Blocks();
  }

 private:
  struct DataRecord {
    uint32_t address;
    uint32_t byteCount;
  };
  ImageRecord header_;
  bool count_ = false;
  bool termination_ = false;
  std::vector<DataRecord> data_;
};

class Checker {
 public:
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
  // A reader's fault, when it has a text, becomes a problem at file:line.
  void FaultAsProblem(const ReadFault& fault, const std::string& file, unsigned line) {
    if (!fault.text.empty()) Problem(file, line, fault.text);
  }

  // Reads an image file the way the RCP and VTC downloads read it; text,
  // when given, is the file's bytes already in memory, read with the same
  // reader but keeping only the facts.
  bool ReadImage(const std::string& path, const std::string& failFile, unsigned failLine,
                 ImageFacts& facts, const FileBuffer* text = nullptr);
  void ImageLines(const ImageFacts& facts);
  std::vector<ScannerFamily> RcpFamilies(const std::string& path);
  std::vector<ScannerFamily> RcpFamilies(const uint8_t* header, bool decoded);
  // Whether the loader image has a place for the special block on a
  // scanner of the family; fault, when given, gets why not.
  bool HasSplicePlace(const FileBuffer& image, ScannerFamily family, ReadFault* fault = nullptr);
  // A loader image with bytes of its own where the special block lives: the
  // splice leaves them out, so what the station sends is not the file. One
  // line at the first such record: a problem when the block is kept for a
  // family of the setting (the station changes the image), else a note
  // among the facts (the file goes as it stands, over the scanner's block).
  void BytesInSpecialBlock(const FileBuffer& image, const std::string& path,
                           const std::vector<ScannerFamily>& families, bool spliced);

  void CheckRcp(const Setting& setting, const std::string& path, const std::string& ini, int line);
  void CheckVtc(const std::string& path, const std::string& ini, int line);
  void CheckLdr(const Setting& setting, const std::string& path, const std::string& ini, int line);
  void CheckRaw(const std::string& path, const std::string& ini, int line);

  // The recorder is installed first and removed last: every box of the
  // check (the settings' loading shows some) is the check's own.
  platform::ScopedMessageRecorder boxes_;
  // The station's settings, loaded as the station loads them; made only by a
  // check of the station.
  std::unique_ptr<CStationSettings> dlg_;
  CheckReport report_;
};

bool Checker::ReadImage(const std::string& path, const std::string& failFile, unsigned failLine,
                        ImageFacts& facts, const FileBuffer* text) {
  FactsSink sink;
  ReadFault fault;
  if (text != nullptr) {
    fault = ReadSRecordText(std::string_view(text->data.get(), text->size), sink, nullptr, &facts.lines);
  } else {
    // As the download engines read it, records and all: a file whose records
    // do not fit the memory of the station does not pass the check either.
    ImageRecord header, count, termination;
    ImageRecord* first = nullptr;
    uint32_t expected = 0;
    fault = ReadRCPFile(path, &header, &first, &count, &termination, &expected, nullptr, &facts.lines);
    std::unique_ptr<ImageRecord, void (*)(ImageRecord*)> list(first, FreeRecordList);
    auto take = [&sink](const ImageRecord& r, int type) {
      SRecordLine line;
      line.type = type;
      line.text = r.text;
      line.length = static_cast<size_t>(r.length);
      line.byteCount = r.byteCount;
      line.address = r.address;
      sink.Take(line);
    };
    if (header.length > 0) take(header, 0);
    if (count.length > 0) take(count, 5);
    if (termination.length > 0) take(termination, 7);
    for (const ImageRecord* r = first; r; r = r->next) take(*r, 3);
  }
  NoMemoryEndsTheFile(fault);
  if (!fault.Ok()) {
    // A fault in a line points at the line; a file that cannot be read at
    // the place that names it.
    if (fault.status == UPD_BAD_IMAGE) {
      FaultAsProblem(fault, path, facts.lines);
    } else {
      FaultAsProblem(fault, failFile, failLine);
    }
    return false;
  }
  sink.Finish(facts);
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

std::vector<ScannerFamily> Checker::RcpFamilies(const std::string& path) {
  uint8_t header[kRcpHeaderBytes] = {};
  const bool decoded = NoMemoryEndsTheFile(ReadHdrStr(path, header, kRcpHeaderBytes)).Ok();
  return RcpFamilies(header, decoded);
}

std::vector<ScannerFamily> Checker::RcpFamilies(const uint8_t* header, bool decoded) {
  std::vector<ScannerFamily> families;
  if (!decoded) return families;
  for (const ScannerFamilyRow& row : ScannerFamilies()) {
    if (RcpSuitsFamily(header, row.family)) families.push_back(row.family);
  }
  return families;
}

bool Checker::HasSplicePlace(const FileBuffer& image, ScannerFamily family, ReadFault* fault) {
  const ReadFault place = NoMemoryEndsTheFile(CheckSpecialBlockPlace(image, family));
  if (fault) *fault = place;
  return place.Ok();
}

void Checker::BytesInSpecialBlock(const FileBuffer& image, const std::string& path,
                                  const std::vector<ScannerFamily>& families, bool spliced) {
  for (ScannerFamily family : families) {
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
  const std::vector<ScannerFamily> serves = RcpFamilies(path);
  std::vector<std::string> names;
  for (ScannerFamily family : serves) names.push_back(FamilyName(family));
  Fact("serves " + (names.empty() ? std::string("no family") : Join(names, ", ")));

  const std::vector<ScannerFamily> section = SectionFamilies(setting.section);
  bool any = false;
  for (ScannerFamily family : section) {
    if (std::find(serves.begin(), serves.end(), family) == serves.end()) continue;
    any = true;
    // A QZ500 takes the image in blocks cut at 64 KB; the others in one pass.
    const ScannerFamilyRow& row = FamilyRow(family);
    const std::string scanner = std::string(row.article) + " " + row.name;
    if (row.rcpInBlocks) {
      Fact("64 KB blocks to " + scanner + ": " + std::to_string(facts.blocks));
    } else {
      Fact("sent to " + scanner + " in one pass");
    }
    const bool onePass = !row.rcpInBlocks;
    if (!facts.header || !facts.termination || (onePass && !facts.count)) {
      Problem(path, facts.lines, kRcpIncompleteText);
      break;
    }
  }
  // An image for another platform: every scanner of this section refuses it.
  if (!any) {
    for (ScannerFamily family : section) Problem(path, 1, RcpRefusalText(family));
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
  // The special block is kept on QZ600 and MV2 scanners when the station
  // preserves serial numbers; the loader then goes through the splice.
  std::vector<ScannerFamily> splicing;
  if (dlg_->m_bPreserveSerialNumber) {
    for (ScannerFamily family : SectionFamilies(setting.section)) {
      if (FamilyRow(family).loaderKeepsSpecialBlock) splicing.push_back(family);
    }
  }
  const bool streamed = splicing.empty() || std::string(setting.section) == "QZ6";
  uint32_t size = 0;
  if (streamed) {
    const ReadFault fault = NoMemoryEndsTheFile(CheckFileToSend(path, size));
    if (!fault.Ok()) {
      FaultAsProblem(fault, ini, at);
      return;
    }
  }
  if (!splicing.empty()) {
    FileBuffer image;
    const ReadFault fault = NoMemoryEndsTheFile(ReadWholeFile(path, image));
    if (!fault.Ok()) {
      FaultAsProblem(fault, ini, at);
      return;
    }
    size = static_cast<uint32_t>(image.size);
    Fact(std::to_string(size) + " bytes");
    unsigned lines = static_cast<unsigned>(std::count(image.data.get(), image.data.get() + image.size, '\n'));
    if (image.size > 0 && image.data[image.size - 1] != '\n') ++lines;
    for (ScannerFamily family : splicing) {
      ReadFault place;
      if (HasSplicePlace(image, family, &place)) {
        Fact(std::string("special block place for ") + FamilyName(family) + ": present");
      } else {
        Fact(std::string("special block place for ") + FamilyName(family) + ": missing");
        FaultAsProblem(place, path, lines);
        Problem(path, lines, kLoaderSpliceFailedText);
      }
    }
    BytesInSpecialBlock(image, path, splicing, true);
  } else {
    Fact(std::to_string(size) + " bytes, sent as it stands (the special block is not kept)");
    FileBuffer image;
    if (NoMemoryEndsTheFile(ReadWholeFile(path, image)).Ok()) {
      BytesInSpecialBlock(image, path, SectionFamilies(setting.section), false);
    }
  }
  if (!dlg_->m_bPermitLoaderOverwrite) {
    Problem(ini, at, "Missing permission to overwrite Loader");
  }
}

void Checker::CheckRaw(const std::string& path, const std::string& ini, int line) {
  uint32_t size = 0;
  const ReadFault fault = NoMemoryEndsTheFile(CheckFileToSend(path, size));
  if (!fault.Ok()) {
    FaultAsProblem(fault, ini, static_cast<unsigned>(line));
    return;
  }
  Fact(std::to_string(size) + " bytes");
}

CheckReport Checker::Station(const std::string& appDir) {
  dlg_ = std::make_unique<CStationSettings>();
  CStationSettings& dlg = *dlg_;
  std::string dir = appDir;
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  if (dir.size() >= sizeof dlg.m_szAppDir) dir = ".";
  std::snprintf(dlg.m_szAppDir, sizeof dlg.m_szAppDir, "%s", dir.c_str());
  const std::string iniPath = dlg.GetIniPath();
  const std::string ini = kIniFileName;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(iniPath, ec)) {
    Problem(ini, 0, "no " + ini + " in " + dir + ": no firmware is configured");
    return Report();
  }
  dlg.SetPreloadDefaults();
  boxes_.Clear();
  dlg.LoadSettings();
  // The boxes of the loading, in the order of the settings table: one per file that
  // is configured but not found.
  std::vector<std::string> loading = boxes_.Texts();
  boxes_.Clear();

  // One version of the file for every key, read once.
  CIniFile file(iniPath);
  file.Hold();
  int configured = 0;
  for (const Setting& setting : SettingKeys()) {
    if (setting.kind != SettingKind::kFile) continue;
    const std::string value = file.GetString(setting.section, setting.key, "");
    if (value.empty()) continue;
    ++configured;
    const int line = file.KeyLine(setting.section, setting.key);
    Heading(std::string("[") + setting.section + "] " + setting.key + " = " + value);
    const std::string path = (dlg.*setting.text).Get();
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
    Problem(path, 0, std::string(kNoMemoryText) + " the file");
  }
  return Report();
}

void Checker::ImageBody(const std::string& path) {
  // The file is read once, whole: the image reader, the header tag and the
  // splice all look at the same bytes.
  FileBuffer image;
  {
    uint32_t size = 0;
    ReadFault fault;
    FilePtr file = OpenFirmwareFile(path, kImageOpenText, size, fault);
    if (file) fault = ReadFileToSend(path, file.get(), size, image);
    if (!NoMemoryEndsTheFile(fault).Ok()) {
      FaultAsProblem(fault, path, 0);
      return;
    }
  }
  ImageFacts facts;
  if (!ReadImage(path, path, 0, facts, &image)) return;
  ImageLines(facts);
  // The header tag as the programming sequence decodes it from the file's
  // first bytes.
  uint8_t header[kRcpHeaderBytes] = {};
  const bool decoded = DecodeHeaderTag(image.data.get(), std::min<size_t>(image.size, kHeaderTagTextBytes),
                                       header, kRcpHeaderBytes);
  std::vector<std::string> names;
  for (ScannerFamily family : RcpFamilies(header, decoded)) names.push_back(FamilyName(family));
  Fact("as RCP image serves " + (names.empty() ? std::string("no family") : Join(names, ", ")));
  Fact("64 KB blocks: " + std::to_string(facts.blocks) + " (VTC, RCP to a QZ500)");
  if (!facts.count) Fact(std::string("no count record: ") + kRcpIncompleteText);
  if (!facts.header || !facts.termination) Problem(path, facts.lines, kVtcIncompleteText);

  for (ScannerFamily family : {ScannerFamily::kQZ600, ScannerFamily::kMV2}) {
    Fact(std::string("special block place for ") + FamilyName(family) + ": " +
         (HasSplicePlace(image, family) ? "present" : "missing"));
    const unsigned line = FirstLineInSpecialBlock(image, family);
    if (line > 0) {
      Fact(path + ":" + std::to_string(line) + ": note: a special block spliced for " +
           FamilyName(family) + " replaces the image's bytes at " + BlockRangeText(family));
    }
  }
}

}  // namespace

CheckReport CheckStation(const std::string& appDir) { return Checker().Station(appDir); }

CheckReport CheckImageFile(const std::string& path) { return Checker().Image(path); }
