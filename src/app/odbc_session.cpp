// The ODBC session: every ODBC call of the program is in this file. The
// driver manager is unixODBC on Linux and the system's odbc32 on Windows;
// both take the same ANSI calls. Values always travel as bound parameters.
//
// The Windows ODBC headers use the system's base types without including
// them, so the system header goes first there; nothing else differs.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "app/db_session.h"

namespace {

// How long a connection attempt may take before the server counts as down.
constexpr SQLUINTEGER kLoginTimeoutS = 5;

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The handle's diagnostic records: the first SQLSTATE and every message.
void Diagnose(SQLSMALLINT type, SQLHANDLE handle, const char* what, DbError& error) {
  error.state.clear();
  error.text.clear();
  for (SQLSMALLINT i = 1; handle != SQL_NULL_HANDLE; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetDiagRecA(type, handle, i, state, &native, message, sizeof message, &length))) {
      break;
    }
    if (error.state.empty()) error.state = reinterpret_cast<const char*>(state);
    if (!error.text.empty()) error.text += "; ";
    error.text += "[" + std::string(reinterpret_cast<const char*>(state)) + "] " +
                  reinterpret_cast<const char*>(message);
  }
  if (error.text.empty()) error.text = std::string(what) + " failed";
}

class OdbcStatement {
 public:
  explicit OdbcStatement(SQLHDBC dbc) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_))) stmt_ = SQL_NULL_HSTMT;
  }
  ~OdbcStatement() {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  }
  OdbcStatement(const OdbcStatement&) = delete;
  OdbcStatement& operator=(const OdbcStatement&) = delete;
  SQLHSTMT get() const { return stmt_; }

 private:
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

// Reads every row of the statement's result set, columns as text.
bool FetchRows(SQLHSTMT stmt, std::vector<DbRow>& rows, DbError& error) {
  SQLSMALLINT columns = 0;
  if (!Ok(SQLNumResultCols(stmt, &columns))) {
    Diagnose(SQL_HANDLE_STMT, stmt, "SQLNumResultCols", error);
    return false;
  }
  if (columns == 0) return true;
  for (;;) {
    SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) return true;
    if (!Ok(rc)) {
      Diagnose(SQL_HANDLE_STMT, stmt, "SQLFetch", error);
      return false;
    }
    DbRow row;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      std::string value;
      bool null = false;
      for (;;) {
        char chunk[4096];
        SQLLEN length = 0;
        rc = SQLGetData(stmt, c, SQL_C_CHAR, chunk, sizeof chunk, &length);
        if (rc == SQL_NO_DATA) break;
        if (!Ok(rc)) {
          Diagnose(SQL_HANDLE_STMT, stmt, "SQLGetData", error);
          return false;
        }
        if (length == SQL_NULL_DATA) {
          null = true;
          break;
        }
        // A chunk that did not hold the rest is full save its terminator.
        const bool more = length == SQL_NO_TOTAL || length >= static_cast<SQLLEN>(sizeof chunk);
        value.append(chunk, more ? sizeof chunk - 1 : static_cast<size_t>(length));
        if (!more) break;
      }
      row.push_back(null ? std::nullopt : std::optional<std::string>(value));
    }
    rows.push_back(std::move(row));
  }
}

class OdbcSession final : public CDbSession {
 public:
  OdbcSession() {
    if (Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
      SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    } else {
      env_ = SQL_NULL_HENV;
    }
  }
  ~OdbcSession() override {
    Disconnect();
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  bool Connect(const std::string& connection, DbError& error) override {
    Disconnect();
    if (env_ == SQL_NULL_HENV) {
      error = {"HY001", "the ODBC driver manager could not be initialised"};
      return false;
    }
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
      Diagnose(SQL_HANDLE_ENV, env_, "SQLAllocHandle", error);
      dbc_ = SQL_NULL_HDBC;
      return false;
    }
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(kLoginTimeoutS)), 0);
    std::vector<SQLCHAR> text(connection.begin(), connection.end());
    text.push_back(0);
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectA(dbc_, nullptr, text.data(), SQL_NTS, out, sizeof out,
                                           &outLength, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
      Diagnose(SQL_HANDLE_DBC, dbc_, "SQLDriverConnect", error);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      dbc_ = SQL_NULL_HDBC;
      return false;
    }
    connected_ = true;
    return true;
  }

  void Disconnect() override {
    if (dbc_ == SQL_NULL_HDBC) return;
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
    connected_ = false;
  }

  bool IsConnected() const override { return connected_; }

  bool Execute(const std::string& sql, const std::vector<DbValue>& params, DbError& error,
               std::vector<DbRow>* rows) override {
    if (!connected_) {
      error = {"08003", "not connected"};
      return false;
    }
    OdbcStatement stmt(dbc_);
    if (stmt.get() == SQL_NULL_HSTMT) {
      Diagnose(SQL_HANDLE_DBC, dbc_, "SQLAllocHandle", error);
      return false;
    }
    std::vector<SQLCHAR> text(sql.begin(), sql.end());
    text.push_back(0);
    if (!Ok(SQLPrepareA(stmt.get(), text.data(), SQL_NTS))) {
      Diagnose(SQL_HANDLE_STMT, stmt.get(), "SQLPrepare", error);
      return false;
    }
    // The bound buffers must stay where they are until the statement ran.
    struct Bound {
      int64_t integer = 0;
      double real = 0;
      std::string text;
      SQLLEN indicator = 0;
    };
    std::vector<Bound> bound(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      Bound& b = bound[i];
      const SQLUSMALLINT number = static_cast<SQLUSMALLINT>(i + 1);
      SQLRETURN rc;
      if (const int64_t* v = std::get_if<int64_t>(&params[i])) {
        b.integer = *v;
        rc = SQLBindParameter(stmt.get(), number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                              &b.integer, 0, &b.indicator);
      } else if (const double* d = std::get_if<double>(&params[i])) {
        b.real = *d;
        rc = SQLBindParameter(stmt.get(), number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                              &b.real, 0, &b.indicator);
      } else if (const std::string* s = std::get_if<std::string>(&params[i])) {
        b.text = *s;
        b.indicator = static_cast<SQLLEN>(b.text.size());
        rc = SQLBindParameter(stmt.get(), number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                              b.text.empty() ? 1 : b.text.size(), 0, b.text.data(),
                              static_cast<SQLLEN>(b.text.size()), &b.indicator);
      } else {
        b.indicator = SQL_NULL_DATA;
        rc = SQLBindParameter(stmt.get(), number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0,
                              nullptr, 0, &b.indicator);
      }
      if (!Ok(rc)) {
        Diagnose(SQL_HANDLE_STMT, stmt.get(), "SQLBindParameter", error);
        return false;
      }
    }
    const SQLRETURN rc = SQLExecute(stmt.get());
    if (!Ok(rc) && rc != SQL_NO_DATA) {
      Diagnose(SQL_HANDLE_STMT, stmt.get(), "SQLExecute", error);
      return false;
    }
    if (rows != nullptr) return FetchRows(stmt.get(), *rows, error);
    return true;
  }

  bool TableExists(const std::string& name, bool& exists, DbError& error) override {
    exists = false;
    if (!connected_) {
      error = {"08003", "not connected"};
      return false;
    }
    OdbcStatement stmt(dbc_);
    std::vector<SQLCHAR> table(name.begin(), name.end());
    table.push_back(0);
    SQLCHAR type[] = "TABLE";
    if (!Ok(SQLTablesA(stmt.get(), nullptr, 0, nullptr, 0, table.data(), SQL_NTS, type, SQL_NTS))) {
      Diagnose(SQL_HANDLE_STMT, stmt.get(), "SQLTables", error);
      return false;
    }
    std::vector<DbRow> rows;
    if (!FetchRows(stmt.get(), rows, error)) return false;
    exists = !rows.empty();
    return true;
  }

  bool Begin(DbError& error) override {
    if (!Ok(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(SQL_AUTOCOMMIT_OFF)),
                              0))) {
      Diagnose(SQL_HANDLE_DBC, dbc_, "SQLSetConnectAttr", error);
      return false;
    }
    return true;
  }

  bool Commit(DbError& error) override {
    const bool ok = Ok(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT));
    if (!ok) Diagnose(SQL_HANDLE_DBC, dbc_, "SQLEndTran", error);
    AutoCommit();
    return ok;
  }

  void Rollback() override {
    if (dbc_ == SQL_NULL_HDBC) return;
    SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    AutoCommit();
  }

  std::string ServerProduct() override {
    char name[128] = {};
    SQLSMALLINT length = 0;
    if (!connected_ || !Ok(SQLGetInfoA(dbc_, SQL_DBMS_NAME, name, sizeof name, &length))) return "";
    return name;
  }

 private:
  void AutoCommit() {
    SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(SQL_AUTOCOMMIT_ON)), 0);
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

}  // namespace

std::unique_ptr<CDbSession> OpenOdbcSession() { return std::make_unique<OdbcSession>(); }
