#include "app/ini_file.h"

#include <gtest/gtest.h>

#include "support/app_fixture.h"

namespace {

using apptest::ReadFile;
using apptest::ScratchDir;
using apptest::WriteFile;

const char kSample[] =
    "; settings of the programming station\n"
    "[Common]\n"
    "PermitLoaderOverwrite = y \n"
    "LogPath=\n"
    "COM5=log\n"
    "# a note\n"
    "Quoted=\"  spaced  \"\n"
    "\n"
    "[qz6]\n"
    "RCP=first.run\n"
    "rcp=second.run\n"
    "[QZ6]\n"
    "RCP=third.run\n";

struct ReadCase {
  const char* section;
  const char* key;
  const char* def;
  const char* expected;
};

TEST(IniFileRead, ValuesDefaultsAndNames) {
  ScratchDir dir;
  WriteFile(dir / "a.ini", kSample);
  CIniFile ini(dir / "a.ini");
  const ReadCase cases[] = {
      {"Common", "PermitLoaderOverwrite", "n", "y"},  // blanks around the value dropped
      {"COMMON", "permitloaderoverwrite", "n", "y"},  // names without regard to case
      {"Common", "LogPath", "dflt", ""},              // present but empty: empty, not default
      {"Common", "Missing", "dflt", "dflt"},          // absent: default
      {"Nowhere", "Key", "dflt", "dflt"},             // absent section: default
      {"Common", "COM5", "", "log"},
      {"Common", "# a note", "x", "x"},               // comment lines hold no keys
      {"Common", "Quoted", "", "  spaced  "},         // quotes dropped, inner blanks kept
      {"QZ6", "RCP", "", "first.run"},                // first section and first key win
  };
  for (const ReadCase& c : cases) {
    EXPECT_EQ(ini.GetString(c.section, c.key, c.def), c.expected)
        << "[" << c.section << "] " << c.key;
  }
}

TEST(IniFileRead, MissingFileGivesDefaults) {
  ScratchDir dir;
  CIniFile ini(dir / "none.ini");
  EXPECT_EQ(ini.GetString("Common", "LogPath", "d"), "d");
  EXPECT_TRUE(ini.GetSection("Ports").empty());
}

TEST(IniFileRead, LongValuesAreCutTo259Characters) {
  ScratchDir dir;
  std::string value(300, 'v');
  WriteFile(dir / "a.ini", "[S]\nK=" + value + "\n");
  CIniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.GetString("S", "K", ""), value.substr(0, 259));
  EXPECT_EQ(ini.GetString("S", "Absent", value), value.substr(0, 259));
  EXPECT_EQ(ini.GetSection("S").at(0).second.size(), 259u);
}

TEST(IniFileRead, CrLfLinesReadLikeLfLines) {
  ScratchDir dir;
  WriteFile(dir / "a.ini", "[Common]\r\nLogPath=x\r\nCOM1=LOG\r\n");
  CIniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.GetString("Common", "LogPath", ""), "x");
  EXPECT_EQ(ini.GetString("Common", "COM1", ""), "LOG");
}

TEST(IniFileRead, SectionListsItsEntriesInOrder) {
  ScratchDir dir;
  WriteFile(dir / "a.ini", "[Ports]\nCOM1=/dev/ttyUSB0\n; x\nZEV0 = /dev/serial/by-id/zev\n[Other]\nA=1\n");
  auto entries = CIniFile(dir / "a.ini").GetSection("ports");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], (std::pair<std::string, std::string>{"COM1", "/dev/ttyUSB0"}));
  EXPECT_EQ(entries[1], (std::pair<std::string, std::string>{"ZEV0", "/dev/serial/by-id/zev"}));
}

struct WriteCase {
  const char* name;
  const char* before;  // file content, or null for no file
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

// Each case on a fresh file: one write, then the whole file compared.
template <size_t N>
void ExpectWrites(const WriteCase (&cases)[N]) {
  for (const WriteCase& c : cases) {
    ScratchDir dir;
    std::string path = dir / "a.ini";
    if (c.before) WriteFile(path, c.before);
    CIniFile(path).WriteString(c.section, c.key, c.value);
    EXPECT_EQ(ReadFile(path), c.after) << c.name;
  }
}

TEST(IniFileWrite, ReplacesInPlaceAppendsAndKeepsOtherLines) {
  const WriteCase cases[] = {
      {"replace keeps position, key spelling and comments",
       "; top\n[Common]\n; why\nlogpath = old\nCOM1=LOG\n",
       "COMMON", "LogPath", "new",
       "; top\n[Common]\n; why\nlogpath =new\nCOM1=LOG\n"},
      {"new key goes after the section's last line, before the blank separator",
       "[Common]\nA=1\n\n[QZ6]\nRCP=x\n",
       "common", "B", "2",
       "[Common]\nA=1\nB=2\n\n[QZ6]\nRCP=x\n"},
      {"missing section is added at the end",
       "[Common]\nA=1\n",
       "MV2", "Baud", "57600",
       "[Common]\nA=1\n[MV2]\nBaud=57600\n"},
      {"missing file is created",
       nullptr, "Common", "LogPath", "",
       "[Common]\nLogPath=\n"},
      {"empty value is written as an empty value",
       "[QZ6]\nRCP=a.run\n", "QZ6", "RCP", "",
       "[QZ6]\nRCP=\n"},
      {"CR LF line ends are kept, last line gets its end",
       "[Common]\r\nA=1\r\n;c\r\n[QZ6]\r\nRCP=x", "QZ6", "DSP", "d.sss",
       "[Common]\r\nA=1\r\n;c\r\n[QZ6]\r\nRCP=x\r\nDSP=d.sss\r\n"},
      {"a line end inside a value does not make a new line",
       "[Common]\n", "Common", "LogPath", "a\n[QZ6]\nRCP=evil",
       "[Common]\nLogPath=a\n"},
      {"keys before any section are left alone",
       "Stray=1\n[Common]\nA=1\n", "Common", "Stray", "2",
       "Stray=1\n[Common]\nA=1\nStray=2\n"},
  };
  ExpectWrites(cases);
}

TEST(IniFileWrite, UntouchedLinesStayByteForByte) {
  const WriteCase cases[] = {
      {"LF lines of a CR LF file stay LF",
       "[Common]\r\nA=1\n;c\r\nB=2\n", "Common", "A", "9",
       "[Common]\r\nA=9\n;c\r\nB=2\n"},
      {"a new line in a mixed file takes CR LF, its neighbours keep theirs",
       "[Common]\nA=1\r\n[QZ6]\nR=x\n", "Common", "B", "2",
       "[Common]\nA=1\r\nB=2\r\n[QZ6]\nR=x\n"},
      {"a last line ending in CR keeps it",
       "[Common]\nA=1\nB=2\r", "Common", "A", "9",
       "[Common]\nA=9\nB=2\r"},
      {"a last line ending in CR keeps it when lines follow",
       "[Common]\nA=1\r", "QZ6", "R", "x",
       "[Common]\nA=1\r\n[QZ6]\nR=x\n"},
      {"a last line without an end stays so while nothing follows it",
       "[Common]\nA=1\n[QZ6]\nR=x", "Common", "A", "2",
       "[Common]\nA=2\n[QZ6]\nR=x"},
      {"a byte-order mark stays and the section behind it is found",
       "\xEF\xBB\xBF[Common]\nA=1\n", "Common", "A", "2",
       "\xEF\xBB\xBF[Common]\nA=2\n"},
      {"a key added behind a byte-order mark goes into that section",
       "\xEF\xBB\xBF[Common]\r\nA=1\r\n", "Common", "B", "3",
       "\xEF\xBB\xBF[Common]\r\nA=1\r\nB=3\r\n"},
      {"a file of a byte-order mark only keeps it",
       "\xEF\xBB\xBF", "Common", "A", "1",
       "\xEF\xBB\xBF[Common]\nA=1\n"},
  };
  ExpectWrites(cases);
}

TEST(IniFileRead, ByteOrderMarkAndLoneCrHideNothing) {
  ScratchDir dir;
  WriteFile(dir / "a.ini", "\xEF\xBB\xBF[Common]\nLogPath=x\nCOM1=LOG\r");
  CIniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.GetString("Common", "LogPath", "d"), "x");
  EXPECT_EQ(ini.GetString("Common", "COM1", ""), "LOG");
  EXPECT_EQ(ini.GetSection("Common").size(), 2u);
}

TEST(IniFileWrite, WrittenValueReadsBack) {
  ScratchDir dir;
  CIniFile ini(dir / "a.ini");
  ini.WriteString("QZ6", "RCP", "C:\\fw\\rcp.run");
  ini.WriteString("QZ6", "LDR", "ldr.run");
  ini.WriteString("QZ6", "RCP", "other.run");
  EXPECT_EQ(ini.GetString("qz6", "rcp", ""), "other.run");
  EXPECT_EQ(ini.GetString("QZ6", "LDR", ""), "ldr.run");
}

}  // namespace
