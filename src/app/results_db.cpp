#include "app/results_db.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/ini_file.h"
#include "app/result_log.h"
#include "firmware/sha256.h"
#include "platform/file_replace.h"
#include "platform/host_info.h"
#include "platform/message_box.h"

namespace fs = std::filesystem;

const char* const kCreateRunsSql =
    "CREATE TABLE runs ("
    "run_id VARCHAR(36) NOT NULL PRIMARY KEY, "
    "station TEXT NOT NULL, "
    "port TEXT NOT NULL, "
    "family TEXT NOT NULL, "
    "loader_version TEXT NOT NULL, "
    "board_version TEXT NOT NULL, "
    "serial_block TEXT NOT NULL, "
    "start_local VARCHAR(19) NOT NULL, "
    "utc_offset VARCHAR(6) NOT NULL, "
    "start_utc VARCHAR(19), "
    "duration_s DOUBLE PRECISION NOT NULL, "
    "result_code INTEGER NOT NULL, "
    "outcome TEXT NOT NULL)";

const char* const kCreateComponentsSql =
    "CREATE TABLE run_components ("
    "run_id VARCHAR(36) NOT NULL REFERENCES runs (run_id), "
    "seq INTEGER NOT NULL, "
    "name TEXT NOT NULL, "
    "path TEXT NOT NULL, "
    "bytes BIGINT NOT NULL, "
    "sha256 TEXT NOT NULL, "
    "outcome TEXT NOT NULL, "
    "PRIMARY KEY (run_id, seq))";

namespace {

// The columns of a result line; the last three came later.
constexpr size_t kOldColumns = 10;
constexpr size_t kColumns = 13;

const char* const kComponentNames[] = {"RCP", "VTC", "FPGA", "UIM", "CPLD", "DSP", "LDR"};
const char* const kOutcomes[] = {"written", "declined", "failed", "not reached"};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsComponentName(const std::string& text) {
  return std::find(std::begin(kComponentNames), std::end(kComponentNames), text) !=
         std::end(kComponentNames);
}

bool AllDigits(const std::string& text, size_t from, size_t to) {
  if (from >= to) return false;
  for (size_t i = from; i < to; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// Matches " (N bytes, OUTCOME[, sha256 HEX])" at at; the position after it.
std::optional<size_t> MatchTail(const std::string& text, size_t at, StoredComponent& c) {
  if (text.compare(at, 2, " (") != 0) return std::nullopt;
  size_t p = at + 2;
  const size_t bytesEnd = text.find(" bytes, ", p);
  if (bytesEnd == std::string::npos || !AllDigits(text, p, bytesEnd) || bytesEnd - p > 19) {
    return std::nullopt;
  }
  c.bytes = std::strtoll(text.c_str() + p, nullptr, 10);
  p = bytesEnd + 8;
  for (const char* outcome : kOutcomes) {
    const std::string o = outcome;
    if (text.compare(p, o.size(), o) != 0) continue;
    size_t q = p + o.size();
    c.outcome = o;
    c.sha256.clear();
    if (text.compare(q, 9, ", sha256 ") == 0) {
      const size_t hexStart = q + 9;
      size_t hexEnd = hexStart;
      while (hexEnd < text.size() && std::isxdigit(static_cast<unsigned char>(text[hexEnd]))) {
        ++hexEnd;
      }
      if (hexEnd == hexStart) continue;
      c.sha256 = text.substr(hexStart, hexEnd - hexStart);
      q = hexEnd;
    }
    if (q < text.size() && text[q] == ')') return q + 1;
  }
  return std::nullopt;
}

// Whether "NAME=" of a component starts at at.
bool ComponentStartsAt(const std::string& text, size_t at) {
  const size_t eq = text.find('=', at);
  return eq != std::string::npos && IsComponentName(text.substr(at, eq - at));
}

// The components column: "NAME=PATH (N bytes, OUTCOME[, sha256 HEX])"
// joined by "; ". A path may hold any of these marks; a component ends at the
// first tail that is followed by the end or by the next "; NAME=".
bool ParseComponents(const std::string& text, std::vector<StoredComponent>& out) {
  out.clear();
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eq = text.find('=', pos);
    if (eq == std::string::npos) return false;
    StoredComponent c;
    c.name = text.substr(pos, eq - pos);
    if (!IsComponentName(c.name)) return false;
    bool found = false;
    for (size_t k = text.find(" (", eq + 1); k != std::string::npos; k = text.find(" (", k + 1)) {
      const std::optional<size_t> end = MatchTail(text, k, c);
      if (!end) continue;
      if (*end == text.size() ||
          (text.compare(*end, 2, "; ") == 0 && ComponentStartsAt(text, *end + 2))) {
        c.path = text.substr(eq + 1, k - eq - 1);
        c.seq = static_cast<int>(out.size()) + 1;
        out.push_back(c);
        pos = *end == text.size() ? *end : *end + 2;
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return true;
}

std::string ComponentsText(const std::vector<StoredComponent>& components) {
  std::string text;
  for (const StoredComponent& c : components) {
    if (!text.empty()) text += "; ";
    text += c.name + "=" + c.path + " (" + std::to_string(c.bytes) + " bytes, " + c.outcome;
    if (!c.sha256.empty()) text += ", sha256 " + c.sha256;
    text += ")";
  }
  return text;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

// The local start moved to UTC by the offset; empty when either is malformed.
std::string UtcOf(const std::string& local, const std::string& offset) {
  int y, mo, d, h, mi, s, oh, om;
  char sign;
  if (std::sscanf(local.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) return "";
  if (offset.size() != 6 || std::sscanf(offset.c_str(), "%c%2d:%2d", &sign, &oh, &om) != 3 ||
      (sign != '+' && sign != '-')) {
    return "";
  }
  const int64_t offsetS = (sign == '-' ? -1 : 1) * (oh * 3600 + om * 60);
  const int64_t t = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offsetS;
  int64_t days = t / 86400;
  int64_t rest = t % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  CivilFromDays(days, y, mo, d);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

// A lasting id for a line that has none: a UUID made from the line's digest.
std::string IdFromLine(const std::string& line) {
  const std::string hex = Sha256Hex(line.data(), line.size());
  std::string id = hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-5" + hex.substr(13, 3) + "-" +
                   std::string(1, "89ab"[std::strtol(hex.substr(16, 1).c_str(), nullptr, 16) & 3]) +
                   hex.substr(17, 3) + "-" + hex.substr(20, 12);
  return id;
}

// A station name as a file-name part.
std::string FileNamePart(const std::string& text) {
  std::string part;
  for (char c : text) {
    part += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
  }
  return part.empty() ? "station" : part;
}

std::string OneLineText(const std::string& text) {
  std::string line;
  for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  return line;
}

}  // namespace

ResultsDbSettings LoadResultsDbSettings(const std::string& iniPath) {
  CIniFile ini(iniPath);
  ResultsDbSettings settings;
  settings.connection = ini.GetString("Results", "Connection", "");
  settings.station = ini.GetString("Results", "StationName", "");
  if (settings.station.empty()) settings.station = platform::ComputerName();
  return settings;
}

std::string MaskPassword(const std::string& text) {
  std::string out;
  const std::string lower = Lower(text);
  size_t i = 0;
  while (i < text.size()) {
    size_t keyEnd = std::string::npos;
    for (const char* key : {"password", "pwd"}) {
      const size_t n = std::char_traits<char>::length(key);
      if (lower.compare(i, n, key) != 0) continue;
      size_t p = i + n;
      while (p < text.size() && text[p] == ' ') ++p;
      if (p < text.size() && text[p] == '=') {
        keyEnd = p + 1;
        break;
      }
    }
    if (keyEnd == std::string::npos) {
      out += text[i++];
      continue;
    }
    out.append(text, i, keyEnd - i);
    size_t p = keyEnd;
    while (p < text.size() && text[p] == ' ') ++p;
    if (p < text.size() && text[p] == '{') {
      // Braced: up to the closing brace; "}}" stands for one brace inside.
      ++p;
      while (p < text.size()) {
        if (text[p] == '}' && p + 1 < text.size() && text[p + 1] == '}') {
          p += 2;
        } else if (text[p] == '}') {
          ++p;
          break;
        } else {
          ++p;
        }
      }
    } else if (p < text.size() && (text[p] == '\'' || text[p] == '"')) {
      const char quote = text[p];
      const size_t close = text.find(quote, p + 1);
      p = close == std::string::npos ? text.size() : close + 1;
    } else {
      while (p < text.size() && text[p] != ';' && text[p] != ' ' && text[p] != '\r' &&
             text[p] != '\n') {
        ++p;
      }
    }
    out += "****";
    i = p;
  }
  return out;
}

bool ParseResultLine(const std::string& line, const std::string& defaultStation, StoredRun& run) {
  const std::vector<std::string> f = CsvFields(line);
  if (f.size() != kOldColumns && f.size() != kColumns) return false;
  if (f[0] == "start") return false;  // a header
  run = StoredRun{};
  int y, mo, d, h, mi, s;
  if (f[0].size() != 19 ||
      std::sscanf(f[0].c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) {
    return false;
  }
  if (!ParseComponents(f[6], run.components)) return false;
  char* end = nullptr;
  run.result = std::strtoll(f[7].c_str(), &end, 10);
  if (f[7].empty() || *end != '\0') return false;
  run.durationS = std::strtod(f[9].c_str(), &end);
  if (f[9].empty() || *end != '\0') return false;
  run.startLocal = f[0];
  run.port = f[1];
  run.family = f[2];
  run.loaderVersion = f[3];
  run.boardVersion = f[4];
  run.serialBlock = f[5];
  run.outcome = f[8];
  if (f.size() == kColumns) {
    run.station = f[10];
    run.utcOffset = f[11];
    run.runId = f[12];
  }
  if (run.station.empty()) run.station = defaultStation;
  if (run.runId.empty()) run.runId = IdFromLine(line);
  run.startUtc = UtcOf(run.startLocal, run.utcOffset);
  return true;
}

std::string StoredRunLine(const StoredRun& run) {
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1f", run.durationS);
  const std::string fields[] = {run.startLocal,   run.port,        run.family,
                                run.loaderVersion, run.boardVersion, run.serialBlock,
                                ComponentsText(run.components), std::to_string(run.result),
                                run.outcome,       duration,         run.station,
                                run.utcOffset,     run.runId};
  std::string line;
  for (size_t i = 0; i < std::size(fields); ++i) {
    if (i > 0) line += ',';
    line += CsvField(fields[i]);
  }
  return line;
}

std::vector<CsvRecord> SplitResultRecords(const std::string& text, uint64_t base) {
  std::vector<CsvRecord> records;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      quoted = !quoted;  // a doubled quote flips twice
    } else if (c == '\n' && !quoted) {
      size_t lineEnd = i;
      if (lineEnd > start && text[lineEnd - 1] == '\r') --lineEnd;
      records.push_back({text.substr(start, lineEnd - start), base + i + 1});
      start = i + 1;
    }
  }
  return records;  // a last line without its line end is still being written
}

bool IsPermanentRefusal(const DbError& error) {
  const std::string cls = error.state.substr(0, 2);
  if (cls == "28" || cls == "42" || cls == "3F" || cls == "44") return true;
  // Drivers report a refused login with the connection's state (08001);
  // only the server's text tells it from a server that is not there.
  const std::string text = Lower(error.text);
  for (const char* mark : {"password authentication failed", "authentication failed",
                           "permission denied", "no such table", "has no column",
                           "does not exist", "no pg_hba.conf entry", "access denied",
                           "login failed"}) {
    if (text.find(mark) != std::string::npos) return true;
  }
  return false;
}

// ---- CResultsStore ----

CResultsStore::CResultsStore(std::string folder, ResultsDbSettings settings,
                             SessionFactory factory)
    : folder_(std::move(folder)), settings_(std::move(settings)), factory_(std::move(factory)) {}

std::string CResultsStore::ResultFilePath() const {
  return (fs::path(folder_) / kResultFileName).string();
}

std::string CResultsStore::PendingFilePath() const {
  return (fs::path(folder_) / ("results." + FileNamePart(settings_.station) + ".sent")).string();
}

bool CResultsStore::IsConnected() const { return session_ && session_->IsConnected(); }

void CResultsStore::Disconnect() {
  if (session_) session_->Disconnect();
}

bool CResultsStore::Connect(DbError& error, std::vector<std::string>* created) {
  if (IsConnected()) return true;
  if (settings_.connection.empty()) {
    error = {"HY000", "no results database is configured ([Results] Connection=)"};
    return false;
  }
  if (!session_) session_ = factory_();
  if (!session_->Connect(settings_.connection, error)) return false;
  const std::pair<const char*, const char*> tables[] = {{kRunsTable, kCreateRunsSql},
                                                         {kComponentsTable, kCreateComponentsSql}};
  for (const auto& [name, sql] : tables) {
    bool exists = false;
    if (!session_->TableExists(name, exists, error) ||
        (!exists && !session_->Execute(sql, {}, error))) {
      session_->Disconnect();
      return false;
    }
    if (!exists && created != nullptr) created->push_back(name);
  }
  return true;
}

bool CResultsStore::InsertRun(const StoredRun& run, bool& inserted, DbError& error) {
  inserted = false;
  if (!session_->Begin(error)) return false;
  std::vector<DbRow> rows;
  if (!session_->Execute("SELECT COUNT(*) FROM runs WHERE run_id = ?", {run.runId}, error, &rows)) {
    session_->Rollback();
    return false;
  }
  if (!rows.empty() && !rows[0].empty() && rows[0][0] && *rows[0][0] != "0") {
    session_->Rollback();
    return true;
  }
  const DbValue startUtc = run.startUtc.empty() ? DbValue{} : DbValue{run.startUtc};
  bool ok = session_->Execute(
      "INSERT INTO runs (run_id, station, port, family, loader_version, board_version, "
      "serial_block, start_local, utc_offset, start_utc, duration_s, result_code, outcome) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {run.runId, run.station, run.port, run.family, run.loaderVersion, run.boardVersion,
       run.serialBlock, run.startLocal, run.utcOffset, startUtc, run.durationS, run.result,
       run.outcome},
      error);
  for (size_t i = 0; ok && i < run.components.size(); ++i) {
    const StoredComponent& c = run.components[i];
    ok = session_->Execute(
        "INSERT INTO run_components (run_id, seq, name, path, bytes, sha256, outcome) "
        "VALUES (?, ?, ?, ?, ?, ?, ?)",
        {run.runId, static_cast<int64_t>(i + 1), c.name, c.path, c.bytes, c.sha256, c.outcome},
        error);
  }
  if (ok && session_->Commit(error)) {
    inserted = true;
    return true;
  }
  session_->Rollback();
  // Another sender stored the same run between the look and the insert.
  if (error.IsUniqueViolation()) return true;
  return false;
}

bool CResultsStore::LoadRun(const std::string& runId, StoredRun& run, DbError& error) {
  error = {};
  std::vector<DbRow> rows;
  if (!session_ ||
      !session_->Execute("SELECT run_id, station, port, family, loader_version, board_version, "
                         "serial_block, start_local, utc_offset, start_utc, duration_s, "
                         "result_code, outcome FROM runs WHERE run_id = ?",
                         {runId}, error, &rows)) {
    return false;
  }
  if (rows.size() != 1) return false;
  auto text = [](const std::optional<std::string>& v) { return v ? *v : std::string(); };
  const DbRow& r = rows[0];
  run = StoredRun{};
  run.runId = text(r[0]);
  run.station = text(r[1]);
  run.port = text(r[2]);
  run.family = text(r[3]);
  run.loaderVersion = text(r[4]);
  run.boardVersion = text(r[5]);
  run.serialBlock = text(r[6]);
  run.startLocal = text(r[7]);
  run.utcOffset = text(r[8]);
  run.startUtc = text(r[9]);
  run.durationS = std::strtod(text(r[10]).c_str(), nullptr);
  run.result = std::strtoll(text(r[11]).c_str(), nullptr, 10);
  run.outcome = text(r[12]);
  rows.clear();
  if (!session_->Execute("SELECT seq, name, path, bytes, sha256, outcome FROM run_components "
                         "WHERE run_id = ? ORDER BY seq",
                         {runId}, error, &rows)) {
    return false;
  }
  for (const DbRow& c : rows) {
    run.components.push_back({std::atoi(text(c[0]).c_str()), text(c[1]), text(c[2]),
                              std::strtoll(text(c[3]).c_str(), nullptr, 10), text(c[4]),
                              text(c[5])});
  }
  return true;
}

uint64_t CResultsStore::ReadOffset() {
  std::ifstream in(PendingFilePath(), std::ios::binary);
  unsigned long long offset = 0;
  if (!(in >> offset)) return 0;
  return offset;
}

bool CResultsStore::WriteOffset(uint64_t offset, std::string& error) {
  return platform::ReplaceFileContents(PendingFilePath(), std::to_string(offset) + "\n", error);
}

std::vector<CsvRecord> CResultsStore::PendingRecords(uint64_t& offset) {
  offset = ReadOffset();
  std::ifstream in(ResultFilePath(), std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const uint64_t size = static_cast<uint64_t>(in.tellg());
  // A file shorter than the offset was replaced: everything in it is new.
  if (offset > size) offset = 0;
  in.seekg(static_cast<std::streamoff>(offset));
  std::string text(static_cast<size_t>(size - offset), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return SplitResultRecords(text, offset);
}

int CResultsStore::CountPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t offset = 0;
  int count = 0;
  StoredRun run;
  for (const CsvRecord& r : PendingRecords(offset)) {
    if (ParseResultLine(r.line, settings_.station, run)) ++count;
  }
  return count;
}

CResultsStore::SyncResult CResultsStore::SendPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  SyncResult result;
  uint64_t offset = 0;
  const std::vector<CsvRecord> records = PendingRecords(offset);
  std::vector<StoredRun> runs;
  std::vector<uint64_t> ends;
  for (const CsvRecord& r : records) {
    StoredRun run;
    // Lines that are no result (a header, a foreign line) are passed over.
    if (ParseResultLine(r.line, settings_.station, run)) {
      runs.push_back(std::move(run));
      ends.push_back(r.end);
    }
  }
  const uint64_t allEnd = records.empty() ? offset : records.back().end;
  result.remaining = static_cast<int>(runs.size());
  // Connected also with nothing to send: the station shows the real state,
  // and the tables exist before the first run ends.
  if (!Connect(result.error)) {
    result.ok = false;
    result.permanent = IsPermanentRefusal(result.error);
    return result;
  }
  uint64_t confirmed = runs.empty() ? allEnd : offset;
  for (size_t i = 0; i < runs.size(); ++i) {
    bool inserted = false;
    if (!InsertRun(runs[i], inserted, result.error)) {
      result.ok = false;
      result.permanent = IsPermanentRefusal(result.error);
      // A lost connection is made again on the next attempt.
      if (!result.permanent) session_->Disconnect();
      break;
    }
    ++result.sent;
    if (inserted) ++result.inserted;
    --result.remaining;
    confirmed = i + 1 == runs.size() ? allEnd : ends[i];
    // The offset goes to the disk now and then while a long backlog goes out,
    // and at the end; a crash in between only sends some runs again.
    if ((i + 1) % 200 == 0) {
      std::string reason;
      WriteOffset(confirmed, reason);
    }
  }
  if (confirmed != offset) {
    std::string reason;
    if (!WriteOffset(confirmed, reason) && result.ok) {
      result.ok = false;
      result.error = {"HY000", "Cannot write " + PendingFilePath() + ": " + reason};
    }
  }
  return result;
}

// ---- status ----

std::string ResultsDbStatusText(const ResultsDbStatus& s) {
  if (!s.configured) return "";
  std::string text = "Results database: ";
  text += s.connected ? "connected" : "not connected";
  if (s.pending > 0) {
    text += ", " + std::to_string(s.pending) + (s.pending == 1 ? " run pending" : " runs pending");
  }
  if (!s.lastError.empty()) text += ", last error: " + s.lastError;
  return text;
}

// ---- CResultsUploader ----

std::chrono::milliseconds CResultsUploader::DefaultBackOff(int failures) {
  const int shift = std::min(failures - 1, 8);  // 2 s .. 512 s, held at 5 minutes
  return std::min(std::chrono::milliseconds(2000) * (1 << std::max(shift, 0)),
                  std::chrono::milliseconds(300000));
}

CResultsUploader::CResultsUploader(std::string folder, ResultsDbSettings settings,
                                   SessionFactory factory, BackOff backOff)
    : store_(std::move(folder), std::move(settings), std::move(factory)),
      backOff_(std::move(backOff)) {
  status_.configured = !store_.Settings().connection.empty();
}

CResultsUploader::~CResultsUploader() { Stop(false); }

void CResultsUploader::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable() || !status_.configured) return;
  stop_ = false;
  thread_ = std::thread(&CResultsUploader::ThreadProc, this);
}

void CResultsUploader::Notify() {
  std::lock_guard<std::mutex> lock(mutex_);
  newRun_ = true;
  ++status_.pending;
  changed_.notify_all();
}

void CResultsUploader::RetryNow() {
  std::lock_guard<std::mutex> lock(mutex_);
  retry_ = true;
  changed_.notify_all();
}

void CResultsUploader::Stop(bool finalSync) {
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
    worker = std::move(thread_);
  }
  if (worker.joinable()) {
    // A refusal box the thread shows must not hold the station's exit.
    platform::ScopedBoxRelease release({worker.get_id()});
    worker.join();
  }
  // Only while the server answers: a station that closes while it is away
  // leaves its runs for the next start rather than wait for a time-out.
  bool lastFailed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastFailed = failures_ > 0;
  }
  if (finalSync && status_.configured && !lastFailed) Attempt();
}

ResultsDbStatus CResultsUploader::GetStatus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

bool CResultsUploader::WaitForAttempts(uint64_t count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return status_.attempts >= count; });
}

void CResultsUploader::ThreadProc() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool due = true;  // the first attempt at once: an earlier session may have left runs
  while (!stop_) {
    if (!due) {
      if (failures_ > 0) {
        // After a failure only the pause's end or a retry request sends again;
        // new runs wait with the others.
        changed_.wait_for(lock, backOff_(failures_), [&] { return stop_ || retry_; });
      } else {
        changed_.wait(lock, [&] { return stop_ || retry_ || newRun_; });
      }
      if (stop_) break;
    }
    due = false;
    retry_ = false;
    newRun_ = false;
    lock.unlock();
    Attempt();
    lock.lock();
  }
}

void CResultsUploader::Attempt() {
  const CResultsStore::SyncResult result = store_.SendPending();
  bool showBox = false;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.connected = result.ok || store_.IsConnected();
    status_.pending = result.remaining;
    status_.refused = !result.ok && result.permanent;
    status_.lastError = result.ok ? "" : OneLineText(MaskPassword(result.error.text));
    if (result.ok) {
      failures_ = 0;
    } else {
      ++failures_;
      if (result.permanent && !boxShown_) {
        boxShown_ = true;
        showBox = true;
        text = "The results database refused the results of this station; the runs stay "
               "pending in " + store_.ResultFilePath() + ".\n" + MaskPassword(result.error.text);
      }
    }
  }
  // The box holds only this thread; the count of attempts moves on after it.
  if (showBox) ShowError("Results database", text);
  std::lock_guard<std::mutex> lock(mutex_);
  ++status_.attempts;
  changed_.notify_all();
}
