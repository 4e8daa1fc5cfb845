// The add-in under long use. One object runs 5,000 rounds over a log that
// grows by two records a round. Every round: GetData resumed into one table,
// and GetData from the start search over the newest day with and without
// grouping, sorting, translation, a column subset and a user filter by
// turns, with SetDateTimes, SetFilter, GetFilter and property writes around
// them; by turns GetUsers, StoreErrRows and ReplaceDateTimes (the last two
// read a log whole, so they take a small log of their own, and every 500
// rounds the grown one); host faults at random. Then 200 Init/Done cycles
// on fresh objects.
//
// Checked: every record of the grown log reaches the resumed table exactly
// once; every call gives what the test computes from the log's records; no
// call leaves a file open; and the library's heap, the process's private
// memory, its handles and its GUI objects stay within the bounds stated at
// kBounds.
#include <gtest/gtest.h>
// psapi.h needs the types of windows.h first.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "addin_heap.h"
#include "host_sim.h"

namespace {

using namespace sim;
using velmora::MemoryValueList;
using velmora::MemoryValueTable;
using velmora::U16View;

constexpr int kRounds = 5000;
constexpr int kFirstMeasure = 100;
constexpr int kCycles = 200;
constexpr int kCyclesSettled = 20;
constexpr int kPerRound = 2;     // records the host logs between rounds
constexpr int kInitial = 200;
constexpr int kPerDay = 100;
constexpr int kTotal = kInitial + kRounds * kPerRound;

// The bounds, over two stretches measured once the process has settled:
// round 100 to round 5,000, and lifecycle 20 to lifecycle 200. Private
// memory rises while the heaps settle (by about 5 MiB over the first
// lifecycles under Wine, as type libraries are loaded and freed) and is
// flat after. A leak of one heap block or one handle a round would exceed
// the bounds hundreds of times over (4,900 blocks, 4,900 handles); a leak of
// 256 bytes a round, 1.2 MiB. The library's heap is also held to what it
// was before the first object once the last is gone.
struct Bounds {
  std::int64_t heapBlocks = 8;          // the reader's strings may change room, not number
  std::int64_t heapBytes = 32 * 1024;   // the same strings' room
  std::int64_t privateBytes = 1 << 20;  // pages the heaps commit and keep
  std::int64_t handles = 4;
  std::int64_t guiObjects = 0;
};
constexpr Bounds kBounds;

// ---- the process's figures -----------------------------------------------------

struct Figures {
  HeapFigures heap;
  std::int64_t privateBytes = 0;  // PrivateUsage, or the committed private regions where that reads 0
  std::int64_t handles = 0;       // the handle count, or the lowest free handle slot where that reads 0
  std::int64_t gdi = 0, user = 0;
  bool privateUsage = true, handleCount = true;
};

// Wine reports 0 for PrivateUsage and the handle count. Its address space
// still tells the private memory committed, and its handle table hands out
// the lowest free slot, which climbs with every handle left open.
Figures measure(const AddinHeapWatch& heap) {
  Figures f;
  f.heap = heap.figures();
  PROCESS_MEMORY_COUNTERS_EX pmc{};
  pmc.cb = sizeof pmc;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc))
    f.privateBytes = static_cast<std::int64_t>(pmc.PrivateUsage);
  if (f.privateBytes == 0) {
    f.privateUsage = false;
    MEMORY_BASIC_INFORMATION m;
    for (char* p = nullptr; VirtualQuery(p, &m, sizeof m) == sizeof m;) {
      if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) f.privateBytes += static_cast<std::int64_t>(m.RegionSize);
      char* next = static_cast<char*>(m.BaseAddress) + m.RegionSize;
      if (next <= p) break;
      p = next;
    }
  }
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count)) f.handles = count;
  if (f.handles == 0) {
    f.handleCount = false;
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    f.handles = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(probe) / 4);
    CloseHandle(probe);
  }
  f.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  f.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  return f;
}

void print(const char* when, const Figures& f) {
  std::printf("figures: %-28s heap %lld blocks %lld bytes; %s %lld KiB; %s %lld; GDI %lld USER %lld\n", when,
              static_cast<long long>(f.heap.liveBlocks), static_cast<long long>(f.heap.liveBytes),
              f.privateUsage ? "private bytes" : "committed private", static_cast<long long>(f.privateBytes / 1024),
              f.handleCount ? "handles" : "lowest free handle slot", static_cast<long long>(f.handles),
              static_cast<long long>(f.gdi), static_cast<long long>(f.user));
}

void expectHeapWithin(const Figures& from, const Figures& to, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_LE(to.heap.liveBlocks - from.heap.liveBlocks, kBounds.heapBlocks) << "the library's heap blocks";
  EXPECT_LE(to.heap.liveBytes - from.heap.liveBytes, kBounds.heapBytes) << "the library's heap bytes";
}

void expectWithin(const Figures& from, const Figures& to, const char* what) {
  SCOPED_TRACE(what);
  expectHeapWithin(from, to, what);
  EXPECT_LE(to.privateBytes - from.privateBytes, kBounds.privateBytes) << "private memory";
  EXPECT_LE(to.handles - from.handles, kBounds.handles) << "handles";
  EXPECT_LE(to.gdi - from.gdi, kBounds.guiObjects) << "GDI objects";
  EXPECT_LE(to.user - from.user, kBounds.guiObjects) << "USER objects";
}

// ---- the log -------------------------------------------------------------------

std::string ansi(const std::wstring& s) {
  std::string out(s.size() * 2 + 1, '\0');
  int n = WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(),
                              static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n);
  return out;
}

const std::wstring kUsers[] = {L"Петров А.С.", L"Иванова Н.П.", L"Кладовщик", L"Admin", L"Сидоренко"};

struct Record {
  std::string line;
  int day;
  int user;
  bool error;
  std::int64_t offset;  // 1-based byte position
};

std::wstring dayText(int day) {
  SYSTEMTIME st{};
  st.wYear = 2005;
  st.wMonth = 1;
  st.wDay = 1;
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  ULARGE_INTEGER t{{ft.dwLowDateTime, ft.dwHighDateTime}};
  t.QuadPart += static_cast<ULONGLONG>(day) * 864000000000ull;
  ft = {t.LowPart, t.HighPart};
  FileTimeToSystemTime(&ft, &st);
  wchar_t text[16];
  wsprintfW(text, L"%04u%02u%02u", st.wYear, st.wMonth, st.wDay);
  return text;
}

// Every record the test will write, made before anything is measured.
std::vector<Record> makeRecords() {
  std::vector<Record> out;
  out.reserve(kTotal);
  std::int64_t offset = 1;
  std::vector<std::string> users;
  for (const auto& u : kUsers) users.push_back(ansi(u));
  for (int id = 0; id < kTotal; ++id) {
    const int day = id / kPerDay, k = id % kPerDay;
    const int seconds = k * (86400 / kPerDay);
    const int user = (id * 7 + id / 13) % 5;
    const bool error = id % 17 == 5;
    const char* events[] = {"DocWrite", "DocPassed", "RefWrite", "GrpRefWrite"};
    char line[256];
    std::snprintf(line, sizeof line, "%ls;%02d:%02d:%02d;%s;%s;Docs;%s;%s;note %d;N%d;doc %d\r\n",
                  dayText(day).c_str(), seconds / 3600, seconds / 60 % 60, seconds % 60, users[user].c_str(),
                  id % 3 ? "E" : "D", error ? "DocNotWrite" : events[id % 4], error ? "5" : "1", id, id, id % 50);
    out.push_back({line, day, user, error, offset});
    offset += static_cast<std::int64_t>(out.back().line.size());
  }
  return out;
}

// ---- the resumed table: one row number and identifier a record ----------------

// The host table that GetData resumes into, keeping of each row only its
// identifier, counted per record, in room made before anything is measured.
class Ledger final : public velmora::ValueTable {
 public:
  explicit Ledger(int records) : seen_(static_cast<std::size_t>(records), 0) {}
  std::int32_t ColumnCount() override { return columns_; }
  std::int32_t LinesCnt() override { return rows_; }
  void DeleteLines() override { rows_ = 0; }
  void DeleteColumn(std::int32_t) override { --columns_; }
  void NewColumn(U16View, U16View, std::optional<std::int16_t>) override { ++columns_; }
  void NewLine() override { ++rows_; }
  void SetValue(std::int32_t row, std::int16_t column, U16View value) override {
    if (row != rows_) ++misplaced_;
    if (column != 9) return;
    if (value.size() < 2 || value[0] != u'N') {
      ++misplaced_;
      return;
    }
    std::size_t id = 0;
    for (char16_t c : value.substr(1)) id = id * 10 + static_cast<std::size_t>(c - u'0');
    if (id < seen_.size()) ++seen_[id];
    else ++misplaced_;
  }
  void SetValue(std::int32_t, U16View, std::int16_t) override { ++misplaced_; }
  void GroupBy(U16View, U16View) override { ++misplaced_; }
  void Sort(U16View) override { ++misplaced_; }

  std::int32_t rows() const { return rows_; }
  int misplaced() const { return misplaced_; }
  // Identifiers below `written` seen other than once, and any seen above.
  int wrong(int written) const {
    int n = 0;
    for (std::size_t i = 0; i < seen_.size(); ++i) n += static_cast<int>(i) < written ? seen_[i] != 1 : seen_[i] != 0;
    return n;
  }

 private:
  std::vector<std::uint8_t> seen_;
  std::int32_t columns_ = 0, rows_ = 0;
  int misplaced_ = 0;
};

// ---- the soak --------------------------------------------------------------------

// A deterministic generator, so that a failing round can be run again.
class Random {
 public:
  std::uint32_t next(std::uint32_t below) {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>((state_ >> 33) % below);
  }

 private:
  std::uint64_t state_ = 13;
};

struct Kind {
  HRESULT hr;
  SCODE scode;
  const wchar_t* text;
};
const Kind kKinds[] = {{DISP_E_EXCEPTION, static_cast<SCODE>(0x800A0007u), L"Недостаточно памяти хоста"},
                       {RPC_E_DISCONNECTED, 0, L""}};

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    records = makeRecords();
    logPath = dir.path(L"events.log");
    sidePath = dir.path(L"side.log");
    writeBytes(logPath, "");
    for (int i = 0; i < kInitial; ++i) append();
    // A small log of its own for the two copying methods, which read a
    // log whole: 30 records, 2 of them errors.
    for (int i = 0; i < 30; ++i) {
      side += records[static_cast<std::size_t>(i)].line;
      sideErrors += records[static_cast<std::size_t>(i)].error;
    }
    writeBytes(sidePath, side);
    writeBytes(dir.path(L"list.txt"), "20070707;07:07:07;2\r\n");
    sideReplaced = side;
    sideReplaced.replace(static_cast<std::size_t>(records[1].offset - 1), 18, "20070707;07:07:07;");
  }

  void append() {
    writeBytes(logPath, records[static_cast<std::size_t>(written)].line, true);
    ++written;
  }

  // Property write and method call that must succeed.
  void set(long n, const std::wstring& value) {
    ++calls;
    ASSERT_EQ(setProp(addin.ext.get(), n, vstr(value)), S_OK) << n;
  }
  CallResult call(long method, ArgArray& args) {
    ++calls;
    return callFunc(addin.ext.get(), method, args);
  }
  void period(const std::wstring& from, const std::wstring& to, const std::wstring& toTime) {
    ArgArray args{vstr(from), vstr(L""), vstr(to), vstr(toTime)};
    ASSERT_EQ(call(1, args).describe(), L"00000000 I2 1");
  }
  void filter(const std::wstring& text, const wchar_t* name) {
    ArgArray args{vstr(text), vstr(name)};
    ASSERT_EQ(call(2, args).describe(), L"00000000 I2 1");
  }
  std::wstring prop(long n) {
    ++calls;
    VARIANT v = getProp(addin.ext.get(), n);
    std::wstring s = variantText(v);
    VariantClear(&v);
    return s;
  }
  void expectClosed(const std::wstring& path) { EXPECT_TRUE(noOtherHandle(path)) << "a file is still open"; }

  // The same state at every measurement, so that the reader holds the same.
  void canonical() {
    set(0, logPath);
    for (long n : {6L, 8L, 9L}) set(n, L"");
    set(7, L"0000");
    set(11, L"00000000");
    set(12, L"0");
    filter(L"", L"FilterUsers");
    period(L"20050101", L"20201231", L"");
  }

  // A host failure armed at a random call of `object`, now and then.
  bool maybeFault(AutomationObject& object, int calls, std::wstring* member) {
    if (calls < 1 || random.next(8) != 0) return false;
    const Kind& kind = kKinds[random.next(2)];
    const int k = 1 + static_cast<int>(random.next(static_cast<std::uint32_t>(calls)));
    object.failCall(k, kind.hr, kind.scode, 0, kind.text);
    object.beforeNumberedCall = [k, member](const std::wstring& name, int n) {
      if (n == k) *member = name;
    };
    return true;
  }
  // The documented end of a method whose host object failed.
  void expectHostFailure(const CallResult& r) {
    EXPECT_EQ(r.describe(), L"00000000 I4 -1");
    EXPECT_NE(prop(5), L"I2 0");
    EXPECT_NE(prop(10), L"BSTR ");
  }

  void round(int r);
  void newestDay(int r);
  void users(int r);
  void strip(int r);
  void replace();
  void readBack();
  void connection();

  TempDir dir{L"soak"};
  std::vector<Record> records;
  std::wstring logPath, sidePath;
  std::string side, sideReplaced;
  int sideErrors = 0;
  int written = 0;
  AddIn addin;
  com_ptr<Connection> conn;
  Ledger ledger{kTotal};
  com_ptr<Table> ledgerTable = make<Table>(ledger);
  Random random;
  long position = 0;
  long calls = 0, faults = 0;
  int tableCalls = 0, listCalls = 0;
};

void Soak::round(int r) {
  for (int i = 0; i < kPerRound; ++i) append();
  // Resume: the records logged since the last round, into the same table.
  set(0, logPath);
  for (long n : {6L, 8L, 9L}) set(n, L"");
  set(7, r % 2 ? L"0110" : L"0000");  // translation leaves the identifier alone
  set(11, L"00000000");
  filter(L"", L"FilterUsers");
  period(L"20050101", L"20201231", L"");
  ArgArray args{vlong(position), vobj(ledgerTable.get())};
  const CallResult resumed = call(0, args);
  ASSERT_EQ(resumed.value.substr(0, 3), L"I4 ") << resumed.describe();
  position = std::stol(resumed.value.substr(3));
  ASSERT_EQ(position, records[static_cast<std::size_t>(written - 1)].offset +
                          static_cast<long>(records[static_cast<std::size_t>(written - 1)].line.size()));
  expectClosed(logPath);
  newestDay(r);
  switch (r % 4) {
    case 1: strip(r); break;
    case 3: replace(); break;
    default: users(r);
  }
  readBack();
  if (r % 25 == 0) connection();
}

// GetData from the start search over the newest day, with the settings of
// the round: grouping, sorting, translation and a column subset by turns, a
// user filter (inverted or not) every third round.
void Soak::newestDay(int r) {
  const int day = records[static_cast<std::size_t>(written - 1)].day;
  const bool grouped = r & 1, sorted = r & 2, translated = r & 4, subset = r & 8;
  const int filtered = r % 3 == 0 ? static_cast<int>(random.next(5)) : -1;
  const bool inverted = filtered >= 0 && r % 6 == 0;
  period(dayText(day), dayText(day), L"23:59:59");
  set(8, grouped ? L"Пользователь" : L"");
  set(9, sorted ? (grouped ? L"Пользователь" : L"Идентификатор desc") : L"");
  set(7, translated ? L"1111" : L"0000");
  set(6, subset ? L"1010000011" : L"");
  filter(filtered >= 0 ? L"|" + kUsers[filtered] + L"|" : L"", L"FilterUsers");
  set(11, inverted ? L"1" : L"0");

  std::multiset<std::wstring> ids;
  std::set<int> userSet;
  for (int i = 0; i < written; ++i) {
    const Record& rec = records[static_cast<std::size_t>(i)];
    if (rec.day != day || (filtered >= 0 && (rec.user == filtered) == inverted)) continue;
    ids.insert(L"N" + std::to_wstring(i));
    userSet.insert(rec.user);
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    MemoryValueTable store;
    auto table = make<Table>(store);
    std::wstring failedMember;
    const bool armed = attempt == 0 && maybeFault(*table.get(), tableCalls, &failedMember);
    ArgArray args{vlong(0), vobj(table.get())};
    const CallResult got = call(0, args);
    expectClosed(logPath);
    if (armed && !failedMember.empty()) {
      ++faults;
      expectHostFailure(got);
      continue;  // the next call on the same object must succeed
    }
    if (!armed) tableCalls = table->totalCalls();
    ASSERT_EQ(got.value.substr(0, 3), L"I4 ") << got.describe();
    EXPECT_NE(got.value, L"I4 -1");
    if (grouped) {
      ASSERT_EQ(store.rowCount(), static_cast<int>(userSet.size())) << "round " << r;
      double total = 0;
      for (int row = 1; row <= store.rowCount(); ++row) total += store.number(row, store.columnIndex(u"Чис"));
      EXPECT_EQ(total, static_cast<double>(ids.size()));
    } else {
      ASSERT_EQ(store.rowCount(), static_cast<int>(ids.size())) << "round " << r;
      const int column = store.columnIndex(u"Идентификатор");
      std::multiset<std::wstring> seen;
      for (int row = 1; row <= store.rowCount(); ++row) {
        U16View id = store.text(row, column);
        seen.insert(std::wstring(id.begin(), id.end()));
      }
      EXPECT_EQ(seen, ids) << "round " << r;
    }
    break;
  }
}

// GetUsers from the first record of the newest day.
void Soak::users(int r) {
  const int day = records[static_cast<std::size_t>(written - 1)].day;
  int first = written - 1;
  while (first > 0 && records[static_cast<std::size_t>(first - 1)].day == day) --first;
  std::set<std::wstring> want;
  for (int i = first; i < written; ++i) want.insert(kUsers[records[static_cast<std::size_t>(i)].user]);
  for (int attempt = 0; attempt < 2; ++attempt) {
    MemoryValueList store;
    auto list = make<List>(store);
    std::wstring failedMember;
    const bool armed = attempt == 0 && maybeFault(*list.get(), listCalls, &failedMember);
    ArgArray args{vlong(static_cast<long>(records[static_cast<std::size_t>(first)].offset)), vobj(list.get())};
    const CallResult got = call(4, args);
    expectClosed(logPath);
    if (armed && !failedMember.empty()) {
      ++faults;
      expectHostFailure(got);
      continue;
    }
    if (!armed) listCalls = list->totalCalls();
    EXPECT_EQ(got.value, L"I4 " + std::to_wstring(position)) << "round " << r;
    std::set<std::wstring> seen;
    for (const auto& item : store.items()) seen.insert(std::wstring(item.value.begin(), item.value.end()));
    EXPECT_EQ(seen, want) << "round " << r;
    EXPECT_EQ(store.items().size(), want.size()) << "round " << r;
    break;
  }
}

// StoreErrRows on the small log, and every 500 rounds on the grown one.
void Soak::strip(int r) {
  set(0, sidePath);
  const std::wstring kept = dir.path(L"kept.log"), errors = dir.path(L"errors.log");
  ArgArray args{vstr(kept), vstr(errors)};
  EXPECT_EQ(call(5, args).describe(), L"00000000 I4 " + std::to_wstring(sideErrors));
  for (const auto& p : {sidePath, kept, errors}) expectClosed(p);
  if (r % 500 == 1) {
    set(0, logPath);
    int n = 0;
    for (int i = 0; i < written; ++i) n += records[static_cast<std::size_t>(i)].error;
    EXPECT_EQ(call(5, args).describe(), L"00000000 I4 " + std::to_wstring(n));
    expectClosed(logPath);
  }
}

// ReplaceDateTimes on the small log.
void Soak::replace() {
  set(0, sidePath);
  const std::wstring replaced = dir.path(L"out.log");
  ArgArray args{vstr(replaced), vstr(dir.path(L"list.txt"))};
  EXPECT_EQ(call(6, args).describe(), L"00000000 I4 1");
  EXPECT_EQ(readBytes(replaced), sideReplaced);
  for (const auto& p : {sidePath, replaced}) expectClosed(p);
}

// GetFilter and the properties read back.
void Soak::readBack() {
  ArgArray get{vstr(L"ФильтерПользователей")};
  const CallResult f = call(3, get);
  EXPECT_EQ(f.hr, S_OK);
  EXPECT_EQ(prop(0).substr(0, 5), L"BSTR ");
  EXPECT_EQ(prop(5), L"I2 0");
  EXPECT_EQ(prop(10), L"BSTR ");
}

// The connection's setting calls, one of them failing now and then.
void Soak::connection() {
  com_ptr<_Velmora> v = addin.disp.query<_Velmora>(IID__Velmora);
  const Kind& kind = kKinds[random.next(2)];
  VARIANT_BOOL ok = VARIANT_TRUE;
  conn->failNext(L"Read", kind.hr, kind.scode, 0, kind.text);
  ++calls;
  EXPECT_EQ(v->LoadProperties(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE) << "a failed Read";
  conn->failNext(L"Write", kind.hr, kind.scode, 0, kind.text);
  ++calls;
  EXPECT_TRUE(FAILED(v->SaveProperties()));
  EXPECT_FALSE(errorDescription().empty());
  ++calls;
  EXPECT_EQ(v->SaveProperties(), S_OK);
  faults += 2;
}

TEST_F(Soak, FiveThousandRoundsThenTwoHundredLifecycles) {
  AddinHeapWatch heap;
  // One object's whole life first, with a failure: what the first use of
  // the library sets up for good (its type library, the runtime's exception
  // state for the thread) is not counted.
  {
    AddIn warm = createAddIn();
    auto c = make<Connection>();
    ASSERT_EQ(warm.initDone->Init(c.get()), S_OK);
    MemoryValueTable store;
    auto table = make<Table>(store);
    table->failCall(1, E_FAIL);
    ArgArray args{vlong(0), vobj(table.get())};
    callFunc(warm.ext.get(), 0, args);
    ASSERT_EQ(warm.initDone->Done(), S_OK);
  }
  const Figures before = measure(heap);
  print("before the first object", before);

  addin = createAddIn();
  conn = make<Connection>();
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  Figures first;
  for (int r = 0; r < kRounds; ++r) {
    round(r);
    if (HasFatalFailure()) return;
    if (r + 1 == kFirstMeasure) {
      canonical();
      first = measure(heap);
      print("after round 100", first);
    }
  }
  canonical();
  const Figures last = measure(heap);
  print("after round 5,000", last);
  expectWithin(first, last, "rounds 100 to 5,000");

  EXPECT_EQ(ledger.rows(), written);
  EXPECT_EQ(ledger.wrong(written), 0) << "records missing from the resumed table or in it twice";
  EXPECT_EQ(ledger.misplaced(), 0);

  ASSERT_EQ(addin.initDone->Done(), S_OK);
  addin = AddIn{};
  Figures settled;
  for (int i = 0; i < kCycles; ++i) {
    AddIn fresh = createAddIn();
    auto c = make<Connection>();
    ASSERT_EQ(fresh.initDone->Init(c.get()), S_OK);
    ASSERT_EQ(setProp(fresh.ext.get(), 0, vstr(sidePath)), S_OK);
    ArgArray p{vstr(L"20050101"), vstr(L""), vstr(L"20050101"), vstr(L"")};
    ASSERT_EQ(callFunc(fresh.ext.get(), 1, p).value, L"I2 1");
    MemoryValueTable store;
    auto table = make<Table>(store);
    ArgArray args{vlong(0), vobj(table.get())};
    ASSERT_EQ(callFunc(fresh.ext.get(), 0, args).value.substr(0, 3), L"I4 ");
    ASSERT_EQ(store.rowCount(), 30);
    ASSERT_EQ(fresh.initDone->Done(), S_OK);
    calls += 5;
    if (i + 1 == kCyclesSettled) {
      fresh = AddIn{};
      settled = measure(heap);
      print("after lifecycle 20", settled);
    }
  }
  const Figures end = measure(heap);
  print("after lifecycle 200", end);
  expectWithin(settled, end, "lifecycles 20 to 200");
  expectHeapWithin(before, end, "before the first object to after the last");
  std::printf("figures: %d rounds, %d records, %ld calls into the add-in, %ld host faults injected, %d lifecycles\n",
              kRounds, written, calls, faults, kCycles);
  if (!before.privateUsage || !before.handleCount)
    std::printf("figures: this system reports no private bytes or handle count; measured as stated above\n");
}

}  // namespace
