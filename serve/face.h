// What the viewer's server takes from the tool above it: a request's query
// parameters turned into the typed reader's query (the data command's
// options, spelled without their dashes), and records written in the tool's
// own formats. The server itself knows only the reader core.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/reader.h"

namespace velmora {
class CodePage;
}

namespace velmora::serve {

// Query parameters as they came, in order; a name may repeat.
using Params = std::vector<std::pair<std::string, std::string>>;

// A parameter that cannot be taken: the message says what was wrong, as the
// tool's usage errors do.
class BadParameter : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class RowFormat { Json, Csv };

// Rows of one response, appended to a text. Json: one object a record, as
// the data command's jsonl prints it, with "pos" added; Csv: a header line
// before the first row, as the data command prints it.
class RowWriter {
 public:
  virtual ~RowWriter() = default;
  // pos: the record's position as the API writes it (JSON).
  virtual void row(const RecordFields& fields, std::string_view pos, std::string& out) = 0;
};

class View {
 public:
  virtual ~View() = default;
  virtual const ReadQuery& query() const = 0;
  virtual std::unique_ptr<RowWriter> writer(RowFormat format) const = 0;
};

// The answer of a SQL statement: a status and its JSON body.
struct SqlAnswer {
  int status = 200;
  std::string body;
};

class Face {
 public:
  virtual ~Face() = default;
  // One read-only statement over the served logs only, given up after
  // seconds or once keepGoing says no; at most maxRows rows.
  virtual SqlAnswer sql(const std::string& statement, std::int64_t maxRows, int seconds,
                        const std::function<bool()>& keepGoing) const = 0;
  // Throws BadParameter. Parameters that are not the query's are ignored
  // here (the server reads them).
  virtual std::unique_ptr<View> view(const Params& params) const = 0;
  virtual const CodePage& codePage() const = 0;
  // The log's text (user names) as UTF-8.
  virtual std::string utf8(std::string_view logBytes) const = 0;
};

}  // namespace velmora::serve
