// The pre-flight of one image against the S-record tool of the trade: the
// installed program's `vantorel-cli --check-image FILE` and
// `srec_cat FILE -o /dev/null` on the same image of 100,000 data records, in
// one run, as whole processes the way an operator starts them. The ratio
// counter is srec_cat's time over ours: above 1 our check is the faster.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "demo_firmware.h"

namespace {

constexpr uint32_t kRecords = 100000;
constexpr uint32_t kRecordBytes = 28;

// Header, 100,000 ascending S3 records of 28 bytes (some of them run over a
// 64 KB boundary) and the termination record. No count record: 100,000 does
// not fit the standard one, and srec_cat reads only that form.
std::string WriteImage() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "vt_check_image_bench.s19").string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string tag = "QZ6 RCP bench image";
  out << vtdemo::SRecord('0', 0, std::vector<uint8_t>(tag.begin(), tag.end()));
  std::vector<uint8_t> data(kRecordBytes);
  for (uint32_t i = 0; i < kRecords; ++i) {
    for (uint32_t b = 0; b < kRecordBytes; ++b) data[b] = static_cast<uint8_t>(i * 7 + b);
    out << vtdemo::SRecord('3', 0x10000 + i * kRecordBytes, data);
  }
  out << vtdemo::SRecord('7', 0x10000, {});
  return path;
}

double Seconds(const std::string& command, bool& failed) {
  const auto start = std::chrono::steady_clock::now();
  failed = std::system(command.c_str()) != 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CheckImageVsSrecCat(benchmark::State& state) {
  if (std::system("srec_cat -version > /dev/null 2>&1") != 0) {
    state.SkipWithError("srec_cat cannot be run (tools/install-deps installs srecord)");
    return;
  }
  const std::string cli = std::string(VT_BINARY_DIR) + "/cli/vantorel-cli";
  const std::string path = WriteImage();
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    bool failed = false;
    ours += Seconds(cli + " --check-image " + path + " > /dev/null", failed);
    if (failed) {
      state.SkipWithError("vantorel-cli --check-image found a problem or did not run");
      break;
    }
    theirs += Seconds("srec_cat " + path + " -o /dev/null", failed);
    if (failed) {
      state.SkipWithError("srec_cat did not read the image");
      break;
    }
  }
  const double n = static_cast<double>(state.iterations());
  if (n > 0 && ours > 0) {
    state.counters["check_image_s"] = ours / n;
    state.counters["srec_cat_s"] = theirs / n;
    state.counters["srec_cat_over_check"] = theirs / ours;
  }
  std::filesystem::remove(path);
}

BENCHMARK(BM_CheckImageVsSrecCat)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
