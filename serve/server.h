// velmora serve: the log in a browser. One HTTP server on one address,
// serving the log (or the set of logs) named at its start, to whoever holds its token: the page
// (embedded in the binary) and the JSON API beneath it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serve/face.h"
#include "text/text.h"

namespace velmora::serve {

struct ServeOptions {
  std::vector<U16String> logs;  // one log, or a set read as one timeline
  int live = 0;  // the log that follow follows: the set's live log
  std::string logName;  // as given, for the address line
  std::string bind = "127.0.0.1";
  int port = 0;  // 0: a free one
  std::string token;  // empty: a fresh one
};

// The limits a request lives under.
struct Limits {
  static constexpr std::size_t kRequestBytes = 64 << 10;  // a request's body
  static constexpr std::int64_t kRowsPerResponse = 5000;
  static constexpr int kQueriesAtOnce = 4;
  static constexpr int kQuerySeconds = 10;
  static constexpr int kConnections = 1024;  // served at once; more wait
};

// A fresh token: 32 hex digits of the system's random source (128 bits).
std::string freshToken();

class Server {
 public:
  Server(ServeOptions options, const Face& face);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds; false with a message in error when the address cannot be had.
  bool bind(std::string& error);
  int port() const;
  const std::string& token() const;
  // The address line's URL: http://ADDR:PORT/?token=TOKEN
  std::string url() const;
  // Serves until stop(); safe to call stop() from another thread.
  void run();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::serve
