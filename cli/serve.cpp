#include "cli/serve.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <csignal>
#include <functional>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#endif

#include "cli/data_query.h"
#include "cli/files.h"
#include "cli/log_names.h"
#include "cli/record_shaper.h"
#include "cli/stream_printer.h"
#include "serve/json.h"
#include "serve/server.h"
#include "text/codepage.h"

#ifdef VELMORA_HAVE_SQL
#include "core/file_identity.h"
#include "sql/log_table.h"
#endif

namespace velmora::cli {
namespace {

// Output appended to a text that the caller points it at.
class TextBuf : public std::streambuf {
 public:
  std::string* target = nullptr;

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) target->push_back(static_cast<char>(c));
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    target->append(s, static_cast<std::size_t>(n));
    return n;
  }
};

// The data command's printers for one response.
class ToolWriter : public serve::RowWriter {
 public:
  ToolWriter(const DataQuery& q, serve::RowFormat format, const CodePage& cp)
      : json_(format == serve::RowFormat::Json),
        out_(&buf_),
        shaper_(q.fields, q.translated, cp),
        printer_(json_ ? Format::Jsonl : Format::Csv, out_, cp),
        cells_(q.fields.size()) {
    std::vector<std::string> names;
    for (const U16String& n : q.columnNames()) names.push_back(toUtf8(n));
    printer_.setColumns(std::move(names), std::vector<bool>(q.fields.size(), false));
  }
  void row(const RecordFields& fields, std::string_view pos, std::string& out) override {
    buf_.target = &out;
    shaper_.shape(fields, cells_.data());
    printer_.row(cells_.data());
    printer_.flush(true);
    if (!json_) return;
    // The jsonl line's object, with the record's position added.
    while (!out.empty() && (out.back() == '\n' || out.back() == '}')) {
      const bool brace = out.back() == '}';
      out.pop_back();
      if (brace) break;
    }
    out += ",\"pos\":";
    out += pos;
    out.push_back('}');
  }

 private:
  bool json_;
  TextBuf buf_;
  std::ostream out_;
  RecordShaper shaper_;
  StreamPrinter printer_;
  std::vector<Cell> cells_;
};

class ToolView : public serve::View {
 public:
  ToolView(DataQuery q, const CodePage& cp) : query_(std::move(q)), cp_(cp) {}
  const ReadQuery& query() const override { return query_.read; }
  std::unique_ptr<serve::RowWriter> writer(serve::RowFormat format) const override {
    return std::make_unique<ToolWriter>(query_, format, cp_);
  }

 private:
  DataQuery query_;
  const CodePage& cp_;
};

// Parameters are the data command's long options without their dashes.
class ToolFace : public serve::Face {
 public:
  // given: the names as given (files and folders); logs: the logs they stand for.
  ToolFace(std::vector<std::string> given, std::vector<U16String> logs, const CodePage& cp)
      : given_(std::move(given)), logs_(std::move(logs)), cp_(cp) {}

  std::unique_ptr<serve::View> view(const serve::Params& params) const override {
    DataRequest r;
    r.log = given_.front();
    auto once = [](std::string& slot, const std::string& name, const std::string& value) {
      if (!slot.empty()) throw serve::BadParameter(name + " is given twice; give it once");
      if (value.empty()) throw serve::BadParameter(name + " is empty");
      slot = value;
    };
    auto onceOptional = [](std::optional<std::string>& slot, const std::string& name, const std::string& value) {
      if (slot) throw serve::BadParameter(name + " is given twice; give it once");
      slot = value;
    };
    for (const auto& [name, value] : params) {
      if (name == "from") once(r.period.from, name, value);
      else if (name == "from-time") once(r.period.fromTime, name, value);
      else if (name == "to") once(r.period.to, name, value);
      else if (name == "to-time") once(r.period.toTime, name, value);
      else if (name == "columns") onceOptional(r.columns, name, value);
      else if (name == "translate") onceOptional(r.translate, name, value);
      else if (name == "exact-id") {
        if (value != "1" && value != "true") throw serve::BadParameter("exact-id takes 1 or true");
        r.filters.exactId = true;
      } else if (!plainFilter(r.filters, name, value)) {
        throw serve::BadParameter("unknown parameter " + name + " (the data command's long options without dashes: from, "
                                  "to, user, not-user, mode, ..., columns, translate; and pos, dir, limit)");
      }
    }
    std::ostringstream notes;
    Io io{notes, notes};
    io.codepage = &cp_;
    try {
      return std::make_unique<ToolView>(dataQuery(r, io), cp_);
    } catch (const UsageError& e) {
      throw serve::BadParameter(e.what());
    }
  }
  const CodePage& codePage() const override { return cp_; }
  serve::SqlAnswer sql(const std::string& statement, std::int64_t maxRows, int seconds,
                       const std::function<bool()>& keepGoing) const override;
  std::string utf8(std::string_view bytes) const override { return toUtf8(cp_.decode(bytes)); }

 private:
  static bool plainFilter(FilterOptions& f, const std::string& name, const std::string& value) {
    for (int k = 3; k <= 10; ++k) {
      const std::string plain = plainFieldName(k);
      PlainField& field = f.plain[static_cast<std::size_t>(k)];
      if (name == plain) field.include.push_back(value);
      else if (name == "not-" + plain) field.exclude.push_back(value);
      else continue;
      return true;
    }
    return false;
  }

  std::vector<std::string> given_;
  std::vector<U16String> logs_;
  const CodePage& cp_;
};

serve::SqlAnswer sqlError(int status, std::string_view message) {
  serve::SqlAnswer a{status, "{\"error\":"};
  serve::appendJsonString(a.body, message);
  a.body += "}\n";
  return a;
}

#ifdef VELMORA_HAVE_SQL

// What a statement of the viewer's console may do: read. No ATTACH, no
// writing, no extension loading, no file functions, no PRAGMA but a few that
// only describe.
extern "C" int authorizeReading(void*, int action, const char* a, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE:
      return SQLITE_OK;
    case SQLITE_FUNCTION: {
      const std::string_view name = a ? a : "";
      for (std::string_view banned : {"load_extension", "readfile", "writefile", "edit", "fts3_tokenizer", "zipfile"}) {
        if (name == banned) return SQLITE_DENY;
      }
      return SQLITE_OK;
    }
    case SQLITE_PRAGMA: {
      const std::string_view name = a ? a : "";
      for (std::string_view describes : {"table_info", "table_xinfo", "function_list", "module_list", "pragma_list"}) {
        if (name == describes) return SQLITE_OK;
      }
      return SQLITE_DENY;
    }
    default:
      return SQLITE_DENY;
  }
}

struct Deadline {
  std::chrono::steady_clock::time_point end;
  const std::function<bool()>* keepGoing;
};

extern "C" int sqlProgress(void* p) {
  const auto& d = *static_cast<Deadline*>(p);
  return std::chrono::steady_clock::now() > d.end || !(*d.keepGoing)();
}

#endif

// The checks every face makes of a log before reading it.
int checkServedLog(const std::string& log, std::ostream& err) { return checkLog(log, err); }

serve::SqlAnswer ToolFace::sql(const std::string& statement, std::int64_t maxRows, int seconds,
                               const std::function<bool()>& keepGoing) const {
#ifndef VELMORA_HAVE_SQL
  return sqlError(501, "this build has no SQL: it was made without SQLite");
#else
  sqlite3* db = nullptr;
  struct Close {
    sqlite3*& db;
    ~Close() { sqlite3_close(db); }
  } close{db};
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) != SQLITE_OK)
    return sqlError(500, "SQLite cannot start");
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 16 << 20);
  sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, 64 << 10);
  sql::SqlState state;
  sql::SqlOptions options;
  options.defaultLog = given_.front();
  if (given_.size() > 1 || logs_.size() > 1) options.defaultLogs = given_;
  const CodePage& cp = cp_;
  options.codepage = [&cp]() -> const CodePage& { return cp; };
  // A statement reads the served logs and nothing else: a name is admitted
  // when it is, by identity whatever its name, a served log or a folder
  // given at the start (whose logs are then each admitted or not).
  std::vector<FileIdentity> served;
  for (const U16String& log : logs_)
    if (const auto id = fileIdentity(log)) served.push_back(*id);
  for (const std::string& g : given_)
    if (const auto id = fileIdentity(fromUtf8(g))) served.push_back(*id);
  // A statement that names a log beside them is forbidden (403), not broken.
  bool refused = false;
  options.mayRead = [&](const std::string& file) {
    const std::optional<FileIdentity> other = fileIdentity(fromUtf8(file));
    const bool may =
        other && std::any_of(served.begin(), served.end(), [&](const FileIdentity& s) { return other->sameFileAs(s); });
    refused = refused || !may;
    return may;
  };
  if (sql::registerLogTable(db, options, &state) != SQLITE_OK) return sqlError(500, sqlite3_errmsg(db));
  // The tables are connected before the authorizer: declaring them is a
  // CREATE TABLE that it would refuse.
  sqlite3_stmt* connect = nullptr;
  const int connected = sqlite3_prepare_v2(db, "SELECT 1 FROM log, sessions", -1, &connect, nullptr);
  sqlite3_finalize(connect);
  if (connected != SQLITE_OK) return sqlError(500, sqlite3_errmsg(db));
  sqlite3_set_authorizer(db, authorizeReading, nullptr);
  Deadline deadline{std::chrono::steady_clock::now() + std::chrono::seconds(seconds), &keepGoing};
  sqlite3_progress_handler(db, 4096, sqlProgress, &deadline);

  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, statement.c_str(), static_cast<int>(statement.size()), &stmt, &tail) != SQLITE_OK)
    return sqlError(refused ? 403 : 400, sqlite3_errmsg(db));
  struct Finalize {
    sqlite3_stmt* s;
    ~Finalize() { sqlite3_finalize(s); }
  } finalize{stmt};
  if (stmt == nullptr) return sqlError(400, "no statement");
  for (const char* t = tail; t && *t; ++t) {
    if (*t != ' ' && *t != '\n' && *t != '\r' && *t != '\t' && *t != ';')
      return sqlError(400, "one statement at a time");
  }
  const int n = sqlite3_column_count(stmt);
  std::string body = "{\"columns\":[";
  for (int i = 0; i < n; ++i) {
    if (i > 0) body.push_back(',');
    serve::appendJsonString(body, sqlite3_column_name(stmt, i));
  }
  body += "],\"rows\":[";
  std::int64_t rows = 0;
  int rc;
  bool truncated = false;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    if (rows == maxRows) {
      truncated = true;
      break;
    }
    body += rows++ ? ",[" : "[";
    for (int i = 0; i < n; ++i) {
      if (i > 0) body.push_back(',');
      const int type = sqlite3_column_type(stmt, i);
      if (type == SQLITE_NULL) {
        body += "null";
      } else if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        body += reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      } else {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        serve::appendJsonString(body, std::string_view(t ? t : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))));
      }
    }
    body.push_back(']');
  }
  if (rc == SQLITE_INTERRUPT)
    return sqlError(503, "the query took longer than " + std::to_string(seconds) + " s and was stopped");
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return sqlError(refused ? 403 : state.logFailed ? 500 : 400, sqlite3_errmsg(db));
  body += "],\"truncated\":";
  body += truncated ? "true" : "false";
  body += "}\n";
  return {200, std::move(body)};
#endif
}

// The system's requests to stop, turned into the server's stop: SIGINT and
// SIGTERM, or on Windows Ctrl-C, Ctrl-Break and the console closing. Made
// before the server, whose threads then leave the signals to it.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests() { release(); }
  // From now on a request stops server, asked again until it has stopped:
  // one that comes before the server listens would find nothing to stop.
  void watch(serve::Server& server) {
    watcher_ = std::thread([this, &server] {
      if (!wait()) return;
      while (!done_) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
  }
  void release();

 private:
  bool wait();  // true: a request came; false: released first
  std::atomic<bool> done_{false};
  std::thread watcher_;
#ifndef _WIN32
  sigset_t signals_{}, before_{};
#endif
};

#ifdef _WIN32
std::mutex stopMutex;
std::condition_variable stopSignal;
bool stopAsked = false;

BOOL WINAPI onConsoleEvent(DWORD) {
  {
    std::lock_guard lock(stopMutex);
    stopAsked = true;
  }
  stopSignal.notify_all();
  return TRUE;
}

StopRequests::StopRequests() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool StopRequests::wait() {
  std::unique_lock lock(stopMutex);
  stopSignal.wait(lock, [this] { return stopAsked || done_; });
  return stopAsked;
}

void StopRequests::release() {
  {
    std::lock_guard lock(stopMutex);
    done_ = true;
  }
  stopSignal.notify_all();
  if (watcher_.joinable()) watcher_.join();
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}
#else
StopRequests::StopRequests() {
  // Connections are descriptors: as many as the system lets this process have.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  // A client gone mid-answer must end that answer, not the server.
  std::signal(SIGPIPE, SIG_IGN);
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals_, &before_);
}

bool StopRequests::wait() {
  const timespec tick{0, 200'000'000};
  while (!done_)
    if (sigtimedwait(&signals_, nullptr, &tick) > 0) return true;
  return false;
}

void StopRequests::release() {
  if (done_.exchange(true)) return;
  if (watcher_.joinable()) watcher_.join();
  pthread_sigmask(SIG_SETMASK, &before_, nullptr);
}
#endif

}  // namespace

int runServe(const ServeRequest& request, Io& io) {
  std::vector<U16String> logs;
  if (manyLogs(request.logs)) {
    if (const int code = resolveLogs(request.logs, io.err, logs)) return code;
  } else {
    if (const int code = checkServedLog(request.logs.front(), io.err)) return code;
    logs.push_back(fromUtf8(request.logs.front()));
  }
  serve::ServeOptions options;
  options.logs = logs;
  options.live = liveLog(request.logs, logs, io.codePage());
  std::string named;
  for (const std::string& g : request.logs) named += (named.empty() ? "" : " ") + g;
  options.logName = named;
  ToolFace face(request.logs, std::move(logs), io.codePage());
  options.bind = request.bind;
  options.port = request.port;
  StopRequests stops;
  serve::Server server(options, face);
  std::string error;
  if (!server.bind(error)) {
    io.err << "velmora: " << error << "\n";
    return kFailed;
  }
  io.out << "velmora: serving " << options.logName << " at " << server.url() << std::endl;
  stops.watch(server);
  server.run();
  stops.release();
  io.err << "velmora: stopped\n";
  return kSuccess;
}

}  // namespace velmora::cli
