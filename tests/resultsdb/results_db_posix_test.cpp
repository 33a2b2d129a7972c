// The plant's results database: result lines read back whole, passwords kept
// out of every text, and runs sent through real ODBC drivers (SQLite files,
// and a PostgreSQL server the tests start) arriving once, as written,
// whatever the server does meanwhile.
#include "app/results_db.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>

#include "app/programmer_dlg.h"
#include "app/result_log.h"
#include "link/scanner_family.h"
#include "platform/message_recorder.h"
#include "support/csv_reader.h"
#include "support/db_servers.h"
#include "support/scratch_dir.h"

namespace {

using testsupport::ReadFile;
using testsupport::ScratchDir;

// A ceiling for conditions that come within milliseconds; never a pause.
constexpr std::chrono::milliseconds kCeiling{120000};

// A back-off the tests end themselves with RetryNow.
std::chrono::milliseconds NeverByItself(int) { return std::chrono::hours(24); }

RunRecord Record(const std::string& port, int result) {
  RunRecord r;
  r.start = {2026, 12, 10, 23, 30, 7};
  r.port = port;
  r.family = ScannerFamily::kMV2;
  r.loaderVersion = 30102;
  r.boardVersion = 51;
  for (int i = 0; i < 64; ++i) r.specialBlock.push_back(static_cast<uint8_t>(i * 3));
  r.components = {{"RCP", "/fw/rcp.s19", 98304, ComponentOutcome::kWritten, std::string(64, 'a')},
                  {"FPGA", "/fw/fpga.bin", 3072, ComponentOutcome::kFailed, ""},
                  {"UIM", "/fw/uim.bin", 1536, ComponentOutcome::kNotReached, ""}};
  r.result = result;
  r.outcome = result == 0 ? "Programming Done." : "Programming sequence failed!";
  r.durationMs = 83456;
  return r;
}

// The complete lines of the folder's results.csv after its header.
std::vector<std::string> ResultLines(const ScratchDir& dir) {
  std::vector<std::string> lines;
  for (const CsvRecord& r : SplitResultRecords(ReadFile(dir / kResultFileName))) {
    if (r.line.rfind("start,", 0) != 0) lines.push_back(r.line);
  }
  return lines;
}

int64_t StoredRuns(CResultsStore& store, const std::string& station) {
  DbError error;
  std::vector<DbRow> rows;
  EXPECT_TRUE(store.Session()->Execute("SELECT COUNT(*) FROM runs WHERE station = ?", {station},
                                       error, &rows))
      << error.text;
  return rows.empty() || !rows[0][0] ? -1 : std::stoll(*rows[0][0]);
}

// ---- without a server ----

TEST(MaskPassword, HidesEveryFormOfThePassword) {
  const struct {
    const char* text;
    const char* masked;
  } cases[] = {
      {"DSN=line;UID=op;PWD=secret;", "DSN=line;UID=op;PWD=****;"},
      {"Driver={PG};Password=secret", "Driver={PG};Password=****"},
      {"pwd={se;c}}ret};Server=db", "pwd=****;Server=db"},
      {"password = 'sec ret' user=x", "password =**** user=x"},
      {"FATAL: password authentication failed for user \"op\"",
       "FATAL: password authentication failed for user \"op\""},
      {"no secret here", "no secret here"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MaskPassword(c.text), c.masked);
  }
}

// A line comes back as the same run, whatever its paths and texts hold;
// lines of older files get a lasting id of their own.
TEST(ResultLineReading, ReadsBackWhatWasWritten) {
  RunRecord hostile = Record("COM3", 20);
  hostile.components = {
      {"RCP", "C:\\fw\\a; VTC=b (1 bytes, written).s19", 5, ComponentOutcome::kWritten, ""},
      {"VTC", "/fw/it's \"quoted\", ok; DROP TABLE runs;--", 7, ComponentOutcome::kDeclined, ""},
      {"LDR", "/" + std::string(3000, 'p') + "/ldr.s19", 9, ComponentOutcome::kFailed, ""}};
  hostile.outcome = "two\r\nlines, \"quoted\"; and more";
  const RunRecord plain = Record("ZEV2", 0);
  for (const RunRecord* r : {&plain, static_cast<const RunRecord*>(&hostile)}) {
    const RunStamp stamp{"LINE 1; 'west'", "+01:00", NewRunId()};
    const std::string line = ResultLine(*r, stamp);
    StoredRun run;
    ASSERT_TRUE(ParseResultLine(line, "other", run)) << line;
    EXPECT_EQ(StoredRunLine(run), line);
    EXPECT_EQ(run.runId, stamp.runId);
    EXPECT_EQ(run.station, stamp.station);
    EXPECT_EQ(run.startUtc, "2026-12-10 22:30:07");
    ASSERT_EQ(run.components.size(), r->components.size());
    for (size_t i = 0; i < run.components.size(); ++i) {
      EXPECT_EQ(run.components[i].path, r->components[i].file);
    }
  }
  // The ten columns of an older file: the reader's station, an id from the line.
  const std::string old = ResultLine(plain);
  const std::string oldTen = old.substr(0, old.size() - 3);  // without ",,," of the new columns
  StoredRun first, again;
  ASSERT_TRUE(ParseResultLine(oldTen, "LINE-2", first));
  ASSERT_TRUE(ParseResultLine(oldTen, "LINE-2", again));
  EXPECT_EQ(first.station, "LINE-2");
  EXPECT_EQ(first.runId.size(), 36u);
  EXPECT_EQ(first.runId, again.runId);
  EXPECT_EQ(first.startUtc, "");
  // Neither the header nor a foreign line is a run.
  StoredRun none;
  EXPECT_FALSE(ParseResultLine(kResultHeader, "x", none));
  EXPECT_FALSE(ParseResultLine("kept", "x", none));
}

TEST(RunIds, AreUniqueVersion4Uuids) {
  std::set<std::string> ids;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = NewRunId();
    ASSERT_EQ(id.size(), 36u);
    EXPECT_EQ(id[14], '4');
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 1000u);
}

// ---- through a driver ----

// What a test needs of one database: a connection string per password.
struct Database {
  std::string name;
  std::function<std::string()> connection;
};

class ResultsDbDriverTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::string(GetParam()) == "SQLite") {
      const std::string missing = dbtest::SqliteMissing();
      if (!missing.empty()) GTEST_SKIP() << missing;
      connection_ = dbtest::SqliteConnection(dbFolder_ / "line.db");
    } else {
      const std::string missing = dbtest::PgMissing();
      if (!missing.empty()) GTEST_SKIP() << missing;
      pg_ = std::make_unique<dbtest::PgServer>();
      ASSERT_TRUE(pg_->ok()) << pg_->Log();
      connection_ = pg_->Connection();
    }
  }

  ScratchDir station_;
  ScratchDir dbFolder_;
  std::unique_ptr<dbtest::PgServer> pg_;
  std::string connection_;
};

// Every run arrives as its line says, hostile texts included, and a run
// sent again is stored once.
TEST_P(ResultsDbDriverTest, RunsArriveAsTheirLinesOnce) {
  platform::ScopedMessageRecorder boxes;
  RunRecord hostile = Record("COM3", 20);
  hostile.components = {
      {"RCP", "C:\\fw\\it's; \"x\", y.s19", 5, ComponentOutcome::kWritten, std::string(64, 'b')},
      {"LDR", "/" + std::string(4000, 'q') + "/l'dr;--.s19", 9, ComponentOutcome::kFailed, ""}};
  hostile.outcome = "Robert'); DROP TABLE runs;--\r\nsecond line";
  const std::string station = "LINE-1 'east'; --";
  ASSERT_TRUE(AppendResult(station_.Path(), Record("ZEV2", 0), {station, "+01:00", NewRunId()}));
  ASSERT_TRUE(AppendResult(station_.Path(), hostile, {station, "-05:30", NewRunId()}));
  ASSERT_TRUE(AppendResult(station_.Path(), Record("COM4", 2)));  // an old-style line

  CResultsStore store(station_.Path(), {connection_, station});
  EXPECT_EQ(store.CountPending(), 3);
  CResultsStore::SyncResult sent = store.SendPending();
  ASSERT_TRUE(sent.ok) << sent.error.text;
  EXPECT_EQ(sent.sent, 3);
  EXPECT_EQ(sent.inserted, 3);
  EXPECT_EQ(sent.remaining, 0);
  EXPECT_EQ(store.CountPending(), 0);

  for (const std::string& line : ResultLines(station_)) {
    StoredRun fromFile, stored;
    ASSERT_TRUE(ParseResultLine(line, station, fromFile));
    DbError error;
    ASSERT_TRUE(store.LoadRun(fromFile.runId, stored, error)) << error.text;
    EXPECT_EQ(stored, fromFile);
    if (!line.ends_with(",,,")) {
      EXPECT_EQ(StoredRunLine(stored), line);
    }
  }

  // Sent again from the start (the confirmed offset lost in a crash): every
  // run is confirmed, none stored twice.
  std::filesystem::remove(store.PendingFilePath());
  EXPECT_EQ(store.CountPending(), 3);
  sent = store.SendPending();
  ASSERT_TRUE(sent.ok) << sent.error.text;
  EXPECT_EQ(sent.sent, 3);
  EXPECT_EQ(sent.inserted, 0);
  EXPECT_EQ(StoredRuns(store, station), 3);
  EXPECT_TRUE(boxes.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Drivers, ResultsDbDriverTest, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return std::string(info.param); });

// ---- a PostgreSQL server that goes away and comes back ----

class PgOutageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = dbtest::PgMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    pg_ = std::make_unique<dbtest::PgServer>();
    ASSERT_TRUE(pg_->ok()) << pg_->Log();
  }

  // A station model on the folder, as the port threads see it: RecordRun
  // appends the line and hands the database copy to the background.
  std::unique_ptr<CProgrammerDlg> Station(const std::string& connection) {
    testsupport::WriteFile(station_ / kIniFileName, "[Common]\nLogPath=" + station_.Path() +
                                                        "\n[Results]\nConnection=" + connection +
                                                        "\nStationName=LINE-7\n");
    auto dlg = std::make_unique<CProgrammerDlg>();
    std::snprintf(dlg->m_szAppDir, sizeof dlg->m_szAppDir, "%s", station_.Path().c_str());
    dlg->LoadSettings();
    return dlg;
  }

  ScratchDir station_;
  std::unique_ptr<dbtest::PgServer> pg_;
};

// The server stops: runs go on being recorded without waiting for it and
// stay pending; a station ended meanwhile (without its last attempt) leaves
// them in its folder; the next start, once the server is back, sends them all.
TEST_F(PgOutageTest, NothingIsLostWhileTheServerIsDown) {
  platform::ScopedMessageRecorder boxes;
  {
    std::unique_ptr<CProgrammerDlg> dlg = Station(pg_->Connection());
    // The station's own uploader with a back-off only the test ends.
    dlg->StartResultsDb();
    CResultsUploader* uploader = dlg->GetResultsUploader();
    ASSERT_NE(uploader, nullptr);
    ASSERT_TRUE(uploader->WaitForAttempts(1, kCeiling));
    EXPECT_EQ(dlg->GetResultsDbStatus(), "Results database: connected");

    dlg->RecordRun(nullptr, Record("COM1", 0));
    // Sent at once while the server is there.
    ASSERT_TRUE(uploader->WaitForAttempts(2, kCeiling));
    EXPECT_EQ(uploader->GetStatus().pending, 0);

    ASSERT_TRUE(pg_->Stop());
    for (int i = 0; i < 5; ++i) dlg->RecordRun(nullptr, Record("COM2", i));  // returns at once
    ASSERT_TRUE(uploader->WaitForAttempts(3, kCeiling));
    uploader->RetryNow();
    ASSERT_TRUE(uploader->WaitForAttempts(4, kCeiling));
    const ResultsDbStatus down = uploader->GetStatus();
    EXPECT_FALSE(down.connected);
    EXPECT_EQ(down.pending, 5);
    EXPECT_FALSE(down.lastError.empty());
    EXPECT_FALSE(down.refused);
    EXPECT_EQ(dlg->GetResultsDbStatus().rfind("Results database: not connected, 5 runs pending, last error: ", 0), 0u)
        << dlg->GetResultsDbStatus();
    // The station ends without its last attempt, as if it were killed.
  }
  EXPECT_EQ(ResultLines(station_).size(), 6u);
  ASSERT_TRUE(pg_->Start()) << pg_->Log();

  std::unique_ptr<CProgrammerDlg> next = Station(pg_->Connection());
  next->StartResultsDb();
  ASSERT_TRUE(next->GetResultsUploader()->WaitForAttempts(1, kCeiling));
  EXPECT_EQ(next->GetResultsDbStatus(), "Results database: connected");

  CResultsStore check(station_.Path(), {pg_->Connection(), "LINE-7"});
  DbError error;
  ASSERT_TRUE(check.Connect(error)) << error.text;
  EXPECT_EQ(StoredRuns(check, "LINE-7"), 6);
  for (const std::string& line : ResultLines(station_)) {
    StoredRun fromFile, stored;
    ASSERT_TRUE(ParseResultLine(line, "LINE-7", fromFile));
    ASSERT_TRUE(check.LoadRun(fromFile.runId, stored, error)) << error.text;
    EXPECT_EQ(StoredRunLine(stored), line);
  }
  EXPECT_TRUE(boxes.Boxes().empty());
}

// A wrong password is a refusal for good: one box per station start with
// the server's words and without the password, the runs stay pending, and
// the right password later sends them all.
TEST_F(PgOutageTest, AWrongPasswordShowsOneBoxAndLosesNothing) {
  platform::ScopedMessageRecorder boxes;
  const std::string wrong = "Wr0ng;Secret";
  {
    std::unique_ptr<CProgrammerDlg> dlg = Station(pg_->Connection(wrong));
    ResultsDbSettings settings = LoadResultsDbSettings(dlg->GetIniPath());
    CResultsUploader uploader(station_.Path(), settings, OpenOdbcSession, NeverByItself);
    ASSERT_TRUE(AppendResult(station_.Path(), Record("COM1", 0), {"LINE-7", "+00:00", NewRunId()}));
    uploader.Start();
    ASSERT_TRUE(uploader.WaitForAttempts(1, kCeiling));
    uploader.Notify();
    uploader.RetryNow();
    ASSERT_TRUE(uploader.WaitForAttempts(2, kCeiling));
    const ResultsDbStatus status = uploader.GetStatus();
    EXPECT_TRUE(status.refused);
    EXPECT_EQ(status.pending, 1);
    EXPECT_EQ(status.lastError.find(wrong), std::string::npos) << status.lastError;
    const std::vector<platform::RecordedBox> shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Results database: Error");
    EXPECT_NE(shown[0].text.find("password authentication failed"), std::string::npos)
        << shown[0].text;
    EXPECT_EQ(shown[0].text.find(wrong), std::string::npos) << shown[0].text;
    EXPECT_EQ(shown[0].text.find("Wr0ng"), std::string::npos) << shown[0].text;
  }
  CResultsStore store(station_.Path(), {pg_->Connection(), "LINE-7"});
  const CResultsStore::SyncResult sent = store.SendPending();
  ASSERT_TRUE(sent.ok) << sent.error.text;
  EXPECT_EQ(sent.sent, 1);
  EXPECT_EQ(boxes.Boxes().size(), 1u);
}

}  // namespace
