// Real database servers for the results database tests, started by the tests
// themselves: a PostgreSQL server made with initdb in a scratch folder and
// run with pg_ctl on a Unix socket only (as the user nobody when the tests
// run as root, since the server refuses to run as root), reached through
// Debian's psqlodbc driver; and SQLite files through the SQLite ODBC driver.
// Drivers are named by path, so no odbcinst.ini is needed.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/scratch_dir.h"

namespace dbtest {

inline constexpr const char* kPgBin = "/usr/lib/postgresql/15/bin";
inline constexpr const char* kPgDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";
inline constexpr const char* kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
inline constexpr const char* kPgPassword = "s3cr3t;Pw";

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// Why the PostgreSQL tests cannot run here; empty when they can.
inline std::string PgMissing() {
  for (const std::string& path : {std::string(kPgBin) + "/initdb", std::string(kPgBin) + "/pg_ctl",
                                 std::string(kPgDriver)}) {
    if (!Exists(path)) return path + " is missing (tools/install-deps installs postgresql and odbc-postgresql)";
  }
  return "";
}

// Built by appending: GCC 12 warns falsely (-Warray-bounds) about chains of
// string additions here.
inline std::string SqliteMissing() {
  if (Exists(kSqliteDriver)) return "";
  std::string why = kSqliteDriver;
  why += " is missing (libsqliteodbc)";
  return why;
}

inline std::string SqliteConnection(const std::string& file) {
  std::string connection = "Driver=";
  connection += kSqliteDriver;
  connection += ";Database=";
  connection += file;
  connection += ";Timeout=10000";
  return connection;
}

class PgServer {
 public:
  PgServer() {
    const std::filesystem::path dir = scratch_.Path();
    runAs_ = geteuid() == 0 ? "runuser -u nobody -- " : "";
    // The server's user must own its folder and reach it.
    ::chmod(scratch_.Path().c_str(), 0777);
    testsupport::WriteFile(scratch_ / "pw", std::string(kPgPassword) + "\n");
    ::chmod((scratch_ / "pw").c_str(), 0644);
    port_ = 20000 + static_cast<int>(getpid() % 20000);
    const std::string initdb = runAs_ + kPgBin + "/initdb -D " + Data() +
                               " -U vantorel --pwfile=" + (scratch_ / "pw") +
                               " --auth=scram-sha-256 -E UTF8 --no-sync >" + (scratch_ / "initdb.log") +
                               " 2>&1";
    ok_ = std::system(initdb.c_str()) == 0 && Start();
  }
  ~PgServer() { Stop(); }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  bool ok() const { return ok_; }
  std::string Log() const { return testsupport::ReadFile(scratch_ / "server.log"); }

  // pg_ctl -w returns once the server takes connections (or has stopped).
  bool Start() {
    const std::string cmd = runAs_ + kPgBin + "/pg_ctl -D " + Data() + " -w -l " +
                            (scratch_ / "server.log") + " -o \"-k " + scratch_.Path() +
                            " -c listen_addresses='' -p " + std::to_string(port_) +
                            " -c fsync=off\" start >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
  }
  bool Stop() {
    const std::string cmd =
        runAs_ + kPgBin + "/pg_ctl -D " + Data() + " -w -m immediate stop >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
  }

  std::string Connection(const std::string& password = kPgPassword) const {
    return std::string("Driver=") + kPgDriver + ";Servername=" + scratch_.Path() +
           ";Port=" + std::to_string(port_) + ";Database=postgres;Uid=vantorel;Pwd={" + password +
           "}";
  }

 private:
  std::string Data() const { return scratch_ / "data"; }

  testsupport::ScratchDir scratch_;
  std::string runAs_;
  int port_ = 0;
  bool ok_ = false;
};

}  // namespace dbtest
