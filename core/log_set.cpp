#include "core/log_set.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/backward_scan.h"
#include "core/file_identity.h"
#include "core/fileio.h"
#include "core/kept_records.h"
#include "core/lines.h"
#include "core/record_format.h"
#include "core/log_probe.h"

namespace velmora {

// ---- the list ---------------------------------------------------------------------

namespace {

namespace fs = std::filesystem;

// Folders hold the logs, found by what they hold; their order is by name,
// so that a folder gives the same timeline wherever it is read.
std::vector<U16String> folderFiles(const U16String& folder) {
  std::vector<U16String> files;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(folder), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    if (it->is_directory(kind)) continue;  // one level: a folder of archives, not a tree
    files.push_back(it->path().u16string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

LogList listLogs(const std::vector<U16String>& given, bool missingOk) {
  LogList out;
  std::vector<FileIdentity> seen;
  auto add = [&](const U16String& path) {
    // Two names for one file: read once, where it was first named.
    if (const auto id = fileIdentity(path)) {
      for (const FileIdentity& s : seen)
        if (s.sameFileAs(*id)) return;
      seen.push_back(*id);
    }
    out.logs.push_back(path);
  };
  for (const U16String& name : given) {
    LogShapeCheck check = checkLogShape(name);
    if (check.shape == LogShape::Folder) {
      const std::size_t before = out.logs.size();
      for (const U16String& file : folderFiles(name)) {
        const LogShapeCheck inner = checkLogShape(file);
        if (inner.shape == LogShape::Fine) add(file);
        else out.skipped.emplace_back(file, inner);
      }
      if (out.logs.size() == before) out.emptyFolders.push_back(name);
      continue;
    }
    if (check.shape == LogShape::Fine || (missingOk && check.shape == LogShape::Missing)) {
      add(name);
      continue;
    }
    if (!out.refused) out.refused.emplace(name, std::move(check));
  }
  return out;
}

std::string describeNoLog(const LogList& list) {
  if (!list.logs.empty()) return {};
  if (!list.emptyFolders.empty())
    return "\"" + toUtf8(list.emptyFolders.front()) + "\" is a folder without a log in it; expected log files, or "
           "folders holding them";
  return "no log among the names given";
}

// ---- key ranges -------------------------------------------------------------------

namespace {

// Takes the key of the first record handed over, and ends the scan.
class FirstKey : public RecordSink {
 public:
  bool record(const Record& record) override {
    key.assign(record.key);
    return false;
  }
  std::string key;
};

ReadQuery wholeLog() {
  ReadQuery q;
  q.begin = openBeginKey();
  q.end = openEndKey();
  q.columns.reset();
  return q;
}

// The smallest key above key: the keys are of one length, so the last byte
// below 0xFF goes up by one and the bytes after it go to 0.
std::string keyAfter(std::string key) {
  for (std::size_t i = key.size(); i-- > 0;) {
    if (static_cast<unsigned char>(key[i]) != 0xFF) {
      key[i] = static_cast<char>(static_cast<unsigned char>(key[i]) + 1);
      return key;
    }
    key[i] = '\0';
  }
  return std::string(key.size(), '\xFF');
}

}  // namespace

namespace {

// The keys of the first and the last record among the complete lines of
// bytes (a stretch of the log from a line start when atStart, else from
// anywhere: its first, partial line is passed over).
void keysIn(std::string_view bytes, bool atStart, std::string* first, std::string* last) {
  std::size_t from = 0;
  if (!atStart) {
    const std::size_t end = bytes.find("\r\n");
    if (end == std::string_view::npos) return;
    from = end + 2;
  }
  for (std::size_t end; (end = bytes.find("\r\n", from)) != std::string_view::npos; from = end + 2) {
    const std::size_t length = end - from;
    if (length <= record::kKeySize || !lines::Period::isRecord(bytes.data() + from, length)) continue;
    const std::string_view key = bytes.substr(from, record::kKeySize);
    if (first && first->empty()) {
      first->assign(key);
      if (!last) return;
    }
    if (last) last->assign(key);
  }
}

}  // namespace

namespace {

// The first and last keys of a log read forward, in one read.
KeyRange decodedKeyRange(U16View path, const CodePage& cp, std::optional<Failure>& failure) {
  struct Keys : RecordSink {
    std::string first, last;
    bool record(const Record& r) override {
      if (first.empty()) first.assign(r.key);
      last.assign(r.key);
      return true;
    }
  } keys;
  Reader reader{U16String(path), wholeLog(), cp};
  const ScanResult scan = reader.scan(1, keys);
  KeyRange range;
  if (scan.failure) {
    failure = scan.failure;
    return range;
  }
  range.first = std::move(keys.first);
  range.last = std::move(keys.last);
  return range;
}

// The keys as found in the log, every time.
KeyRange foundKeyRange(U16View path, const CodePage& cp, std::optional<Failure>& failure) {
  KeyRange range;
  // Most logs show both keys in a look at their two ends; only a log whose
  // ends hold no complete record is scanned for them.
  constexpr std::size_t kProbe = std::size_t{64} << 10;
  try {
    ReadFile file{U16String(path)};
    // A compressed text is read forward only, and its end is known only
    // once decoded: one read of it gives both keys, where a look at its end
    // and a backward scan would each decode it whole.
    if (file.streamed()) return decodedKeyRange(path, cp, failure);
    const std::int64_t size = file.size();
    if (size <= 0) return range;
    std::string bytes(static_cast<std::size_t>(std::min<std::int64_t>(size, kProbe)), '\0');
    bytes.resize(file.readAt(1, bytes.data(), bytes.size()));
    keysIn(bytes, true, &range.first, nullptr);
    if (!range.first.empty()) {
      const std::int64_t from = std::max<std::int64_t>(1, size - static_cast<std::int64_t>(kProbe) + 1);
      bytes.resize(static_cast<std::size_t>(size - from + 1));
      bytes.resize(file.readAt(from, bytes.data(), bytes.size()));
      keysIn(bytes, from == 1, nullptr, &range.last);
      if (!range.last.empty()) return range;
      range.first.clear();
    }
  } catch (const Failure&) {
    // The scans below meet the same failure and report it.
  }
  Reader reader{U16String(path), wholeLog(), cp};
  FirstKey first;
  const ScanResult scan = reader.scan(1, first);
  if (scan.failure) {
    failure = scan.failure;
    return range;
  }
  range.first = std::move(first.key);
  if (range.first.empty()) return range;
  BackwardScan back(reader);
  FirstKey last;
  const BackwardResult b = back.scan(Reader::kNoStop, last);
  if (b.failure) {
    failure = b.failure;
    return range;
  }
  range.last = last.key.empty() ? range.first : std::move(last.key);
  return range;
}

}  // namespace

// A compressed log's keys cost a decode of it whole, and a set's logs are
// looked at before every read (a viewer reads at every request): the keys
// are kept for the process, by the file's identity with its length and last
// write, so that a log that grows or is replaced is looked at again.
KeyRange keyRange(U16View path, const CodePage& cp, std::optional<Failure>& failure) {
  struct Known {
    FileIdentity id;
    KeyRange range;
  };
  static std::mutex mutex;
  static std::vector<Known> known;
  const std::optional<FileIdentity> id = fileIdentity(path);
  auto same = [&](const Known& k) {
    return k.id.sameFileAs(*id) && k.id.size == id->size && k.id.modified == id->modified;
  };
  if (id) {
    std::lock_guard lock(mutex);
    if (const auto it = std::find_if(known.begin(), known.end(), same); it != known.end()) return it->range;
  }
  KeyRange range = foundKeyRange(path, cp, failure);
  if (id && !failure) {
    std::lock_guard lock(mutex);
    if (known.size() >= 4096) known.clear();  // bounded: more logs than that are looked at again
    // A log that changed leaves its old entry behind: replaced, not added.
    const auto old = std::find_if(known.begin(), known.end(), [&](const Known& k) { return k.id.sameFileAs(*id); });
    if (old != known.end()) *old = Known{*id, range};
    else known.push_back(Known{*id, range});
  }
  return range;
}

// ---- the reader of a set ----------------------------------------------------------------

namespace {

// One log's records buffered for a merge, up to a budget of bytes; head is
// the next to hand out.
struct Buffered : RecordSink {
  Buffered(int index, U16String path, ReadQuery query, const CodePage& cp, std::size_t budget)
      : log(index), reader(std::move(path), std::move(query), cp), budget(budget) {}

  bool record(const Record& record) override {
    kept.keep(record);
    stopped = kept.bytes() >= budget;
    return !stopped;
  }
  void restart() {
    kept.clear();
    head = 0;
    stopped = false;
  }
  std::string_view key() const { return kept.key(head); }

  int log;
  Reader reader;
  std::size_t budget;
  KeptRecords kept;
  std::size_t head = 0;
  bool stopped = false, exhausted = false;
  std::optional<Failure> failure;
};

}  // namespace

// One log of a merge: its reader and the records copied out of its last
// windows, with where each one's successor begins.
struct LogSetReader::Stream : Buffered {
  Stream(int index, U16String path, ReadQuery query, const CodePage& cp, std::size_t budget)
      : Buffered(index, std::move(path), std::move(query), cp, budget) {
    // Refilled by resuming its scan: a compressed log kept open goes on
    // decoding where it stopped, where a new open would decode from its start.
    reader.keepStreamOpen(true);
  }

  bool record(const Record& record) override {
    if (!kept.empty()) kept.back().after = record.position;
    return Buffered::record(record);
  }

  // The next records into the buffer; false with failure set when the log
  // could not be read.
  bool refill() {
    restart();
    const ScanResult scan = reader.scan(next >= 1 ? next : 0, *this);
    if (scan.failure) {
      failure = scan.failure;
      return false;
    }
    if (scan.next >= 1) next = scan.next;
    exhausted = !stopped;
    // Past the period's end the scan looked at one record more: where the
    // last one kept ends is found when it is the last handed out.
    if (!kept.empty()) kept.back().after = exhausted ? -kept.back().pos : next;
    return true;
  }

  void fill(Record& r) const { kept.fill(head, r, log); }

  std::int64_t next = 0;  // 0: from the period's start
};

LogSetReader::LogSetReader(std::vector<U16String> logs, ReadQuery query, const CodePage& cp)
    : logs_(std::move(logs)), query_(std::move(query)), cp_(cp), ranges_(logs_.size()) {}

LogSetReader::~LogSetReader() = default;

const KeyRange& LogSetReader::range(int log) {
  auto& r = ranges_[static_cast<std::size_t>(log)];
  if (!r) {
    std::optional<Failure> failure;
    r = keyRange(logs_[static_cast<std::size_t>(log)], cp_, failure);
    if (failure && !rangeFailure_) rangeFailure_ = failure;
  }
  return *r;
}

std::vector<std::vector<int>> LogSetReader::plan(const std::vector<std::string>& begins) {
  // A log can hold the period when its first key is at or before the
  // period's end and its last key (when known) at or after its start.
  std::vector<int> order;
  for (int i = 0; i < static_cast<int>(logs_.size()); ++i) {
    const KeyRange& r = range(i);
    if (r.first.empty() || r.first > query_.end) continue;
    if (r.lastKnown && r.last < begins[static_cast<std::size_t>(i)]) continue;
    order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return range(a).first < range(b).first; });
  // A log starts a new group when its first key lies above every last key
  // before it. An equal key starts one too when each log that ends on that
  // key was given before it: read one after another, their records of that
  // key come out in the order of the logs, as a merge would give them (a
  // log cut off in the middle of a second is read on, not merged whole).
  std::vector<std::vector<int>> groups;
  std::string reach;
  int reachLog = -1;  // the last given of the logs whose last key is reach
  bool endless = false;
  for (int i : order) {
    const KeyRange& r = range(i);
    if (groups.empty() || (!endless && (r.first > reach || (r.first == reach && reachLog < i)))) {
      groups.emplace_back();
      reach.clear();
      reachLog = -1;
    }
    groups.back().push_back(i);
    if (!r.lastKnown) {
      endless = true;
    } else if (r.last > reach) {
      reach = r.last;
      reachLog = i;
    } else if (r.last == reach) {
      reachLog = std::max(reachLog, i);
    }
  }
  return groups;
}

void LogSetReader::countOversize(const Reader& reader, int) {
  if (reader.oversizeRecords() == 0) return;
  if (oversize_ == 0) firstOversize_ = reader.firstOversize();
  oversize_ += reader.oversizeRecords();
}

// Reads group_'s one log on from where it stood; false when the sink ended
// the scan (the log stays current, to go on from next time).
bool LogSetReader::readOne(RecordSink& sink, SetScanResult& out) {
  const int log = groups_[group_].front();
  if (!one_) {
    ReadQuery q = query_;
    q.begin = begins_[static_cast<std::size_t>(log)];
    one_ = std::make_unique<Reader>(logs_[static_cast<std::size_t>(log)], std::move(q), cp_);
    one_->setLogIndex(log);
    onePos_ = from_.log == log ? from_.byte : 0;
  }
  if (progress_) one_->setProgress(progress_);
  struct Watch : RecordSink {
    RecordSink& to;
    int log;
    bool go = true;
    std::int64_t last = -1;
    Watch(RecordSink& t, int l) : to(t), log(l) {}
    bool record(const Record& record) override {
      last = record.position;
      return go = to.record(record);
    }
    void windowDone(std::int64_t d, std::int64_t t) override { to.windowDone(d, t); }
  } watch(sink, log);
  const ScanResult scan = one_->scan(onePos_ >= 1 ? onePos_ : 0, watch);
  one_->setProgress(nullptr);
  countOversize(*one_, log);
  if (scan.failure) {
    out.failure = scan.failure;
    return false;
  }
  if (!watch.go) {
    // Ended by the sink: the scan's next is just after that record.
    onePos_ = scan.next;
    next_ = SetPosition{log, scan.next};
    return false;
  }
  // A scan that ran to the period's end has looked at the record past it:
  // a later scan resumes after the last record handed out instead.
  if (watch.last >= 1) next_ = SetPosition{log, -watch.last};
  else if (scan.next >= 1 && next_.log < 0) next_ = SetPosition{log, scan.next};
  one_.reset();
  return true;
}

// Merges group_'s logs on from where they stood; false when the sink ended
// the scan or a log failed.
bool LogSetReader::merge(RecordSink& sink, SetScanResult& out) {
  const std::vector<int>& group = groups_[group_];
  auto later = [this](std::size_t a, std::size_t b) {
    const std::string_view ka = streams_[a]->key(), kb = streams_[b]->key();
    return ka != kb ? ka > kb : streams_[a]->log > streams_[b]->log;
  };
  auto load = [&](std::size_t s) {
    Stream& st = *streams_[s];
    if (!st.refill()) {
      out.failure = st.failure;
      return false;
    }
    countOversize(st.reader, st.log);
    if (!st.kept.empty()) {
      heap_.push_back(s);
      std::push_heap(heap_.begin(), heap_.end(), later);
    }
    return true;
  };
  if (streams_.empty()) {
    // A min-heap by key, then by the log's place in the set.
    const std::size_t share = std::clamp(kMergeBudget / group.size(), kMinBuffer, kMaxBuffer);
    heap_.clear();
    heap_.reserve(group.size());
    for (int log : group) {
      ReadQuery q = query_;
      q.begin = begins_[static_cast<std::size_t>(log)];
      streams_.push_back(std::make_unique<Stream>(log, logs_[static_cast<std::size_t>(log)], std::move(q), cp_, share));
      if (log == from_.log) streams_.back()->next = from_.byte;
    }
    for (std::size_t s = 0; s < streams_.size(); ++s)
      if (!load(s)) return false;
  }
  Record record;
  while (!heap_.empty()) {
    std::pop_heap(heap_.begin(), heap_.end(), later);
    const std::size_t s = heap_.back();
    heap_.pop_back();
    Stream& st = *streams_[s];
    st.fill(record);
    next_ = SetPosition{st.log, st.kept[st.head].after};
    const bool go = sink.record(record);
    // The record stays the head's until the sink has had it; the views
    // point into the stream's arena.
    if (++st.head < st.kept.size()) {
      heap_.push_back(s);
      std::push_heap(heap_.begin(), heap_.end(), later);
    } else if (!st.exhausted) {
      sink.windowDone(0, 0);
      if (!load(s)) return false;
    }
    if (!go) return false;
  }
  streams_.clear();
  return true;
}

void LogSetReader::settle(SetPosition& next) const {
  // A negative byte: the position of the last record handed out, whose
  // line's end is yet to be found.
  if (next.log < 0 || next.byte >= -1) return;
  const std::int64_t record = -next.byte;
  std::int64_t after = -1;
  try {
    after = lineStartAtOrAfter(logs_[static_cast<std::size_t>(next.log)], record + 1);
  } catch (const std::exception&) {
    after = -1;
  }
  next.byte = after >= 1 ? after : record + 1;
}

std::optional<Failure> LogSetReader::start(SetPosition from) {
  oversize_ = 0;
  firstOversize_ = -1;
  rangeFailure_.reset();
  one_.reset();
  streams_.clear();
  heap_.clear();
  group_ = 0;
  next_ = {};
  if (from.valid() && from.log >= static_cast<int>(logs_.size())) from = {};
  from_ = from;
  // Where each log starts: the period's start, or, on a resume, past the
  // records already handed out: the key of the last one before the resume
  // position, taken in logs given before its log and passed in those after.
  begins_.assign(logs_.size(), query_.begin);
  if (from.valid()) {
    Reader reader{logs_[static_cast<std::size_t>(from.log)], wholeLog(), cp_};
    BackwardScan back(reader);
    FirstKey last;
    const BackwardResult b = back.scan(from.byte, last);
    if (b.failure) {
      groups_.clear();
      return b.failure;
    }
    if (!last.key.empty()) {
      const std::string after = keyAfter(last.key);
      for (std::size_t i = 0; i < logs_.size(); ++i) {
        const std::string& k = static_cast<int>(i) < from.log ? after : last.key;
        if (k > begins_[i]) begins_[i] = k;
      }
    }
  }
  groups_ = plan(begins_);
  if (rangeFailure_) {
    groups_.clear();
    return rangeFailure_;
  }
  return std::nullopt;
}

SetScanResult LogSetReader::more(RecordSink& sink) {
  SetScanResult out;
  while (group_ < groups_.size()) {
    const bool whole = groups_[group_].size() == 1 ? readOne(sink, out) : merge(sink, out);
    if (!whole) {
      out.next = next_;
      return out;
    }
    ++group_;
    if (group_ < groups_.size()) sink.windowDone(0, 0);
  }
  // Nothing left to read: a later scan goes on where the set ended.
  if (next_.log < 0 && from_.valid()) next_ = from_;
  settle(next_);
  out.next = next_;
  return out;
}

SetScanResult LogSetReader::scan(RecordSink& sink, SetPosition from) {
  SetScanResult out;
  if (const auto failure = start(from)) {
    out.failure = failure;
    return out;
  }
  if (groups_.empty()) return out;
  sink.begin(1);
  out = more(sink);
  if (out.failure) return out;
  settle(out.next);
  if (done()) sink.finish();
  return out;
}

LogSetReader::Halves LogSetReader::scanInHalves(RecordSink& first, RecordSink& second, std::int64_t splitFrom) {
  Halves out;
  std::vector<U16String> later;
  std::vector<U16String> earlier = logs_;
  if (splitFrom >= 0) {
    rangeFailure_.reset();
    const std::vector<std::vector<int>> groups = plan(std::vector<std::string>(logs_.size(), query_.begin));
    std::vector<std::int64_t> bytes;
    std::int64_t total = 0;
    for (const std::vector<int>& g : groups) {
      std::int64_t b = 0;
      for (int log : g)
        if (const auto id = fileIdentity(logs_[static_cast<std::size_t>(log)])) b += id->size;
      bytes.push_back(b);
      total += b;
    }
    if (!rangeFailure_ && groups.size() >= 2 && total >= splitFrom) {
      std::size_t cut = 0;
      for (std::int64_t before = 0; cut + 1 < groups.size() && before + bytes[cut] <= total / 2; ++cut)
        before += bytes[cut];
      cut = std::max<std::size_t>(cut, 1);
      // Each half keeps the logs' order as given, which breaks ties of keys.
      std::vector<bool> inLater(logs_.size(), false);
      for (std::size_t g = cut; g < groups.size(); ++g)
        for (int log : groups[g]) inLater[static_cast<std::size_t>(log)] = true;
      earlier.clear();
      for (std::size_t i = 0; i < logs_.size(); ++i) (inLater[i] ? later : earlier).push_back(logs_[i]);
    }
  }
  if (later.empty()) {
    out.failure = scan(first).failure;
    return out;
  }
  LogSetReader head(std::move(earlier), query_, cp_), rest(std::move(later), query_, cp_);
  head.setProgress(progress_);
  SetScanResult headScan, restScan;
  std::thread helper([&] {
    try {
      restScan = rest.scan(second);
    } catch (...) {
      restScan.failure = currentFailure();
    }
  });
  try {
    headScan = head.scan(first);
  } catch (...) {
    headScan.failure = currentFailure();
  }
  helper.join();
  oversize_ = head.oversize_ + rest.oversize_;
  firstOversize_ = head.oversize_ ? head.firstOversize_ : rest.firstOversize_;
  out.failure = headScan.failure ? headScan.failure : restScan.failure;
  out.secondKept = !out.failure;
  return out;
}

// ---- backwards ----------------------------------------------------------------------

namespace {

// The largest key below key ("" when there is none): the last byte above 0
// goes down by one and the bytes after it go to 0xFF.
std::string keyBefore(std::string key) {
  for (std::size_t i = key.size(); i-- > 0;) {
    if (key[i] != '\0') {
      key[i] = static_cast<char>(static_cast<unsigned char>(key[i]) - 1);
      for (std::size_t j = i + 1; j < key.size(); ++j) key[j] = '\xFF';
      return key;
    }
  }
  return {};
}

}  // namespace

// One log read backwards for a merge: the records of its last windows,
// newest first, refilled by going on from the last one handed out.
struct LogSetReader::BackStream : Buffered {
  BackStream(int index, U16String path, ReadQuery query, const CodePage& cp, std::size_t share, std::int64_t before)
      : Buffered(index, std::move(path), std::move(query), cp, 0), back(reader), share(share), before(before) {}

  // A page back wants a few records of each log: the buffer starts small
  // and doubles at each refill, up to the log's share.
  bool refill() {
    restart();
    budget = std::min(share, budget == 0 ? kMinBuffer : budget * 2);
    const BackwardResult b = back.scan(before, *this);
    if (b.failure) {
      failure = b.failure;
      return false;
    }
    exhausted = !stopped || b.next < 1;
    before = b.next;
    return true;
  }

  BackwardScan back;
  std::size_t share;
  std::int64_t before;
};

SetScanResult LogSetReader::scanBack(RecordSink& sink, SetPosition before) {
  SetScanResult out;
  rangeFailure_.reset();
  if (before.valid() && before.log >= static_cast<int>(logs_.size())) before = {};
  // The record at before bounds the other logs: a log given before its log
  // keeps the records up to its key, one given after it those below.
  std::string bound;
  if (before.valid()) {
    Reader reader{logs_[static_cast<std::size_t>(before.log)], wholeLog(), cp_};
    FirstKey at;
    const ScanResult r = reader.scan(before.byte, at);
    if (r.failure) {
      out.failure = r.failure;
      return out;
    }
    bound = std::move(at.key);
  }
  const std::vector<std::vector<int>> groups = plan(std::vector<std::string>(logs_.size(), query_.begin));
  if (rangeFailure_) {
    out.failure = rangeFailure_;
    return out;
  }
  // Newest first: by key, then the log given later.
  auto earlier = [](const BackStream* a, const BackStream* b) {
    const std::string_view ka = a->key(), kb = b->key();
    return ka != kb ? ka < kb : a->log < b->log;
  };
  for (auto group = groups.rbegin(); group != groups.rend(); ++group) {
    std::vector<std::unique_ptr<BackStream>> streams;
    std::vector<BackStream*> heap;
    const std::size_t share = std::clamp(kMergeBudget / group->size(), kMinBuffer, kMaxBuffer);
    for (int log : *group) {
      ReadQuery q = query_;
      std::int64_t from = Reader::kNoStop;
      if (before.valid() && log == before.log) {
        from = before.byte;
      } else if (before.valid() && !bound.empty()) {
        const std::string end = log < before.log ? bound : keyBefore(bound);
        if (end.empty()) continue;
        if (end < q.end) q.end = end;
        if (q.end < q.begin || range(log).first > q.end) continue;
      }
      streams.push_back(std::make_unique<BackStream>(log, logs_[static_cast<std::size_t>(log)], std::move(q), cp_, share, from));
      if (progress_) streams.back()->reader.setProgress(progress_);
    }
    // A log read alone hands its records straight on, as one log is paged back.
    if (streams.size() == 1) {
      BackStream& st = *streams.front();
      struct Named : RecordSink {
        RecordSink& to;
        int log;
        SetPosition& next;
        Named(RecordSink& t, int l, SetPosition& n) : to(t), log(l), next(n) {}
        bool record(const Record& r) override {
          Record named = r;
          named.log = log;
          next = SetPosition{log, r.position};
          return to.record(named);
        }
      } named(sink, st.log, out.next);
      const BackwardResult b = st.back.scan(st.before, named);
      if (b.failure) {
        out.failure = b.failure;
        return out;
      }
      if (b.next >= 1) return out;  // the sink ended it
      continue;
    }
    for (const auto& st : streams) {
      if (!st->refill()) {
        out.failure = st->failure;
        return out;
      }
      if (!st->kept.empty()) heap.push_back(st.get());
    }
    std::make_heap(heap.begin(), heap.end(), earlier);
    Record record;
    while (!heap.empty()) {
      std::pop_heap(heap.begin(), heap.end(), earlier);
      BackStream& st = *heap.back();
      heap.pop_back();
      st.kept.fill(st.head, record, st.log);
      out.next = SetPosition{st.log, record.position};
      if (!sink.record(record)) return out;
      if (++st.head < st.kept.size()) {
        heap.push_back(&st);
        std::push_heap(heap.begin(), heap.end(), earlier);
      } else if (!st.exhausted) {
        if (!st.refill()) {
          out.failure = st.failure;
          return out;
        }
        if (!st.kept.empty()) {
          heap.push_back(&st);
          std::push_heap(heap.begin(), heap.end(), earlier);
        }
      }
    }
  }
  out.next = {};
  return out;
}

}  // namespace velmora
