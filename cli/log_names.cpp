#include "cli/log_names.h"

#include <filesystem>
#include <ostream>

#include "cli/commands.h"
#include "cli/files.h"
#include "core/file_paths.h"
#include "core/log_shape.h"

namespace velmora::cli {

bool manyLogs(const std::vector<std::string>& given) {
  if (given.size() != 1) return given.size() > 1;
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::path(fromUtf8(given.front())), ec);
}

int resolveLogs(const std::vector<std::string>& given, std::ostream& err, std::vector<U16String>& logs,
                bool missingOk) {
  std::vector<U16String> names;
  for (const std::string& g : given) names.push_back(fromUtf8(g));
  LogList list = listLogs(names, missingOk);
  for (const auto& [path, check] : list.skipped)
    err << "velmora: passed over, not a log: " << describeLogShape(check, toUtf8(path)) << "\n";
  if (list.refused) {
    err << "velmora: " << describeLogShape(list.refused->second, toUtf8(list.refused->first)) << "\n";
    return kFailed;
  }
  for (const U16String& log : list.logs)
    if (const int code = checkLog(toUtf8(log), err, missingOk)) return code;
  if (list.logs.empty()) {
    err << "velmora: " << describeNoLog(list) << "\n";
    return kFailed;
  }
  logs = std::move(list.logs);
  return kSuccess;
}

int liveLog(const std::vector<std::string>& given, const std::vector<U16String>& logs, const CodePage& cp) {
  int live = static_cast<int>(logs.size()) - 1;
  if (!manyLogs({given.back()})) {
    for (int i = 0; i < static_cast<int>(logs.size()); ++i)
      if (logs[i] == fromUtf8(given.back()) || sameFile(logs[i], fromUtf8(given.back()))) live = i;
    return live;
  }
  std::string latest;
  for (int i = 0; i < static_cast<int>(logs.size()); ++i) {
    // An archive does not grow; and its keys would cost a decode of it whole.
    if (checkLogShape(logs[i]).compression) continue;
    std::optional<Failure> failure;
    const KeyRange range = keyRange(logs[i], cp, failure);
    if (!range.first.empty() && range.first >= latest) {
      latest = range.first;
      live = i;
    }
  }
  return live;
}

std::string setPositionText(const std::vector<U16String>& logs, SetPosition position) {
  return toUtf8(logs[static_cast<std::size_t>(position.log)]) + ":" + std::to_string(position.byte);
}

SetPosition parseSetPosition(const std::string& text, const std::vector<U16String>& logs, const char* option) {
  const std::size_t colon = text.rfind(':');
  const std::string expected = std::string(option) + " " + text +
                               ": expected LOG:BYTE, as printed by an earlier run over the same logs";
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) throw UsageError(expected);
  std::int64_t byte = 0;
  for (std::size_t i = colon + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9' || byte > (INT64_MAX - 9) / 10) throw UsageError(expected);
    byte = byte * 10 + (c - '0');
  }
  if (byte < 1) throw UsageError(expected);
  const U16String name = fromUtf8(text.substr(0, colon));
  for (std::size_t i = 0; i < logs.size(); ++i)
    if (logs[i] == name || sameFile(logs[i], name)) return SetPosition{static_cast<int>(i), byte};
  throw UsageError(std::string(option) + " " + text + " names no log of those given");
}

}  // namespace velmora::cli
