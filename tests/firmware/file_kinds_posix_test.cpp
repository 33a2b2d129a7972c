// Paths that are no regular files, named as firmware: a character device
// (which reads without end), a FIFO (whose open would wait for a writer) and
// a folder. Every reader refuses them at once with a fault that names the
// path and what it is, and nothing reaches the scanner.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "firmware/file_access.h"
#include "support/firmware_fixture.h"
#include "firmware/srecord_reader.h"
#include "update/file_send.h"

using fwtest::FirmwareTest;
using fwtest::SimPanel;

namespace {

// A reader of firmware files: its fault for the path.
struct Reader {
  const char* name;
  std::function<ReadFault(const std::string&)> read;
};

const Reader kReaders[] = {
    {"ReadWholeFile", [](const std::string& path) {
       FileBuffer image;
       const ReadFault fault = ReadWholeFile(path, image);
       EXPECT_EQ(image.data, nullptr);
       return fault;
     }},
    {"ReadHdrStr", [](const std::string& path) {
       uint8_t header[256];
       return ReadHdrStr(path, header, sizeof header);
     }},
    {"ReadRCPFile", [](const std::string& path) {
       ImageRecord header, count, termination;
       ImageRecord* data = nullptr;
       uint32_t expected = 0;
       const ReadFault fault = ReadRCPFile(path, &header, &data, &count, &termination, &expected);
       EXPECT_EQ(data, nullptr);
       return fault;
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
  SimPanel sim(ScannerFamily::kQZ600);
  for (const auto& p : paths) {
    const std::string text = "File " + p.path + " is " + p.what + ", not a regular file";
    for (const Reader& reader : kReaders) {
      SCOPED_TRACE(p.path + " " + reader.name);
      const ReadFault fault = reader.read(p.path);
      EXPECT_EQ(fault.status, UPD_FILE_OPEN_FAILED);
      EXPECT_EQ(fault.text, text);
    }
    // The raw download shows the reader's fault in the port's box.
    SCOPED_TRACE(p.path + " SendFile");
    boxes_.Clear();
    EXPECT_EQ(SendFile(sim.Panel()->m_session, *sim.Panel(), p.path, "PLD"), UPD_FILE_OPEN_FAILED);
    ASSERT_EQ(boxes_.Boxes().size(), 1u);
    EXPECT_EQ(boxes_.Boxes()[0].caption, "COM9: Error");
    EXPECT_EQ(boxes_.Boxes()[0].text, text);
  }
  EXPECT_EQ(sim.Received(), "");
}

}  // namespace
