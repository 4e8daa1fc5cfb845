#include "cli/serve.h"

#include <csignal>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <thread>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include "cli/data_query.h"
#include "cli/files.h"
#include "cli/record_shaper.h"
#include "cli/stream_printer.h"
#include "serve/server.h"
#include "text/codepage.h"

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
  void row(const RecordFields& fields, std::int64_t pos, std::string& out) override {
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
    out += std::to_string(pos);
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
  ToolFace(std::string log, const CodePage& cp) : log_(std::move(log)), cp_(cp) {}

  std::unique_ptr<serve::View> view(const serve::Params& params) const override {
    DataRequest r;
    r.log = log_;
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

  std::string log_;
  const CodePage& cp_;
};

// The checks every face makes of a log before reading it.
int checkServedLog(const std::string& log, std::ostream& err) { return checkLog(log, err); }

}  // namespace

int runServe(const ServeRequest& request, Io& io) {
  if (const int code = checkServedLog(request.log, io.err)) return code;
  ToolFace face(request.log, io.codePage());
  serve::ServeOptions options;
  options.log = fromUtf8(request.log);
  options.logName = request.log;
  options.bind = request.bind;
  options.port = request.port;
  // SIGINT and SIGTERM are taken by one thread that stops the server; every
  // other thread (the server's are made after this) leaves them blocked.
  // Connections are descriptors: as many as the system lets this process have.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  // A client gone mid-answer must end that answer, not the server.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &stopSignals, &before);
  serve::Server server(options, face);
  std::string error;
  if (!server.bind(error)) {
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    io.err << "velmora: " << error << "\n";
    return kFailed;
  }
  io.out << "velmora: serving " << request.log << " at " << server.url() << std::endl;
  std::atomic<bool> done{false};
  std::thread signals([&] {
    const timespec tick{0, 200'000'000};
    while (!done) {
      if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) {
        // A signal before the server got to listening would find nothing
        // to stop: ask again until it has stopped.
        while (!done) {
          server.stop();
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return;
      }
    }
  });
  server.run();
  done = true;
  signals.join();
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  io.err << "velmora: stopped\n";
  return kSuccess;
}

}  // namespace velmora::cli
