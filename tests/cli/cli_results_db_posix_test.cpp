// vantorel-cli's results database commands against a SQLite file through the
// SQLite ODBC driver: --init-db says what it created, --sync how many runs
// it sent and how many remain, --report sums up runs, failures and serial
// blocks from the database or, without one, from results.csv.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/result_log.h"
#include "app/results_db.h"
#include "cli_app.h"
#include "link/scanner_family.h"
#include "results_cli.h"
#include "support/cli_fixture.h"
#include "support/db_servers.h"
#include "support/scratch_dir.h"

namespace {

using clitest::CapturedStream;
using testsupport::ScratchDir;

RunRecord RunOn(int day, int family, int result, uint8_t serial) {
  RunRecord r;
  r.start = {2026, 12, day, 10, 0, serial};
  r.port = "COM1";
  r.family = family;
  r.specialBlock.assign(64, serial);
  r.components = {{"RCP", "/fw/rcp.s19", 10, result == 0 ? ComponentOutcome::kWritten
                                                          : ComponentOutcome::kFailed, ""}};
  r.result = result;
  r.outcome = result == 0 ? "Programming Done." : "Programming sequence failed!";
  r.durationMs = 1000;
  return r;
}

struct CliRun {
  int code;
  std::string out, err;
};

CliRun Cli(const ScratchDir& dir, const std::vector<std::string>& args) {
  CapturedStream out, err;
  vtcli::Environment env;
  env.out = out.File();
  env.err = err.File();
  env.currentDir = dir.Path();
  const int code = vtcli::Main(args, env);
  return {code, out.Text(), err.Text()};
}

TEST(CliResultsDb, InitSyncAndReport) {
  const std::string missing = dbtest::SqliteMissing();
  if (!missing.empty()) GTEST_SKIP() << missing;
  ScratchDir dir, db;
  testsupport::WriteFile(dir / "ZANDRIC.INI",
                         "[Results]\nConnection=" + dbtest::SqliteConnection(db / "line.db") +
                             ";PWD=hidden\nStationName=LINE-3\n");
  CliRun r = Cli(dir, {"--init-db"});
  EXPECT_EQ(r.code, vtcli::kExitOk) << r.err;
  EXPECT_EQ(r.out, "table runs: created\ntable run_components: created\n");
  r = Cli(dir, {"--init-db"});
  EXPECT_EQ(r.out, "table runs: exists already\ntable run_components: exists already\n");

  const RunRecord runs[] = {RunOn(9, kFamilyMV2, 0, 1), RunOn(9, kFamilyMV2, 8, 2),
                            RunOn(10, kFamilyQZ600, 8, 1), RunOn(10, kFamilyQZ600, 0, 3),
                            RunOn(10, kFamilyQZ600, 13, 4)};
  for (const RunRecord& run : runs) {
    ASSERT_TRUE(AppendResult(dir.Path(), run, {"LINE-3", "+01:00", NewRunId()}));
  }
  r = Cli(dir, {"--sync"});
  EXPECT_EQ(r.code, vtcli::kExitOk) << r.err;
  EXPECT_EQ(r.out, "sync: 5 runs sent, 0 runs pending\n");
  r = Cli(dir, {"--sync"});
  EXPECT_EQ(r.out, "sync: 0 runs sent, 0 runs pending\n");

  // The report reads the same from the database and from the file.
  for (const bool fromDb : {true, false}) {
    SCOPED_TRACE(fromDb ? "database" : "results.csv");
    if (!fromDb) testsupport::WriteFile(dir / "ZANDRIC.INI", "[Results]\nStationName=LINE-3\n");
    r = Cli(dir, {"--report", "--since", "2026-12-10"});
    EXPECT_EQ(r.code, vtcli::kExitOk) << r.err;
    EXPECT_NE(r.out.find("2026-12-10  QZ600        3           1       2"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("2026-12-09"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("     1  code 8     Programming sequence failed!"), std::string::npos);
    // Serial block 01..: its last run is the failed one of the 10th.
    std::string block;
    for (int i = 0; i < 64; ++i) block += "01";
    EXPECT_NE(r.out.find(block + "  2026-12-10 10:00:01  LINE-3  COM1  8  "), std::string::npos)
        << r.out;
  }
  r = Cli(dir, {"--report", "--station", "NOBODY"});
  EXPECT_EQ(r.out.find("QZ600"), std::string::npos) << r.out;
}

// Failures come most frequent first; the last run of each serial block is
// the latest, whatever the order of the lines.
TEST(CliResultsDb, ReportTables) {
  auto stored = [](const std::string& start, int64_t code, const std::string& serial) {
    StoredRun run;
    run.startLocal = start;
    run.family = "MV2";
    run.result = code;
    run.outcome = code == 0 ? "done" : "failed";
    run.serialBlock = serial;
    return run;
  };
  const vtcli::ResultsReport report = vtcli::MakeReport(
      {stored("2026-12-10 10:00:00", 8, "AA"), stored("2026-12-09 10:00:00", 0, "AA"),
       stored("2026-12-10 11:00:00", 2, "BB"), stored("2026-12-10 12:00:00", 2, "CC"),
       stored("2026-12-11 09:00:00", 0, "BB")},
      "", "");
  ASSERT_EQ(report.failures.size(), 2u);
  EXPECT_EQ(report.failures[0].code, 2);
  EXPECT_EQ(report.failures[0].count, 2);
  ASSERT_EQ(report.lastBySerial.size(), 3u);
  EXPECT_EQ(report.lastBySerial[0].startLocal, "2026-12-10 10:00:00");
  EXPECT_EQ(report.lastBySerial[1].startLocal, "2026-12-11 09:00:00");
  ASSERT_EQ(report.days.size(), 3u);
  EXPECT_EQ(report.days[1].runs, 3);
  EXPECT_EQ(report.days[1].failed, 3);
  // The page stands alone: no script, nothing fetched.
  const std::string html = vtcli::ReportHtml(report, "<test>");
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("src="), std::string::npos);
  EXPECT_EQ(html.find("href="), std::string::npos);
  EXPECT_NE(html.find("&lt;test&gt;"), std::string::npos);
  EXPECT_EQ(std::count(html.begin(), html.end(), '\n') > 10, true);
  size_t svgs = 0;
  for (size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) ++svgs;
  EXPECT_EQ(svgs, 2u);
}

}  // namespace
