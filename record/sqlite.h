// A thin hold on SQLite (libsqlite3) for the session record: a connection
// and its prepared statements that close themselves, and errors as text
// that names the file. Nothing of the record's own is here. Qt-free.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace rt::sql {

class Statement;

class Db {
 public:
  Db() = default;
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  // Opens `path`: read-only, or for writing (created when missing). False
  // with error() when it cannot be opened.
  bool open(const std::string& path, bool write);
  void close();
  bool is_open() const { return db_ != nullptr; }
  // Runs statements without results. False with error().
  bool exec(std::string_view sql);
  // One integer (the first column of the first row); false with error()
  // when the statement fails or gives no row.
  bool integer(std::string_view sql, int64_t* out);
  // Why the last call failed: SQLite's words ("database or disk is full").
  const std::string& error() const { return error_; }
  // SQLite's primary result code of the last failure (SQLITE_FULL, ...).
  int code() const { return code_; }
  sqlite3* handle() const { return db_; }
  // The rowid of the last row inserted.
  int64_t last_insert_id() const;
  void set_error(int code);

 private:
  sqlite3* db_ = nullptr;
  std::string error_;
  int code_ = 0;
};

class Statement {
 public:
  Statement() = default;
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // False with db.error() when `sql` does not compile.
  bool prepare(Db& db, std::string_view sql);
  bool ready() const { return stmt_ != nullptr; }

  // Parameters count from 1.
  Statement& bind(int i, int64_t v);
  Statement& bind(int i, double v);
  Statement& bind(int i, std::string_view v);
  Statement& bind_null(int i);
  // Steps: true with a row; false at the end or on a failure (failed()
  // says which, db's error() why).
  bool step();
  bool failed() const { return failed_; }
  // Runs it to its end and resets it for the next bindings.
  bool run();
  void reset();

  int64_t integer(int col) const;
  double real(int col) const;
  std::string text(int col) const;
  bool is_null(int col) const;

 private:
  Db* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  bool failed_ = false;
};

}  // namespace rt::sql
