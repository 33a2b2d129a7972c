// The plant's results database: a second, shared copy of every station's
// result record (results.csv stays the first and is always written before).
//
// results.csv is the queue. A small file beside it holds the byte offset of
// its first line that the database has not confirmed yet; everything after
// it is pending. CResultsStore sends pending lines, one transaction per run,
// each run keyed by the run id of its line, so a run sent twice (a crash
// between the insert and the offset's update, two stations sharing a log
// folder, a vantorel-cli --sync beside the desktop) is stored once.
// CResultsUploader runs a store on a background thread for the station: it
// sends at start (what an earlier session left), after every run, and after a
// failure again with growing pauses, and never holds a port or the window.
//
// Used by the main window model (CProgrammerDlg) and by vantorel-cli
// (--init-db, --sync, --report). The ODBC calls are behind CDbSession.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/db_session.h"

// The [Results] section of ZANDRIC.INI.
struct ResultsDbSettings {
  std::string connection;  // Connection=: an ODBC connection string; empty: no database
  std::string station;     // StationName=: the station's name (default: the computer's name)
};

// Reads [Results] from the INI file at iniPath.
ResultsDbSettings LoadResultsDbSettings(const std::string& iniPath);

// The text with the value of every PWD= and Password= (any letter case,
// braced or not) replaced by "****": for every text a connection string or a
// driver's message may reach (boxes, status, output).
std::string MaskPassword(const std::string& text);

// The tables, as the store creates them; one text that PostgreSQL and SQLite
// both take.
inline constexpr const char* kRunsTable = "runs";
inline constexpr const char* kComponentsTable = "run_components";
extern const char* const kCreateRunsSql;
extern const char* const kCreateComponentsSql;

// One component of a stored run, in the order the run began them.
struct StoredComponent {
  int seq = 0;           // 1, 2, ... in the run's order
  std::string name;      // RCP, VTC, FPGA, UIM, CPLD, DSP, LDR
  std::string path;      // as configured
  int64_t bytes = 0;
  std::string sha256;    // empty unless written
  std::string outcome;   // written, declined, failed, not reached
  bool operator==(const StoredComponent&) const = default;
};

// One run as the database holds it: the texts of its result line.
struct StoredRun {
  std::string runId;
  std::string station;
  std::string port;
  std::string family;         // MV2, QZ500, QZ600
  std::string loaderVersion;  // a.b.c or empty
  std::string boardVersion;   // a.b or empty
  std::string serialBlock;    // upper-case hex or empty
  std::string startLocal;     // YYYY-MM-DD HH:MM:SS, the station's local time
  std::string utcOffset;      // +HH:MM; empty for lines written before it was recorded
  std::string startUtc;       // YYYY-MM-DD HH:MM:SS; empty when the offset is not known
  double durationS = 0;
  int64_t result = 0;
  std::string outcome;
  std::vector<StoredComponent> components;
  bool operator==(const StoredRun&) const = default;
};

// Reads one result line (without its line end). Lines written before the
// station, offset and run id columns existed get the given station and an id
// made from the line's own bytes, the same on every reading. False for the
// header or anything that is not a result line.
bool ParseResultLine(const std::string& line, const std::string& defaultStation, StoredRun& run);
// The result line that holds the run (the inverse of ParseResultLine).
std::string StoredRunLine(const StoredRun& run);
// Splits a result file's text into its complete lines (a quoted field may
// hold line breaks); each with the byte offset just after its line end.
struct CsvRecord {
  std::string line;
  uint64_t end = 0;
};
std::vector<CsvRecord> SplitResultRecords(const std::string& text, uint64_t base = 0);

// Is the server's refusal one that waiting will not cure (a wrong password,
// a missing permission, a table of another shape)?
bool IsPermanentRefusal(const DbError& error);

using SessionFactory = std::function<std::unique_ptr<CDbSession>()>;

class CResultsStore {
 public:
  // folder: where results.csv is.
  CResultsStore(std::string folder, ResultsDbSettings settings,
                SessionFactory factory = OpenOdbcSession);

  // Connects when not connected; creates the tables when missing. created
  // (if given) receives the names of the tables created now.
  bool Connect(DbError& error, std::vector<std::string>* created = nullptr);
  void Disconnect();
  bool IsConnected() const;
  CDbSession* Session() { return session_.get(); }

  // Inserts the run and its components in one transaction, unless a run of
  // its id is stored already (inserted false then).
  bool InsertRun(const StoredRun& run, bool& inserted, DbError& error);
  // Reads a stored run back; false when absent or on error (error.state empty when absent).
  bool LoadRun(const std::string& runId, StoredRun& run, DbError& error);

  struct SyncResult {
    bool ok = true;
    int sent = 0;        // runs confirmed now (inserted or found stored)
    int inserted = 0;    // of those, new to the database
    int remaining = 0;   // runs still pending
    DbError error;       // when not ok
    bool permanent = false;
  };
  // Sends every pending run, in file order, and moves the confirmed offset
  // on; stops at the first failure (that run and all after stay pending).
  SyncResult SendPending();
  // The runs after the confirmed offset.
  int CountPending();

  std::string ResultFilePath() const;
  // The pending state file: results.<station>.sent beside results.csv.
  std::string PendingFilePath() const;
  const ResultsDbSettings& Settings() const { return settings_; }

 private:
  uint64_t ReadOffset();
  bool WriteOffset(uint64_t offset, std::string& error);
  std::vector<CsvRecord> PendingRecords(uint64_t& offset);

  std::string folder_;
  ResultsDbSettings settings_;
  SessionFactory factory_;
  std::unique_ptr<CDbSession> session_;
  std::mutex mutex_;  // one sender at a time per store
};

// The database state the main window shows.
struct ResultsDbStatus {
  bool configured = false;
  bool connected = false;
  int pending = 0;
  std::string lastError;  // password masked; empty after a success
  uint64_t attempts = 0;  // sending attempts ended so far
  bool refused = false;   // the last failure was a permanent refusal
};
// "Results database: connected", "... connected, 2 runs pending",
// "... not connected, 1 run pending, last error: ..."; empty when not configured.
std::string ResultsDbStatusText(const ResultsDbStatus& status);

class CResultsUploader {
 public:
  // The pause after the given number of failures in a row (1, 2, ...).
  using BackOff = std::function<std::chrono::milliseconds(int failures)>;
  // 2 s doubling up to 5 minutes.
  static std::chrono::milliseconds DefaultBackOff(int failures);

  CResultsUploader(std::string folder, ResultsDbSettings settings,
                   SessionFactory factory = OpenOdbcSession, BackOff backOff = DefaultBackOff);
  // Ends the thread without a final attempt (as a station that is killed).
  ~CResultsUploader();
  CResultsUploader(const CResultsUploader&) = delete;
  CResultsUploader& operator=(const CResultsUploader&) = delete;

  // Starts the thread; its first attempt is at once (runs an earlier session left).
  void Start();
  // A run's line was appended: send it, unless a back-off pause is running.
  // Returns at once; called on the run's thread.
  void Notify();
  // Ends a back-off pause now (a test's or an operator's "retry now").
  void RetryNow();
  // Ends the thread; with finalSync one more attempt on the calling thread,
  // unless the last attempt failed (the server is away: the next start sends).
  void Stop(bool finalSync);

  ResultsDbStatus GetStatus() const;
  // Waits until at least count attempts have ended (or limit passes); true when they have.
  bool WaitForAttempts(uint64_t count, std::chrono::milliseconds limit) const;

 private:
  void ThreadProc();
  void Attempt();

  CResultsStore store_;
  BackOff backOff_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::thread thread_;
  bool stop_ = false;
  bool retry_ = false;
  bool newRun_ = false;
  int failures_ = 0;
  bool boxShown_ = false;
  ResultsDbStatus status_;
};
