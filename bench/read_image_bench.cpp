// Reading an RCP/VTC image of 100,000 data records into address order: the
// time the operator waits at "Reading RCP file." before the download starts.
// Ascending files are the rule; descending and shuffled ones show that the
// ordering stays near-linear whatever the file's order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "platform/message_recorder.h"
#include "update/image_record.h"

namespace {

constexpr int kRecords = 100000;

std::string Record(char type, const std::vector<uint8_t>& fields) {
  uint32_t sum = static_cast<uint32_t>(fields.size() + 1);
  char text[8];
  std::string line = "S";
  line += type;
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(fields.size() + 1));
  line += text;
  for (uint8_t byte : fields) {
    std::snprintf(text, sizeof text, "%02X", byte);
    line += text;
    sum += byte;
  }
  std::snprintf(text, sizeof text, "%02X", ~sum & 0xFFu);
  return line + text + "\r\n";
}

// An image of kRecords data records of 16 bytes; order 0 ascending, 1
// descending, 2 shuffled.
std::string WriteImage(int order) {
  std::vector<uint32_t> index(kRecords);
  std::iota(index.begin(), index.end(), 0u);
  if (order == 1) std::reverse(index.begin(), index.end());
  if (order == 2) std::shuffle(index.begin(), index.end(), std::mt19937(12345));

  const std::string path = (std::filesystem::temp_directory_path() /
                            ("vt_read_image_bench_" + std::to_string(order) + ".s19"))
                               .string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << Record('0', {0, 0, 'H', 'D', 'R'});
  for (uint32_t i : index) {
    const uint32_t address = i * 16;
    std::vector<uint8_t> fields{static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                                static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    for (int b = 0; b < 16; ++b) fields.push_back(static_cast<uint8_t>(i + b));
    out << Record('3', fields);
  }
  out << Record('5', {0, static_cast<uint8_t>(kRecords >> 16), static_cast<uint8_t>(kRecords >> 8),
                      static_cast<uint8_t>(kRecords)});
  out << Record('7', {0, 0, 0, 0});
  return path;
}

void BM_ReadImage(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const std::string path = WriteImage(order);
  platform::ScopedMessageRecorder boxes;
  CProgrammerDlg dlg;
  // Port 19 has no line behind it: the reader only names it in its boxes.
  CCommDialog panel(19, "COM19", &dlg);

  for (auto _ : state) {
    ImageRecord header, count, termination;
    ImageRecord* data = nullptr;
    uint32_t total = 0;
    const UpdateStatus result =
        ReadRCPFile(panel.m_session, panel, path, &header, &data, &count, &termination, &total);
    if (result != UPD_OK) {
      state.SkipWithError("the image was not read");
      break;
    }
    benchmark::DoNotOptimize(data);
    state.PauseTiming();
    FreeRecordList(data);
    state.ResumeTiming();
  }
  state.counters["records_per_second"] =
      benchmark::Counter(static_cast<double>(kRecords), benchmark::Counter::kIsIterationInvariantRate);
  std::filesystem::remove(path);
}

BENCHMARK(BM_ReadImage)->ArgName("order")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
