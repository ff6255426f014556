#include "record/sqlite.h"

#include <sqlite3.h>

namespace rt::sql {

Db::~Db() { close(); }

void Db::set_error(int code) {
  code_ = code & 0xFF;
  const char* text = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
  error_ = text ? text : "unknown SQLite error";
}

bool Db::open(const std::string& path, bool write) {
  close();
  const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    set_error(rc);
    close();
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  return true;
}

void Db::close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

int64_t Db::last_insert_id() const { return sqlite3_last_insert_rowid(db_); }

bool Db::exec(std::string_view sql) {
  const std::string text(sql);
  const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  set_error(rc);
  return false;
}

bool Db::integer(std::string_view sql, int64_t* out) {
  Statement st;
  if (!st.prepare(*this, sql)) return false;
  if (!st.step()) {
    if (!st.failed()) {
      code_ = SQLITE_DONE;
      error_ = "no row";
    }
    return false;
  }
  *out = st.integer(0);
  return true;
}

Statement::~Statement() {
  if (stmt_) sqlite3_finalize(stmt_);
}

bool Statement::prepare(Db& db, std::string_view sql) {
  if (stmt_) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  db_ = &db;
  const int rc = sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc == SQLITE_OK) return true;
  db.set_error(rc);
  return false;
}

Statement& Statement::bind(int i, int64_t v) {
  sqlite3_bind_int64(stmt_, i, v);
  return *this;
}

Statement& Statement::bind(int i, double v) {
  sqlite3_bind_double(stmt_, i, v);
  return *this;
}

Statement& Statement::bind(int i, std::string_view v) {
  sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bind_null(int i) {
  sqlite3_bind_null(stmt_, i);
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  failed_ = rc != SQLITE_ROW && rc != SQLITE_DONE;
  if (failed_) db_->set_error(rc);
  return rc == SQLITE_ROW;
}

bool Statement::run() {
  while (step()) {
  }
  const bool ok = !failed_;
  reset();
  return ok;
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::integer(int col) const { return sqlite3_column_int64(stmt_, col); }
double Statement::real(int col) const { return sqlite3_column_double(stmt_, col); }
std::string Statement::text(int col) const {
  const auto* p = sqlite3_column_text(stmt_, col);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
           : std::string();
}
bool Statement::is_null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

}  // namespace rt::sql
