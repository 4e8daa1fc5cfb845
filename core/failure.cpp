#include "core/failure.h"

#include <array>
#include <new>
#include <string_view>

namespace velmora {
namespace {

// What each kind says, in the order of FailureKind; a file kind is worded as
// "<action> \"path\": <reason>".
constexpr std::array<std::string_view, kFailureKinds> kReasons = {
    "file not found",      "path not found",    "permission denied",     "file in use by another program",
    "too many open files", "disk full",         "input/output error",    "a folder, not a file",
    "system error",        "bad read position", "",                      "out of memory",
    "",                    "",                  "",                      "internal error",
    "host object failed",
};

constexpr std::array<std::string_view, 5> kActions = {"", "cannot open \"", "cannot create \"", "cannot read \"",
                                                      "cannot write \""};

bool isFileKind(FailureKind kind) { return kind <= FailureKind::BadPosition; }

}  // namespace

Failure::Failure(FailureKind kind, U16String path, std::int64_t code, FileAction action, U16String detail)
    : kind_(kind), action_(action), code_(code), path_(std::move(path)), detail_(std::move(detail)) {
  what_ = describe(*this);
}

Failure currentFailure() {
  try {
    throw;
  } catch (const Failure& f) {
    return f;
  } catch (const std::bad_alloc&) {
    return Failure(FailureKind::OutOfMemory);
  } catch (const std::exception& e) {
    return Failure(FailureKind::Internal, {}, 0, FileAction::None, fromUtf8(e.what()));
  } catch (...) {
    return Failure(FailureKind::Internal);
  }
}

std::string describe(const Failure& f) {
  const std::string path = toUtf8(f.path());
  const std::string code = std::to_string(f.code());
  const std::string detail = toUtf8(f.detail());
  std::string out;
  switch (f.kind()) {
    case FailureKind::LogCut:
      return "\"" + path + "\" became shorter while being read; the copy is incomplete";
    case FailureKind::ListTooLarge:
      return "the replacement list \"" + path + "\" is too large";
    case FailureKind::ResultOverflow:
      return "the result " + code + " does not fit a 32-bit integer: \"" + path + "\" is longer than 2 GiB";
    case FailureKind::LineOverflow:
      return "the record number on line " + code + " of \"" + path + "\" does not fit a 32-bit integer";
    case FailureKind::Host:
      return "host object failed (error " + code + ")" + (detail.empty() ? "" : ": " + detail);
    default:
      break;
  }
  const std::string_view reason = kReasons[static_cast<std::size_t>(f.kind())];
  if (!isFileKind(f.kind())) return detail.empty() ? std::string(reason) : std::string(reason) + ": " + detail;
  const std::string_view action = kActions[static_cast<std::size_t>(f.action())];
  out = action.empty() ? "\"" + path + "\": " : std::string(action) + path + "\": ";
  out += reason;
  if (f.code() != 0) {
    if (f.kind() == FailureKind::BadPosition) {
      out += " (" + code + ")";
    } else {
#ifdef _WIN32
      out += " (error " + code + ")";
#else
      out += " (errno " + code + ")";
#endif
    }
  }
  // What the system's code cannot say, such as where a compressed log's
  // archive broke off.
  if (!detail.empty()) out += ": " + detail;
  return out;
}

void throwLogCut(U16View path) { throw Failure(FailureKind::LogCut, U16String(path)); }

}  // namespace velmora
