// Paths that are no regular files, named as firmware: a character device
// (which reads without end), a FIFO (whose open would wait for a writer) and
// a folder. Every reader refuses them at once with a box that names the path
// and what it is, and nothing reaches the scanner.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "firmware/file_access.h"
#include "support/firmware_fixture.h"
#include "update/image_record.h"

using fwtest::FirmwareTest;
using fwtest::SimPanel;

namespace {

struct Reader {
  const char* name;
  std::function<UpdateStatus(CCommDialog*, const std::string&)> read;
};

const Reader kReaders[] = {
    {"SendFile", [](CCommDialog* panel, const std::string& path) {
       return SendFile(panel->m_session, *panel, path, "PLD");
     }},
    {"ReadWholeFile", [](CCommDialog* panel, const std::string& path) {
       FileBuffer image;
       const UpdateStatus result = ReadWholeFile(panel->m_session, *panel, path, image);
       EXPECT_EQ(image.data, nullptr);
       return result;
     }},
    {"ReadHdrStr", [](CCommDialog* panel, const std::string& path) {
       uint8_t header[256];
       return ReadHdrStr(*panel, path, header, sizeof header);
     }},
    {"ReadRCPFile", [](CCommDialog* panel, const std::string& path) {
       ImageRecord header, count, termination;
       ImageRecord* data = nullptr;
       uint32_t expected = 0;
       const UpdateStatus result =
           ReadRCPFile(panel->m_session, *panel, path, &header, &data, &count, &termination, &expected);
       EXPECT_EQ(data, nullptr);
       return result;
     }},
};

TEST_F(FirmwareTest, DevicesPipesAndFoldersAreRefusedByEveryReader) {
  const std::string fifo = dir_ / "firmware.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* what;
  } paths[] = {
      {"/dev/zero", "a device"},
      {fifo, "a pipe"},
      {dir_.Path(), "a folder"},
  };
  SimPanel sim(kFamilyQZ600);
  for (const auto& p : paths) {
    for (const Reader& reader : kReaders) {
      SCOPED_TRACE(p.path + " " + reader.name);
      boxes_.Clear();
      EXPECT_EQ(reader.read(sim.Panel(), p.path), UPD_FILE_OPEN_FAILED);
      ASSERT_EQ(boxes_.Boxes().size(), 1u);
      EXPECT_EQ(boxes_.Boxes()[0].caption, "COM9: Error");
      EXPECT_EQ(boxes_.Boxes()[0].text,
                "File " + p.path + " is " + p.what + ", not a regular file");
    }
  }
  EXPECT_EQ(sim.Received(), "");
}

}  // namespace
