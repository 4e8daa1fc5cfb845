// The viewer's server started as a person starts it, and spoken to over
// loopback only.
#pragma once

#include <httplib.h>
#include <gtest/gtest.h>

#include <string>

#include "cli_support.h"

namespace velmora::testing {

// velmora serve LOG, its address read from the one line it prints.
class Served {
 public:
  explicit Served(const std::string& log, std::vector<std::string> more = {}) : run_(args(log, std::move(more))) {
    if (!run_.waitForLines(1)) return;
    line = run_.out().substr(0, run_.out().find('\n'));
    const std::string marker = " at http://";
    const std::size_t at = line.find(marker);
    if (at == std::string::npos) return;
    const std::string url = line.substr(at + marker.size());
    host = url.substr(0, url.find('/'));
    port = std::stoi(host.substr(host.rfind(':') + 1));
    token = url.substr(url.find("token=") + 6);
  }
  bool up() const { return port > 0; }
  httplib::Client client() const {
    httplib::Client c("127.0.0.1", port);
    c.set_connection_timeout(10);
    c.set_read_timeout(30);
    return c;
  }
  httplib::Headers auth() const { return {{"Authorization", "Bearer " + token}}; }
  // SIGTERM, and the exit code.
  int stop() {
    run_.signal(SIGTERM);
    return run_.wait();
  }
  Running& process() { return run_; }

  std::string line, host, token;
  int port = 0;

 private:
  static std::vector<std::string> args(const std::string& log, std::vector<std::string> more) {
    std::vector<std::string> a{"serve", log};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  Running run_;
};

}  // namespace velmora::testing
