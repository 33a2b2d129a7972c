// The pre-flight of one image against the S-record tool of the trade: the
// installed program's `vantorel-cli --check-image FILE` and
// `srec_cat FILE -o /dev/null` on the same image of 100,000 data records, in
// one run, as whole processes the way an operator starts them. The ratio
// counter is srec_cat's time over ours: above 1 our check is the faster. The
// peak memory of each process (its largest resident set, from the system's
// account of the child) is given against the file's size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// One run of a program as a child process, its output thrown away.
struct Run {
  double seconds = 0;
  double peakBytes = 0;  // the child's largest resident set
  bool failed = true;
};

Run RunProgram(std::vector<std::string> args) {
  Run run;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return run;
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child) return run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakBytes = static_cast<double>(usage.ru_maxrss) * 1024.0;  // kilobytes on Linux
  run.failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  return run;
}

void BM_CheckImageVsSrecCat(benchmark::State& state) {
  if (std::system("srec_cat -version > /dev/null 2>&1") != 0) {
    state.SkipWithError("srec_cat cannot be run (tools/install-deps installs srecord)");
    return;
  }
  const std::string cli = std::string(VT_BINARY_DIR) + "/cli/vantorel-cli";
  const std::string path = WriteImage();
  const double fileBytes = static_cast<double>(std::filesystem::file_size(path));
  double ours = 0, theirs = 0, ourPeak = 0, theirPeak = 0;
  for (auto _ : state) {
    const Run check = RunProgram({cli, "--check-image", path});
    if (check.failed) {
      state.SkipWithError("vantorel-cli --check-image found a problem or did not run");
      break;
    }
    const Run srecCat = RunProgram({"srec_cat", path, "-o", "/dev/null"});
    if (srecCat.failed) {
      state.SkipWithError("srec_cat did not read the image");
      break;
    }
    ours += check.seconds;
    theirs += srecCat.seconds;
    ourPeak = std::max(ourPeak, check.peakBytes);
    theirPeak = std::max(theirPeak, srecCat.peakBytes);
  }
  const double n = static_cast<double>(state.iterations());
  constexpr double kMiB = 1024.0 * 1024.0;
  if (n > 0 && ours > 0) {
    state.counters["check_image_s"] = ours / n;
    state.counters["srec_cat_s"] = theirs / n;
    state.counters["srec_cat_over_check"] = theirs / ours;
    state.counters["file_MiB"] = fileBytes / kMiB;
    state.counters["check_peak_MiB"] = ourPeak / kMiB;
    state.counters["srec_cat_peak_MiB"] = theirPeak / kMiB;
    state.counters["check_peak_over_file"] = ourPeak / fileBytes;
  }
  std::filesystem::remove(path);
}

BENCHMARK(BM_CheckImageVsSrecCat)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
