// CDbSession: the few things the plant's results database is asked for, as
// one connection: connect by an ODBC connection string, run a statement with
// bound parameters (never values spliced into SQL text), read rows back as
// text, and group statements into one transaction. The results store
// (app/results_db) is its only user; OpenOdbcSession gives the ODBC one
// (unixODBC on Linux, odbc32 on Windows), whose calls all live in
// app/odbc_session.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// A value bound to one '?' of a statement. No value (nullopt) binds NULL.
using DbValue = std::variant<std::monostate, int64_t, double, std::string>;

// What went wrong, as the driver or the server said it.
struct DbError {
  std::string state;  // SQLSTATE of the first diagnostic record ("08001", "42P01")
  std::string text;   // every diagnostic's message, joined; may hold the connection string
  bool IsUniqueViolation() const { return state.rfind("23", 0) == 0; }
};

// One row of a query, each column as text (nullopt for NULL).
using DbRow = std::vector<std::optional<std::string>>;

class CDbSession {
 public:
  virtual ~CDbSession() = default;
  // Connects with the connection string; true when connected. A session that
  // is connected already is disconnected first.
  virtual bool Connect(const std::string& connection, DbError& error) = 0;
  virtual void Disconnect() = 0;
  virtual bool IsConnected() const = 0;
  // Runs one statement with its parameters bound in order. rows, when given,
  // receives every row of a result set.
  virtual bool Execute(const std::string& sql, const std::vector<DbValue>& params,
                       DbError& error, std::vector<DbRow>* rows = nullptr) = 0;
  // Whether a table of that name exists (the catalog's view, any letter case).
  virtual bool TableExists(const std::string& name, bool& exists, DbError& error) = 0;
  // Transactions: Begin turns auto-commit off until Commit or Rollback.
  virtual bool Begin(DbError& error) = 0;
  virtual bool Commit(DbError& error) = 0;
  virtual void Rollback() = 0;
  // The driver's name for the server's product ("PostgreSQL", "SQLite").
  virtual std::string ServerProduct() = 0;
};

// A session through the system's ODBC driver manager; not connected yet.
std::unique_ptr<CDbSession> OpenOdbcSession();
