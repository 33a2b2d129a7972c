// The plant's results database at line speed: a backlog of runs in
// results.csv sent through a real ODBC driver (a SQLite file, and a
// PostgreSQL server the bench starts as the tests do), one transaction per
// run as the station sends them. Reports runs per second; the time of one
// iteration is the catch-up time of the whole backlog after an outage.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "app/result_log.h"
#include "app/results_db.h"
#include "link/scanner_family.h"
#include "support/db_servers.h"

namespace {

RunRecord BenchRecord(int i) {
  RunRecord r;
  r.start = {2026, 12, 10, 8, i / 60 % 60, i % 60};
  r.port = "COM" + std::to_string(i % 8 + 1);
  r.family = kFamilyMV2;
  r.loaderVersion = 30102;
  r.boardVersion = 51;
  r.specialBlock.assign(64, static_cast<uint8_t>(i));
  r.components = {{"RCP", "/fw/rcp.s19", 98304, ComponentOutcome::kWritten, std::string(64, 'a')},
                  {"VTC", "/fw/vtc.s19", 4096, ComponentOutcome::kWritten, std::string(64, 'b')},
                  {"FPGA", "/fw/fpga.bin", 3072, ComponentOutcome::kWritten, std::string(64, 'c')},
                  {"UIM", "/fw/uim.bin", 1536, ComponentOutcome::kWritten, std::string(64, 'd')},
                  {"LDR", "/fw/ldr.s19", 99000, ComponentOutcome::kWritten, std::string(64, 'e')}};
  r.result = i % 10 == 0 ? 2 : 0;
  r.outcome = r.result == 0 ? "Programming Done." : "Programming sequence failed!";
  r.durationMs = 83456;
  return r;
}

void CatchUp(benchmark::State& state, const std::string& connection) {
  const int runs = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    testsupport::ScratchDir folder;
    for (int i = 0; i < runs; ++i) {
      AppendResult(folder.Path(), BenchRecord(i), {"BENCH", "+01:00", NewRunId()});
    }
    CResultsStore store(folder.Path(), {connection, "BENCH"});
    state.ResumeTiming();
    const CResultsStore::SyncResult result = store.SendPending();
    if (!result.ok || result.sent != runs) state.SkipWithError(result.error.text.c_str());
  }
  state.counters["runs/s"] =
      benchmark::Counter(static_cast<double>(runs) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_CatchUpSqlite(benchmark::State& state) {
  if (!dbtest::SqliteMissing().empty()) return state.SkipWithError("no SQLite ODBC driver");
  testsupport::ScratchDir db;
  CatchUp(state, dbtest::SqliteConnection(db / "line.db"));
}
BENCHMARK(BM_CatchUpSqlite)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CatchUpPostgres(benchmark::State& state) {
  if (!dbtest::PgMissing().empty()) return state.SkipWithError("no PostgreSQL server binaries");
  dbtest::PgServer server;
  if (!server.ok()) return state.SkipWithError("the PostgreSQL server did not start");
  CatchUp(state, server.Connection());
}
BENCHMARK(BM_CatchUpPostgres)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
