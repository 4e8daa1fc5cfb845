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

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "core/backward_scan.h"
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
  std::int64_t pos = -1;  // -1: not given
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
      p.pos = number(name, value, INT64_MAX);
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

// Rows of a page, written as they come, up to the limit.
class PageSink : public RecordSink {
 public:
  PageSink(RowWriter& writer, std::int64_t limit, std::function<std::int64_t()> position)
      : writer_(writer), limit_(limit), position_(std::move(position)) {}
  bool record(const RecordFields& fields) override {
    if (count_ > 0) body.push_back(',');
    last = position_();
    writer_.row(fields, last, body);
    return ++count_ < limit_;
  }
  std::string body;
  std::int64_t count_ = 0, last = -1;

 private:
  RowWriter& writer_;
  std::int64_t limit_;
  std::function<std::int64_t()> position_;
};

}  // namespace

std::string freshToken() {
  unsigned char bytes[16];
  // The system's random source, never a seeded generator.
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  std::size_t got = 0;
  while (fd >= 0 && got < sizeof bytes) {
    const ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (fd >= 0) ::close(fd);
  if (got != sizeof bytes) throw std::runtime_error("the system's random source cannot be read");
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
  std::atomic<int> queries{0};

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

  // One query at a time per slot; a deadline and the client's presence are
  // checked at each window the reader reads.
  template <class Fn>
  void query(httplib::Response& res, Fn&& fn) {
    if (queries.fetch_add(1) >= Limits::kQueriesAtOnce) {
      queries.fetch_sub(1);
      sendError(res, 503, "too many queries at once; try again");
      return;
    }
    struct Release {
      std::atomic<int>& n;
      ~Release() { n.fetch_sub(1); }
    } release{queries};
    try {
      fn();
    } catch (const BadParameter& e) {
      sendError(res, 400, e.what());
    } catch (const Interrupted& i) {
      sendError(res, 503, i.timeUp ? "the query took longer than " + std::to_string(Limits::kQuerySeconds) + " s and was stopped"
                                   : "the client went away");
    } catch (const Failure& f) {
      sendError(res, 500, "NumErr " + std::to_string(f.number()) + ": " + toUtf8(f.text()));
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
      const std::unique_ptr<View> view = face.view(p.query);
      const std::unique_ptr<RowWriter> writer = view->writer(RowFormat::Json);
      Reader reader(options.log, view->query(), face.codePage());
      reader.setProgress(deadline());
      std::string next = "null";
      std::string body;
      if (p.back) {
        BackwardScan back(reader);
        PageSink sink(*writer, p.limit, [&] { return back.recordPosition(); });
        const BackwardResult r = back.scan(p.pos >= 0 ? p.pos : Reader::kNoStop, sink);
        if (r.failure) throw *r.failure;
        if (r.next > 0) next = std::to_string(r.next);
        body = std::move(sink.body);
      } else {
        PageSink sink(*writer, p.limit, [&] { return reader.recordPosition(); });
        const ScanResult r = reader.scan(p.pos >= 1 ? p.pos : 0, sink);
        if (r.failure) throw *r.failure;
        // A full page may have more after it; a short one got to the end.
        if (sink.count_ == p.limit && r.next > 0) next = std::to_string(r.next);
        body = std::move(sink.body);
      }
      res.set_content("{\"records\":[" + body + "],\"next\":" + next + "}\n", "application/json");
    });
  }

  void users(const httplib::Request& req, httplib::Response& res) {
    query(res, [&] {
      if (!req.params.empty()) throw BadParameter("users takes no parameter");
      // The names in the order they first appear, up to a bound: a damaged
      // log may hold endless distinct ones.
      class Names : public RecordSink {
       public:
        bool record(const RecordFields& f) override {
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
      Reader reader(options.log, q, face.codePage());
      reader.setProgress(deadline());
      const ScanResult r = reader.scan(0, names);
      if (r.failure) throw *r.failure;
      std::string body = "{\"users\":[";
      for (std::size_t i = 0; i < names.order.size(); ++i) {
        if (i > 0) body.push_back(',');
        appendJsonString(body, face.utf8(names.order[i]));
      }
      body += "]}\n";
      res.set_content(body, "application/json");
    });
  }

  void routes() {
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
    http.Get("/api/records", [this](const httplib::Request& req, httplib::Response& res) { records(req, res); });
    http.Get("/api/users", [this](const httplib::Request& req, httplib::Response& res) { users(req, res); });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.body.empty()) sendError(res, res.status, res.status == 404 ? "no such page" : "the request was refused");
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      sendError(res, 500, "the request failed inside the server");
    });
  }
};

Server::Server(ServeOptions options, const Face& face) : impl_(std::make_unique<Impl>(std::move(options), face)) {
  impl_->routes();
}
Server::~Server() { stop(); }

bool Server::bind(std::string& error) {
  if (impl_->options.port == 0) {
    impl_->port = impl_->http.bind_to_any_port(impl_->options.bind);
  } else if (impl_->http.bind_to_port(impl_->options.bind, impl_->options.port)) {
    impl_->port = impl_->options.port;
  } else {
    impl_->port = -1;
  }
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
void Server::stop() { impl_->http.stop(); }

}  // namespace velmora::serve
