// Streaming a raw firmware file to the scanner: SendFile sends 256 KB over a
// sim line paced at the scanner's 57600 bits/s (10 bits per byte) while the
// far end takes the bytes as fast as they arrive. The share of the line rate
// used tells what the gaps between the 100-byte blocks cost; the goal is 97%
// or more.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "platform/message_recorder.h"
#include "platform/sim/sim_line.h"
#include "update/file_send.h"

namespace {

constexpr uint32_t kLineBitsPerSecond = 57600;
constexpr size_t kFileBytes = 256 * 1024;

std::string WriteFirmware() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "vt_send_file_bench.bin").string();
  std::vector<char> bytes(kFileBytes);
  uint32_t seed = 7;
  for (char& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<char>(seed >> 16);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

void BM_SendFileLineShare(benchmark::State& state) {
  const std::string path = WriteFirmware();
  platform::ScopedMessageRecorder boxes;

  auto line = platform::sim::SimLine::Create();
  platform::sim::SimPortRegistry::Instance().Add("COM9", line);
  platform::sim::SimPortRegistry::Instance().InstallAsOpener();
  line->SetPower(true);
  line->SetPacing(kLineBitsPerSecond);

  CProgrammerDlg dlg;
  CCommDialog panel(9, "COM9", &dlg);
  panel.OpenPort();

  // The scanner's side takes everything as it comes off the wire.
  std::atomic<bool> stop{false};
  std::atomic<size_t> taken{0};
  std::thread drain([&] {
    std::vector<uint8_t> buffer(4096);
    while (!stop.load()) taken += line->FarRead(buffer.data(), buffer.size(), 20);
  });

  double lineSeconds = 0;
  double wallSeconds = 0;
  for (auto _ : state) {
    const size_t before = taken.load();
    const auto start = std::chrono::steady_clock::now();
    const UpdateStatus result = SendFile(panel.m_session, panel, path, "FPGA");
    // The last block is on the wire once the far end has taken it.
    while (taken.load() < before + kFileBytes) std::this_thread::sleep_for(std::chrono::microseconds(200));
    const auto end = std::chrono::steady_clock::now();
    if (result != UPD_OK) {
      state.SkipWithError("SendFile failed");
      break;
    }
    const double seconds = std::chrono::duration<double>(end - start).count();
    state.SetIterationTime(seconds);
    wallSeconds += seconds;
    lineSeconds += static_cast<double>(kFileBytes) * 10.0 / kLineBitsPerSecond;
  }

  stop.store(true);
  drain.join();
  platform::sim::SimPortRegistry::Instance().Remove("COM9");
  std::filesystem::remove(path);

  state.counters["line_share_percent"] = wallSeconds > 0 ? 100.0 * lineSeconds / wallSeconds : 0;
  state.counters["bytes_per_second"] = benchmark::Counter(
      static_cast<double>(kFileBytes), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_SendFileLineShare)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
