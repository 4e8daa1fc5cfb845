#include "serve/server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_set>

#include <map>
#include <optional>

#ifdef _WIN32
#include <bcrypt.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "core/backward_scan.h"
#include "core/file_identity.h"
#include "core/fileio.h"
#include "core/log_set.h"
#include "core/log_shape.h"
#include "serve/json.h"
#include "serve/page.h"
#include "text/codepage.h"

namespace velmora::serve {
namespace {

using Clock = std::chrono::steady_clock;

// A scan given up: its time is over, or nobody waits for its answer.
struct Interrupted {
  bool timeUp;
};

// Connections each on a thread of its own, up to a limit; the rest wait in
// order. The library's fixed pool would let a few idle connections hold
// every thread while others wait behind them.
class ConnectionQueue : public httplib::TaskQueue {
 public:
  explicit ConnectionQueue(int limit) : limit_(limit) {}
  void enqueue(std::function<void()> fn) override {
    std::unique_lock lock(mutex_);
    waiting_.push_back(std::move(fn));
    if (idle_ > 0) {
      ready_.notify_one();
    } else if (static_cast<int>(threads_.size()) < limit_) {
      threads_.emplace_back([this] { work(); });
    }
  }
  void shutdown() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idle_;
      ready_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      --idle_;
      if (waiting_.empty()) return;  // stopping, and nothing left to close
      std::function<void()> fn = std::move(waiting_.front());
      waiting_.pop_front();
      lock.unlock();
      fn();
      lock.lock();
    }
  }
  const int limit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> waiting_;
  std::vector<std::thread> threads_;
  int idle_ = 0;
  bool stopping_ = false;
};

// A sink of a lambda, for the scans each request makes.
template <class F>
class LambdaSink : public RecordSink {
 public:
  explicit LambdaSink(F f) : f_(std::move(f)) {}
  bool record(const Record& r) override { return f_(r); }

 private:
  F f_;
};

// Equal texts in a time that does not tell how much of them matched.
bool sameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string cookieValue(const std::string& header, std::string_view name) {
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(';', at);
    if (end == std::string::npos) end = header.size();
    std::string_view part(header.data() + at, end - at);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    if (part.size() > name.size() && part.substr(0, name.size()) == name && part[name.size()] == '=')
      return std::string(part.substr(name.size() + 1));
    at = end + 1;
  }
  return {};
}

void sendError(httplib::Response& res, int status, std::string_view message) {
  std::string body = "{\"error\":";
  appendJsonString(body, message);
  body += "}\n";
  res.status = status;
  res.set_content(body, "application/json");
}

// A request's parameters: the server's own taken out and checked, the rest
// left for the query.
struct Paging {
  std::string pos;  // as given; empty: not given
  bool back = true;
  std::int64_t limit = 200;
  Params query;
};

std::int64_t number(const std::string& name, const std::string& text, std::int64_t most) {
  const bool digits = !text.empty() && text.size() <= 19 && text.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || (text.size() == 19 && text > "9223372036854775807") || std::stoll(text) > most)
    throw BadParameter(name + " " + text + " is not a number from 0 to " + std::to_string(most));
  return std::stoll(text);
}

Paging paging(const httplib::Request& req, std::initializer_list<std::string_view> own) {
  Paging p;
  std::unordered_set<std::string> seen;
  for (const auto& [name, value] : req.params) {
    const bool mine = name == "pos" || name == "dir" || name == "limit" ||
                      std::find(own.begin(), own.end(), name) != own.end();
    if (!mine) {
      p.query.emplace_back(name, value);
      continue;
    }
    if (!seen.insert(name).second) throw BadParameter(name + " is given twice; give it once");
    if (name == "pos") {
      if (value.empty()) throw BadParameter("pos is empty");
      p.pos = value;
    } else if (name == "dir") {
      if (value != "back" && value != "forward") throw BadParameter("dir " + value + " is neither back nor forward");
      p.back = value == "back";
    } else if (name == "limit") {
      p.limit = number(name, value, Limits::kRowsPerResponse);
      if (p.limit == 0) throw BadParameter("limit 0 asks for no record; give 1 to " + std::to_string(Limits::kRowsPerResponse));
    }
  }
  return p;
}

// The histogram's bins at most (a damaged log's dates are endless), and the
// stretch of log from which it is read in two halves at once.
constexpr std::size_t kMaxBins = 200000;
constexpr std::int64_t kSplitFrom = std::int64_t{64} << 20;
// Archives whose decoded streams outlive a request: each holds up to some
// 20 MiB (its text held, the blocks decoded ahead, the decoder's state).
constexpr std::size_t kKeptArchives = 4;

// A position as the API writes it: the one log's byte as a number, a set's
// as the text "LOG:BYTE", LOG the log's index in the set.
void appendPosition(std::string& out, SetPosition p, bool named) {
  if (!named) {
    out += std::to_string(p.byte);
    return;
  }
  out += '"';
  out += std::to_string(p.log);
  out += ':';
  out += std::to_string(p.byte);
  out += '"';
}

// Rows of a page, written as they come, up to the limit.
class PageSink : public RecordSink {
 public:
  PageSink(RowWriter& writer, std::int64_t limit, bool named) : writer_(writer), limit_(limit), named_(named) {}
  bool record(const Record& r) override {
    if (count_ > 0) body.push_back(',');
    pos_.clear();
    appendPosition(pos_, SetPosition{r.log, r.position}, named_);
    writer_.row(r.fields, pos_, body);
    return ++count_ < limit_;
  }
  std::string body;
  std::int64_t count_ = 0;

 private:
  RowWriter& writer_;
  std::int64_t limit_;
  bool named_;
  std::string pos_;
};

// The served logs as the endpoints read them: one log through its reader,
// or a set through the set's reader, read as one timeline. Positions are a
// log's index in the set and a byte in it; the one log's index is 0.
class Source {
 public:
  Source(const std::vector<U16String>& logs, const ReadQuery& query, const CodePage& cp, ProgressFn progress) {
    if (logs.size() == 1) {
      one_.emplace(logs.front(), query, cp);
      one_->setProgress(std::move(progress));
    } else {
      set_.emplace(logs, query, cp);
      set_->setProgress(std::move(progress));
    }
  }

  // From the record at from (the period's start when none) on; next: where
  // a later call goes on, invalid when the scan got to the end.
  SetScanResult forward(RecordSink& sink, SetPosition from = {}) {
    if (set_) return set_->scan(sink, from);
    const ScanResult r = one_->scan(from.valid() ? from.byte : 0, sink);
    SetScanResult out;
    out.failure = r.failure;
    if (r.next >= 1) out.next = SetPosition{0, r.next};
    return out;
  }
  // Before the record at before (the end when none), newest first; next:
  // the last record handed out, invalid when none is left before it.
  SetScanResult back(RecordSink& sink, SetPosition before = {}) {
    if (set_) return set_->scanBack(sink, before);
    BackwardScan scan(*one_);
    const BackwardResult r = scan.scan(before.valid() ? before.byte : Reader::kNoStop, sink);
    SetScanResult out;
    out.failure = r.failure;
    if (r.next >= 1) out.next = SetPosition{0, r.next};
    return out;
  }
  // Every record, in two halves at once where there is a second core, as
  // the tool's stats reads: the second half's records go to later, which
  // then follows sink's (true when it has any to merge).
  bool whole(RecordSink& sink, RecordSink& later) {
    const std::int64_t splitFrom = std::thread::hardware_concurrency() >= 2 ? kSplitFrom : -1;
    if (set_) {
      const LogSetReader::Halves h = set_->scanInHalves(sink, later, splitFrom);
      if (h.failure) throw *h.failure;
      return h.secondKept;
    }
    const Reader::Halves h = one_->scanInHalves(0, sink, later, splitFrom);
    if (h.failure) throw *h.failure;
    return h.secondKept;
  }

 private:
  std::optional<Reader> one_;
  std::optional<LogSetReader> set_;
};

// Days since some fixed day, of a key's YYYYMMDD; close enough to compare spans.
long dayNumber(const std::string& key) {
  auto digits = [&](std::size_t at, std::size_t n) {
    long v = 0;
    for (std::size_t i = at; i < at + n && i < key.size(); ++i) v = v * 10 + (key[i] >= '0' && key[i] <= '9' ? key[i] - '0' : 0);
    return v;
  };
  return digits(0, 4) * 372 + digits(4, 2) * 31 + digits(6, 2);
}

}  // namespace

std::string freshToken() {
  unsigned char bytes[16];
  // The system's random source, never a seeded generator.
#ifdef _WIN32
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw std::runtime_error("the system's random source cannot be read");
#else
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  std::size_t got = 0;
  while (fd >= 0 && got < sizeof bytes) {
    const ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (fd >= 0) ::close(fd);
  if (got != sizeof bytes) throw std::runtime_error("the system's random source cannot be read");
#endif
  static const char hex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token.push_back(hex[b >> 4]);
    token.push_back(hex[b & 15]);
  }
  return token;
}

struct Server::Impl {
  Impl(ServeOptions o, const Face& f) : options(std::move(o)), face(f) {
    if (options.token.empty()) options.token = freshToken();
  }

  ServeOptions options;
  const Face& face;
  httplib::Server http;
  int port = 0;
  int queries = 0;  // running, under slotMutex
  std::mutex slotMutex;
  std::condition_variable slotFree;

  // A set's positions name their log; the one log's are plain bytes.
  bool named() const { return options.logs.size() > 1; }
  // The log follow follows: the live one of a set.
  const U16String& liveLog() const { return options.logs[static_cast<std::size_t>(options.live)]; }

  // A position the API was given, spelled as it writes them.
  SetPosition position(const std::string& name, const std::string& text) const {
    if (!named()) return SetPosition{0, number(name, text, INT64_MAX)};
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
      throw BadParameter(name + " " + text + " is not LOG:BYTE: the log's index among the served logs, a colon and a byte");
    const auto log = static_cast<int>(number(name + "'s log", text.substr(0, colon), static_cast<std::int64_t>(options.logs.size()) - 1));
    return SetPosition{log, number(name + "'s byte", text.substr(colon + 1), INT64_MAX)};
  }
  std::string positionText(SetPosition p) const {
    std::string text;
    appendPosition(text, p, named());
    return text;
  }

  std::string hostPort() const {
    const bool v6 = options.bind.find(':') != std::string::npos;
    return (v6 ? "[" + options.bind + "]" : options.bind) + ":" + std::to_string(port);
  }

  bool hostAllowed(const std::string& host) const {
    const std::string p = ":" + std::to_string(port);
    if (host == hostPort()) return true;
    // The loopback's own name; a name that some DNS answer points here is refused.
    const bool loopback = options.bind == "127.0.0.1" || options.bind == "::1";
    return loopback && host == "localhost" + p;
  }

  // Token and Host of every request, before any route.
  httplib::Server::HandlerResponse admit(const httplib::Request& req, httplib::Response& res) {
    if (!hostAllowed(req.get_header_value("Host"))) {
      sendError(res, 403, "this server answers only to the address it serves");
      return httplib::Server::HandlerResponse::Handled;
    }
    const std::string auth = req.get_header_value("Authorization");
    const std::string bearer = auth.rfind("Bearer ", 0) == 0 ? auth.substr(7) : std::string();
    const std::string cookie = cookieValue(req.get_header_value("Cookie"), "velmora_token");
    if (sameSecret(bearer, options.token) || sameSecret(cookie, options.token)) return httplib::Server::HandlerResponse::Unhandled;
    // The address printed at start: the token goes into a cookie that no
    // script can read, and out of the address bar.
    if (req.method == "GET" && req.path == "/" && req.params.count("token") == 1 &&
        sameSecret(req.get_param_value("token"), options.token)) {
      res.set_header("Set-Cookie", "velmora_token=" + options.token + "; HttpOnly; SameSite=Strict; Path=/");
      res.set_redirect("/", 303);
      return httplib::Server::HandlerResponse::Handled;
    }
    sendError(res, 401, "the token is missing or wrong: open the address velmora serve printed");
    return httplib::Server::HandlerResponse::Handled;
  }

  // A few queries at once: the others wait their turn, up to the query
  // time, and are then refused. A deadline is checked at each window the
  // reader reads.
  template <class Fn>
  void query(httplib::Response& res, Fn&& fn) {
    {
      std::unique_lock lock(slotMutex);
      if (!slotFree.wait_for(lock, std::chrono::seconds(Limits::kQuerySeconds),
                             [this] { return queries < Limits::kQueriesAtOnce || stopping; }) || stopping) {
        sendError(res, 503, "too many queries at once; try again");
        return;
      }
      ++queries;
    }
    struct Release {
      Impl& impl;
      ~Release() {
        {
          std::lock_guard lock(impl.slotMutex);
          --impl.queries;
        }
        impl.slotFree.notify_one();
      }
    } release{*this};
    try {
      fn();
    } catch (const BadParameter& e) {
      sendError(res, 400, e.what());
    } catch (const Interrupted& i) {
      sendError(res, 503, i.timeUp ? "the query took longer than " + std::to_string(Limits::kQuerySeconds) + " s and was stopped"
                                   : "the client went away");
    } catch (const Failure& f) {
      sendError(res, 500, describe(f));
    } catch (const std::bad_alloc&) {
      sendError(res, 500, "out of memory");
    }
  }

  static ProgressFn deadline() {
    const Clock::time_point end = Clock::now() + std::chrono::seconds(Limits::kQuerySeconds);
    return [end](std::int64_t, std::int64_t) {
      if (Clock::now() > end) throw Interrupted{true};
    };
  }

  void records(const httplib::Request& req, httplib::Response& res) {
    query(res, [&] {
      const Paging p = paging(req, {});
      const SetPosition at = p.pos.empty() ? SetPosition{} : position("pos", p.pos);
      // Before a log's first byte there is nothing.
      if (p.back && !p.pos.empty() && at.byte == 0) {
        face.view(p.query);  // its parameters are still checked
        res.set_content("{\"records\":[],\"next\":null}\n", "application/json");
        return;
      }
      const std::unique_ptr<View> view = face.view(p.query);
      const std::unique_ptr<RowWriter> writer = view->writer(RowFormat::Json);
      Source source(options.logs, view->query(), face.codePage(), deadline());
      PageSink sink(*writer, p.limit, named());
      const SetScanResult r = p.back ? source.back(sink, at) : source.forward(sink, at);
      if (r.failure) throw *r.failure;
      // Forward, a full page may have more after it; a short one got to the end.
      const bool more = r.next.valid() && (p.back || sink.count_ == p.limit);
      res.set_content("{\"records\":[" + sink.body + "],\"next\":" + (more ? positionText(r.next) : "null") + "}\n",
                      "application/json");
    });
  }

  void users(const httplib::Request& req, httplib::Response& res) {
    query(res, [&] {
      if (!req.params.empty()) throw BadParameter("users takes no parameter");
      // The names in the order they first appear, up to a bound: a damaged
      // log may hold endless distinct ones.
      class Names : public RecordSink {
       public:
        bool record(const Record& r) override {
          const RecordFields& f = r.fields;
          if (seen.size() >= 10000) return false;
          if (seen.emplace(f[kUserField]).second) order.emplace_back(f[kUserField]);
          return true;
        }
        std::unordered_set<std::string> seen;
        std::vector<std::string> order;
      } names;
      ReadQuery q;
      q.begin.assign(record::kKeySize, '\0');
      q.end.assign(record::kKeySize, '\xff');
      q.columns.reset().set(kUserField);
      Source source(options.logs, q, face.codePage(), deadline());
      if (const auto failure = source.forward(names).failure) throw *failure;
      std::string body = "{\"users\":[";
      for (std::size_t i = 0; i < names.order.size(); ++i) {
        if (i > 0) body.push_back(',');
        appendJsonString(body, face.utf8(names.order[i]));
      }
      body += "]}\n";
      res.set_content(body, "application/json");
    });
  }

  // Records per minute, hour or day of the filter's period, chosen by the
  // span of its records, with the error records among them.
  void histogram(const httplib::Request& req, httplib::Response& res) {
    query(res, [&] {
      const Paging p = paging(req, {"bucket"});
      if (req.params.count("pos") || req.params.count("dir") || req.params.count("limit"))
        throw BadParameter("histogram takes no pos, dir or limit");
      const std::unique_ptr<View> view = face.view(p.query);
      ReadQuery q = view->query();
      q.columns.reset().set(kNumberField);
      Source source(options.logs, q, face.codePage(), deadline());
      // The span: the period's first and last records.
      struct Key : RecordSink {
        std::string key;
        bool record(const Record& r) override {
          const RecordFields& f = r.fields;
          key = std::string(f[1]) + std::string(f[2]);
          return false;
        }
      } first, last;
      if (const auto failure = source.forward(first).failure) throw *failure;
      if (const auto failure = source.back(last).failure) throw *failure;
      std::size_t width = 8;  // of the key's date and time: 8 a day, 10 an hour, 12 a minute
      std::string bucket = "day";
      if (!first.key.empty() && !last.key.empty() && first.key.size() >= 14 && last.key.size() >= 14) {
        const long days = dayNumber(last.key) - dayNumber(first.key);
        if (days < 1 && last.key.substr(0, 8) == first.key.substr(0, 8)) {
          width = 12;
          bucket = "minute";
        } else if (days <= 14) {
          width = 10;
          bucket = "hour";
        }
      }
      if (const std::string asked = req.get_param_value("bucket"); !asked.empty()) {
        if (asked == "day") width = 8;
        else if (asked == "hour") width = 10;
        else if (asked == "minute") width = 12;
        else throw BadParameter("bucket " + asked + " is not minute, hour or day");
        bucket = asked;
      }
      struct Bins : RecordSink {
        std::size_t width;
        std::map<std::string, std::pair<std::int64_t, std::int64_t>, std::less<>> bins;
        std::string key, currentKey;
        std::pair<std::int64_t, std::int64_t>* current = nullptr;  // the bin of currentKey
        bool record(const Record& r) override {
          const RecordFields& f = r.fields;
          key.assign(f[1]);
          // The time without its colons: HH:MM:SS -> HHMM
          const std::string_view t = f[2];
          if (width >= 10 && t.size() >= 2) key.append(t.substr(0, 2));
          if (width >= 12 && t.size() >= 5) key.append(t.substr(3, 2));
          // Records come in runs of one bin: the map is asked once a run.
          if (!current || key != currentKey) {
            auto it = bins.find(key);
            if (it == bins.end()) {
              if (bins.size() >= kMaxBins) return true;  // a damaged log's endless dates
              it = bins.emplace(key, std::pair<std::int64_t, std::int64_t>{0, 0}).first;
            }
            current = &it->second;
            currentKey = key;
          }
          ++current->first;
          if (r.error) ++current->second;
          return true;
        }
        void merge(const Bins& later) {
          for (const auto& [k, v] : later.bins) {
            auto it = bins.find(k);
            if (it == bins.end()) {
              if (bins.size() >= kMaxBins) continue;
              it = bins.emplace(k, std::pair<std::int64_t, std::int64_t>{0, 0}).first;
            }
            it->second.first += v.first;
            it->second.second += v.second;
          }
        }
      } bins, later;
      bins.width = later.width = width;
      if (source.whole(bins, later)) bins.merge(later);
      std::string body = "{\"bucket\":\"" + bucket + "\",\"bins\":[";
      bool firstBin = true;
      for (const auto& [k, v] : bins.bins) {
        if (!firstBin) body.push_back(',');
        firstBin = false;
        body += "{\"t\":";
        appendJsonString(body, k);
        body += ",\"records\":" + std::to_string(v.first) + ",\"errors\":" + std::to_string(v.second) + "}";
      }
      body += "]}\n";
      res.set_content(body, "application/json");
    });
  }

  // The current view whole, streamed through the tool's printers as it is read.
  void exportRows(const httplib::Request& req, httplib::Response& res) {
    query(res, [&] {
      const Paging p = paging(req, {"format"});
      const std::string format = req.get_param_value("format");
      if (format != "csv" && format != "jsonl") throw BadParameter("format " + format + " is neither csv nor jsonl");
      if (req.params.count("pos") || req.params.count("dir") || req.params.count("limit"))
        throw BadParameter("export takes no pos, dir or limit: it writes the whole view");
      std::shared_ptr<View> view = face.view(p.query);
      const bool csv = format == "csv";
      res.set_header("Content-Disposition", csv ? "attachment; filename=\"events.csv\"" : "attachment; filename=\"events.jsonl\"");
      res.set_chunked_content_provider(csv ? "text/csv; charset=utf-8" : "application/x-ndjson", [this, view, csv](std::size_t, httplib::DataSink& sink) {
        std::unique_ptr<RowWriter> writer = view->writer(csv ? RowFormat::Csv : RowFormat::Json);
        Source source(options.logs, view->query(), face.codePage(), nullptr);
        std::string text, pos;
        LambdaSink out([&](const Record& r) {
          pos.clear();
          appendPosition(pos, SetPosition{r.log, r.position}, named());
          writer->row(r.fields, pos, text);
          if (text.back() != '\n') text.push_back('\n');
          if (text.size() < 65536) return true;
          const bool ok = sink.write(text.data(), text.size());
          text.clear();
          return ok && !stopping;  // nobody reads any more: the scan ends
        });
        // A scan that failed breaks the stream off unfinished, so that the
        // client sees a failed download rather than a whole one.
        if (source.forward(out).failure) return false;
        if (!text.empty()) sink.write(text.data(), text.size());
        sink.done();
        return true;
      });
    });
  }

  // New records as Server-Sent Events, each with its position as its id: a
  // reconnect that sends Last-Event-ID gets the records after it, once.
  void follow(const httplib::Request& req, httplib::Response& res) {
    query(res, [&] {
      const Paging p = paging(req, {});
      if (req.params.count("dir") || req.params.count("limit")) throw BadParameter("follow takes no dir or limit");
      std::int64_t after = -1;  // records of the live log after this position
      const std::string last = req.get_header_value("Last-Event-ID");
      if (!last.empty() || !p.pos.empty()) {
        const SetPosition at = last.empty() ? position("pos", p.pos) : position("Last-Event-ID", last);
        if (at.log != options.live)
          throw BadParameter("follow goes on from a position of the followed log, " + positionText({options.live, 0}) +
                             " to " + positionText({options.live, INT64_MAX}));
        after = at.byte;
      }
      std::shared_ptr<View> view = face.view(p.query);
      // From the record that holds the position, or the log's last one: a
      // position inside a line never starts a scan.
      const std::int64_t start = recordAtOrBefore(after < 0 ? Reader::kNoStop : after + 1);
      if (after < 0) after = start;  // only what is appended from now on
      res.set_header("X-Accel-Buffering", "no");
      res.set_chunked_content_provider("text/event-stream", [this, view, start, after](std::size_t, httplib::DataSink& sink) {
        followLoop(*view, start, after, sink);
        sink.done();
        return true;
      });
    });
  }

  // The start of the last record that starts before the position, whatever
  // the filter; 0 when none.
  std::int64_t recordAtOrBefore(std::int64_t before) {
    ReadQuery all;
    all.begin.assign(record::kKeySize, '\0');
    all.end.assign(record::kKeySize, '\xff');
    all.columns.reset();
    Reader reader(liveLog(), all, face.codePage());
    BackwardScan back(reader);
    LambdaSink one([](const Record&) { return false; });
    const BackwardResult b = back.scan(before, one);
    if (b.failure) throw *b.failure;
    return b.next > 0 ? b.next : 0;
  }

  // From start (a record's start; 0: the period's first record), the
  // records after the position after.
  void followLoop(const View& view, std::int64_t start, std::int64_t after, httplib::DataSink& sink) {
    std::unique_ptr<RowWriter> writer = view.writer(RowFormat::Json);
    Reader reader(liveLog(), view.query(), face.codePage());
    std::optional<FileIdentity> seen = fileIdentity(liveLog());
    std::int64_t position = start;
    // A compressed log does not grow, and its positions lie past the file's
    // length: it is read once, not looked at again.
    const bool compressed = checkLogShape(liveLog()).compression != nullptr;
    bool read = false;
    // The stream is open: said at once, so that a client knows before any record.
    std::string text = ": following\n\n", row, pos;
    auto quiet = Clock::now();
    while (!stopping) {
      const std::optional<FileIdentity> now = fileIdentity(liveLog());
      if (now && seen && !compressed && (!now->sameFileAs(*seen) || now->size < position - 1)) {
        // Rotated or cut: read the new log from its start, as data --follow does.
        text += "event: restart\ndata: {}\n\n";
        position = 0;
        after = 0;
      }
      if (now && !(compressed && read)) {
        seen = now;
        bool full = false;  // a batch to send before reading on
        LambdaSink events([&](const Record& r) {
          const RecordFields& f = r.fields;
          if (r.position <= after) return true;
          row.clear();
          pos = positionText({options.live, r.position});
          writer->row(f, pos, row);
          // An event's id is the position without a JSON string's quotes.
          if (pos.front() == '"') pos = pos.substr(1, pos.size() - 2);
          text += "id: " + pos + "\ndata: " + row + "\n\n";
          full = text.size() >= (1 << 20);
          return !full;
        });
        const ScanResult r = reader.scan(position > 0 ? position : 0, events);
        if (!r.failure && r.next > 0) position = r.next;
        // A compressed log is read to its end once, batch after batch.
        read = r.failure || !full;
      }
      if (text.empty() && Clock::now() - quiet > std::chrono::seconds(5)) text = ":\n\n";  // a comment: is anyone there?
      if (!text.empty()) {
        if (!sink.write(text.data(), text.size())) return;
        text.clear();
        quiet = Clock::now();
      }
      std::unique_lock lock(stopMutex);
      stopSignal.wait_for(lock, std::chrono::milliseconds(250), [this] { return stopping.load(); });
    }
  }

  std::atomic<bool> stopping{false};
  socket_t listening = INVALID_SOCKET;
  std::mutex stopMutex;
  std::condition_variable stopSignal;

  void sql(const httplib::Request& req, httplib::Response& res) {
    query(res, [&] {
      // The statement is the body, as sent; a form's parsing of it is not used.
      const SqlAnswer a = face.sql(req.body, Limits::kRowsPerResponse, Limits::kQuerySeconds, [this] { return !stopping; });
      res.status = a.status;
      res.set_content(a.body, "application/json");
    });
  }

  // The served logs, in the order of their place in positions, and the
  // one that follow follows.
  void logs(httplib::Response& res) {
    std::string body = "{\"logs\":[";
    for (std::size_t i = 0; i < options.logs.size(); ++i) {
      if (i > 0) body.push_back(',');
      appendJsonString(body, toUtf8(options.logs[i]));
    }
    body += "],\"live\":" + std::to_string(options.live) + "}\n";
    res.set_content(body, "application/json");
  }

  // The log's sessions (OpenSession and CloseSession paired), for the
  // sessions view: who is connected, and how many at once.
  void sessions(const httplib::Request& req, httplib::Response& res) {
    query(res, [&] {
      if (!req.params.empty()) throw BadParameter("sessions takes no parameter");
      const SqlAnswer a = face.sql("SELECT user, mode, start, end FROM sessions ORDER BY start", 100000,
                                   Limits::kQuerySeconds, [this] { return !stopping; });
      res.status = a.status;
      res.set_content(a.body, "application/json");
    });
  }

  void routes() {
    // The listening socket, to widen its queue of connections once it listens.
    http.set_socket_options([this](socket_t sock) {
      httplib::default_socket_options(sock);
      listening = sock;
    });
    http.new_task_queue = [] { return new ConnectionQueue(Limits::kConnections); };
    http.set_payload_max_length(Limits::kRequestBytes);
    http.set_keep_alive_timeout(2);
    http.set_read_timeout(5, 0);
    http.set_write_timeout(5, 0);
    http.set_default_headers({
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
         "base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
        {"X-Frame-Options", "DENY"},
    });
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) { return admit(req, res); });
    http.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content(std::string(pageHtml()), "text/html; charset=utf-8"); });
    http.Get("/app.js", [](const httplib::Request&, httplib::Response& res) { res.set_content(std::string(pageScript()), "text/javascript; charset=utf-8"); });
    http.Get("/app.css", [](const httplib::Request&, httplib::Response& res) { res.set_content(std::string(pageStyle()), "text/css; charset=utf-8"); });
    // Browsers ask for an icon; there is none.
    http.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    http.Get("/api/records", [this](const httplib::Request& req, httplib::Response& res) { records(req, res); });
    http.Get("/api/histogram", [this](const httplib::Request& req, httplib::Response& res) { histogram(req, res); });
    http.Get("/api/export", [this](const httplib::Request& req, httplib::Response& res) { exportRows(req, res); });
    http.Get("/api/follow", [this](const httplib::Request& req, httplib::Response& res) { follow(req, res); });
    http.Post("/api/sql", [this](const httplib::Request& req, httplib::Response& res) { sql(req, res); });
    http.Get("/api/sessions", [this](const httplib::Request& req, httplib::Response& res) { sessions(req, res); });
    http.Get("/api/users", [this](const httplib::Request& req, httplib::Response& res) { users(req, res); });
    http.Get("/api/logs", [this](const httplib::Request&, httplib::Response& res) { logs(res); });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.body.empty()) sendError(res, res.status, res.status == 404 ? "no such page" : "the request was refused");
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      sendError(res, 500, "the request failed inside the server");
    });
  }
};

Server::Server(ServeOptions options, const Face& face) : impl_(std::make_unique<Impl>(std::move(options), face)) {
  // Every page opens its logs afresh: a few archives' decoded streams stay
  // open between requests, so that a page further back decodes little.
  keepArchiveStreams(kKeptArchives);
  impl_->routes();
}
Server::~Server() {
  stop();
  keepArchiveStreams(0);
}

bool Server::bind(std::string& error) {
  if (impl_->options.port == 0) {
    impl_->port = impl_->http.bind_to_any_port(impl_->options.bind);
  } else if (impl_->http.bind_to_port(impl_->options.bind, impl_->options.port)) {
    impl_->port = impl_->options.port;
  } else {
    impl_->port = -1;
  }
  // The library listens with a queue of 5: a burst of clients connecting at
  // once would wait for the system to retry them, a second and more each.
  if (impl_->port > 0 && impl_->listening != INVALID_SOCKET) ::listen(impl_->listening, SOMAXCONN);
  if (impl_->port <= 0) {
    error = "cannot listen on " + impl_->options.bind + " port " + std::to_string(impl_->options.port);
    return false;
  }
  return true;
}

int Server::port() const { return impl_->port; }
const std::string& Server::token() const { return impl_->options.token; }
std::string Server::url() const { return "http://" + impl_->hostPort() + "/?token=" + impl_->options.token; }
void Server::run() { impl_->http.listen_after_bind(); }
void Server::stop() {
  {
    std::lock_guard lock(impl_->stopMutex);
    impl_->stopping = true;
  }
  impl_->stopSignal.notify_all();
  {
    std::lock_guard lock(impl_->slotMutex);
  }
  impl_->slotFree.notify_all();
  impl_->http.stop();
}

}  // namespace velmora::serve
