// Whole scripts run through the host's interfaces on generated logs: the
// period, filters and masks, GetData with resume, grouping and sorting,
// GetUsers, StoreErrRows and ReplaceDateTimes, and failures reported through
// NumErr/TextErr or COM error information. Expectations are computed from
// the log's bytes independently of the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "host_sim.h"
#include "memhost/memory_host.h"
#include "sample/sample.h"

namespace {

using namespace sim;
using velmora::MemoryValueList;
using velmora::MemoryValueTable;

struct Record {
  std::string line;  // without CR LF
  std::vector<std::string> fields;  // fields[1..10]; [1] date, [2] time
  std::size_t offset;               // 0-based byte offset of the line
};

std::vector<Record> parse(const std::string& log) {
  std::vector<Record> out;
  std::size_t pos = 0;
  while (pos < log.size()) {
    std::size_t end = log.find("\r\n", pos);
    if (end == std::string::npos) break;
    Record r{log.substr(pos, end - pos), {""}, pos};
    std::string rest = r.line;
    std::size_t start = 0;
    for (int k = 1; k <= 10; ++k) {
      std::size_t semi = rest.find(';', start);
      r.fields.push_back(rest.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
      start = semi == std::string::npos ? rest.size() : semi + 1;
    }
    out.push_back(std::move(r));
    pos = end + 2;
  }
  return out;
}

// Log bytes as the reader shows them: the system's ANSI code page.
std::wstring ansi(const std::string& bytes) {
  if (bytes.empty()) return L"";
  std::wstring w(bytes.size(), L'\0');
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(),
                              static_cast<int>(w.size()));
  w.resize(n);
  return w;
}

std::wstring text(velmora::U16View s) { return std::wstring(s.begin(), s.end()); }

std::wstring tempPath(const std::wstring& name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + L"velmora_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

void writeFile(const std::wstring& path, const std::string& bytes, bool append = false) {
  HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, append ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(h);
}

std::string readFile(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out(GetFileSize(h, nullptr), '\0');
  DWORD done = 0;
  ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &done, nullptr);
  CloseHandle(h);
  return out;
}

class Script : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
    velmora::SampleOptions options;
    options.days = 5;
    options.perDay = 400;
    options.seed = 7;
    options.startDate = 20050101;
    log = velmora::sampleLog(options);
    records = parse(log);
    logPath = tempPath(L"log.log");
    writeFile(logPath, log);
    set(L"FilePath", vstr(logPath));
  }
  void TearDown() override {
    addin.initDone->Done();
    for (const auto& p : created) DeleteFileW(p.c_str());
    DeleteFileW(logPath.c_str());
  }

  long number(const wchar_t* method) {
    velmora::unique_bstr name(velmora::allocBstr(std::u16string(method, method + wcslen(method))));
    long n = -1;
    addin.ext->FindMethod(name.get(), &n);
    return n;
  }
  long prop(const wchar_t* name) {
    velmora::unique_bstr b(velmora::allocBstr(std::u16string(name, name + wcslen(name))));
    long n = -1;
    addin.ext->FindProp(b.get(), &n);
    return n;
  }
  void set(const wchar_t* name, VARIANT v) { ASSERT_EQ(setProp(addin.ext.get(), prop(name), v), S_OK) << name; }
  std::wstring getText(const wchar_t* name) {
    VARIANT v = getProp(addin.ext.get(), prop(name));
    std::wstring s = V_VT(&v) == VT_BSTR ? str(v) : std::to_wstring(argLong(&v));
    VariantClear(&v);
    return s;
  }
  long getNumber(const wchar_t* name) {
    VARIANT v = getProp(addin.ext.get(), prop(name));
    long n = argLong(&v);
    VariantClear(&v);
    return n;
  }
  // The script's call: a function call by the method's script name.
  VARIANT call(const wchar_t* method, ArgArray& args, HRESULT expect = S_OK) {
    VARIANT r;
    VariantInit(&r);
    EXPECT_EQ(addin.ext->CallAsFunc(number(method), &r, args.put()), expect) << method;
    return r;
  }
  long callLong(const wchar_t* method, ArgArray& args) {
    VARIANT r = call(method, args);
    EXPECT_EQ(V_VT(&r), VT_I4) << method;
    return V_I4(&r);
  }
  void period(const wchar_t* d1, const wchar_t* t1, const wchar_t* d2, const wchar_t* t2) {
    ArgArray args{vstr(d1), vstr(t1), vstr(d2), vstr(t2)};
    VARIANT r = call(L"SetDateTimes", args);
    ASSERT_EQ(V_VT(&r), VT_I2);
    ASSERT_EQ(V_I2(&r), 1);
  }
  long getData(long position, IDispatch* table) {
    ArgArray args{vlong(position), vobj(table)};
    return callLong(L"GetData", args);
  }
  std::vector<const Record*> between(const std::string& from, const std::string& to) const {
    std::vector<const Record*> out;
    for (const auto& r : records)
      if (r.fields[1] >= from && r.fields[1] <= to) out.push_back(&r);
    return out;
  }
  std::wstring newPath(const std::wstring& name) {
    created.push_back(tempPath(name));
    return created.back();
  }

  AddIn addin = createAddIn();
  com_ptr<Connection> conn = make<Connection>();
  std::string log;
  std::vector<Record> records;
  std::wstring logPath;
  std::vector<std::wstring> created;
};

TEST_F(Script, GetDataFillsTheTableWithThePeriodAndReturnsWhereToResume) {
  period(L"20050102", L"00:00:00", L"20050103", L"23:59:59");
  EXPECT_EQ(getText(L"DateBegin"), L"20050102;00:00:00;");
  EXPECT_EQ(getText(L"DateEnd"), L"20050103;23:59:59;");
  MemoryValueTable store;
  auto table = make<Table>(store);
  long pos = getData(0, table.get());

  auto expected = between("20050102", "20050103");
  ASSERT_FALSE(expected.empty());
  ASSERT_EQ(store.rowCount(), static_cast<int>(expected.size()));
  EXPECT_EQ(getNumber(L"ListStrSize"), static_cast<long>(expected.size()));
  EXPECT_EQ(getNumber(L"FileSize"), static_cast<long>(log.size()));
  EXPECT_EQ(getNumber(L"NumErr"), 0);
  const wchar_t* names[] = {L"Дата", L"Время", L"Пользователь", L"Режим", L"ТипОбъекта", L"Действие",
                            L"НомерДействия", L"Комментарий", L"Идентификатор", L"Представление"};
  ASSERT_EQ(store.columns().size(), 10u);
  for (int c = 0; c < 10; ++c) EXPECT_EQ(text(store.columns()[c].name), names[c]);
  for (std::size_t i = 0; i < expected.size(); i += 97) {
    if (expected[i]->fields[7] == "5") continue;  // error comments hold ";"
    for (int k = 1; k <= 10; ++k)
      EXPECT_EQ(text(store.text(static_cast<int>(i) + 1, k)), ansi(expected[i]->fields[k])) << "row " << i + 1;
  }
  // The first record past the end stops the call; it resumes after that line.
  const Record* past = nullptr;
  for (const auto& r : records)
    if (r.fields[1] > "20050103") {
      past = &r;
      break;
    }
  ASSERT_TRUE(past);
  EXPECT_EQ(pos, static_cast<long>(past->offset + past->line.size() + 2 + 1));
}

TEST_F(Script, ResumingAppendsOnlyWhatTheHostLoggedSince) {
  period(L"20050101", L"", L"20051231", L"23:59:59");
  std::size_t cut = records[between("20050101", "20050103").size()].offset;
  writeFile(logPath, log.substr(0, cut));
  MemoryValueTable store;
  auto table = make<Table>(store);
  ArgArray args{vlong(0), vobj(table.get())};
  VARIANT r = call(L"GetData", args);
  long pos = V_I4(&r);
  EXPECT_EQ(V_VT(&args[0]), VT_I4);
  EXPECT_EQ(V_I4(&args[0]), 0);  // the script's variable is not written back
  EXPECT_EQ(store.rowCount(), static_cast<int>(between("20050101", "20050103").size()));
  EXPECT_EQ(pos, static_cast<long>(cut) + 1);

  // Nothing new: the position comes back unchanged and no row is added.
  EXPECT_EQ(getData(pos, table.get()), pos);
  EXPECT_EQ(store.rowCount(), static_cast<int>(between("20050101", "20050103").size()));

  writeFile(logPath, log.substr(cut), true);
  long end = getData(pos, table.get());
  EXPECT_EQ(store.rowCount(), static_cast<int>(records.size()));
  EXPECT_EQ(getNumber(L"ListStrSize"), static_cast<long>(records.size()));
  EXPECT_EQ(end, static_cast<long>(log.size()) + 1);
  EXPECT_EQ(text(store.text(store.rowCount(), 2)), ansi(records.back().fields[2]));
}

TEST_F(Script, UserFilterInvertAndColumnSubset) {
  period(L"20050101", L"", L"20051231", L"");
  const std::string user = records[5].fields[3];
  std::size_t matching = std::count_if(records.begin(), records.end(), [&](const Record& r) {
    return r.fields[3] == user && r.fields[1] <= "20051231";
  });
  ASSERT_GT(matching, 0u);
  {
    // Lower case on purpose: filter values compare without regard to case.
    std::wstring filter = ansi(user);
    CharLowerBuffW(filter.data(), static_cast<DWORD>(filter.size()));
    ArgArray args{vstr(L"  |" + filter + L"| "), vstr(L"FilterUsers")};
    VARIANT r = call(L"SetFilter", args);
    EXPECT_EQ(V_VT(&r), VT_I2);
    EXPECT_EQ(V_I2(&r), 1);
    ArgArray name{vstr(L"ФильтерПользователей")};
    VARIANT got = call(L"GetFilter", name);
    std::wstring upper = ansi(user);
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    EXPECT_EQ(str(got), L"|" + upper + L"|");
    VariantClear(&got);
  }
  set(L"InsertColumn", vstr(L"1010000001"));
  MemoryValueTable store;
  auto table = make<Table>(store);
  getData(0, table.get());
  ASSERT_EQ(store.columns().size(), 3u);
  EXPECT_EQ(text(store.columns()[0].name), L"Дата");
  EXPECT_EQ(text(store.columns()[1].name), L"Пользователь");
  EXPECT_EQ(text(store.columns()[2].name), L"Представление");
  ASSERT_EQ(store.rowCount(), static_cast<int>(matching));
  for (int row = 1; row <= store.rowCount(); ++row) EXPECT_EQ(text(store.text(row, 2)), ansi(user));

  set(L"InvertFilters", vstr(L"1"));
  MemoryValueTable inverted;
  auto table2 = make<Table>(inverted);
  getData(0, table2.get());
  EXPECT_EQ(inverted.rowCount(), static_cast<int>(records.size() - matching));

  ArgArray unknown{vstr(L"x"), vstr(L"filterusers")};
  VARIANT r = call(L"SetFilter", unknown);
  EXPECT_EQ(V_I2(&r), 0);
}

TEST_F(Script, TranslationRewritesTheDateColumn) {
  period(L"20050104", L"", L"20050104", L"23:59:59");
  set(L"TransformStr", vstr(L"1"));
  EXPECT_EQ(getText(L"TransformStr"), L"1000");
  MemoryValueTable store;
  auto table = make<Table>(store);
  getData(0, table.get());
  ASSERT_EQ(store.rowCount(), static_cast<int>(between("20050104", "20050104").size()));
  EXPECT_EQ(text(store.text(1, 1)), L"04.01.05");
}

TEST_F(Script, GroupingCountsRecordsPerGroupAndSortingOrdersThem) {
  period(L"20050102", L"", L"20050102", L"23:59:59");
  set(L"GroupBy", vstr(L" Пользователь "));
  set(L"OrderBy", vstr(L"Пользователь"));
  MemoryValueTable store;
  auto table = make<Table>(store);
  getData(0, table.get());
  auto day = between("20050102", "20050102");
  std::set<std::string> users;
  for (auto* r : day) users.insert(r->fields[3]);
  EXPECT_EQ(table->lastGroupBy, L"Пользователь");
  EXPECT_EQ(table->lastGroupSum, L"Чис");
  EXPECT_EQ(table->lastSort, L"Пользователь");
  ASSERT_EQ(store.rowCount(), static_cast<int>(users.size()));
  int sumColumn = store.columnIndex(u"Чис");
  int userColumn = store.columnIndex(u"Пользователь");
  ASSERT_GT(sumColumn, 0);
  ASSERT_GT(userColumn, 0);
  double total = 0;
  for (int row = 1; row <= store.rowCount(); ++row) {
    total += store.number(row, sumColumn);
    if (row > 1) {
      EXPECT_LE(store.text(row - 1, userColumn), store.text(row, userColumn));
    }
  }
  EXPECT_EQ(total, static_cast<double>(day.size()));
}

TEST_F(Script, GetUsersListsEveryDistinctUserSorted) {
  MemoryValueList store;
  auto list = make<List>(store);
  ArgArray args{vstr(L"0"), vobj(list.get())};
  VARIANT r = call(L"ПолучитьПользователей", args);
  ASSERT_EQ(V_VT(&r), VT_I4);
  EXPECT_GT(V_I4(&r), 0);
  std::set<std::wstring> users;
  for (const auto& rec : records)
    if (rec.fields[3].find_first_not_of(' ') != std::string::npos) users.insert(ansi(rec.fields[3]));
  ASSERT_EQ(store.items().size(), users.size());
  for (std::size_t i = 0; i < store.items().size(); ++i) {
    EXPECT_EQ(store.items()[i].value, store.items()[i].presentation);
    EXPECT_TRUE(users.count(text(store.items()[i].value)));
    if (i) {
      EXPECT_LE(store.items()[i - 1].value, store.items()[i].value);
    }
  }
}

TEST_F(Script, StoreErrRowsSplitsTheLogIntoRetainedAndErrorFiles) {
  std::string retained, errors;
  long errorCount = 0;
  for (const auto& r : records) {
    bool error = r.fields[7] == "5" || std::count(r.line.begin() + 18, r.line.end(), ';') < 5;
    (error ? errors : retained) += r.line + "\r\n";
    errorCount += error;
  }
  ASSERT_GT(errorCount, 0);
  std::wstring keep = newPath(L"retained.log"), err = newPath(L"errors.log");
  ArgArray args{vstr(keep), vstr(err)};
  EXPECT_EQ(callLong(L"StoreErrRows", args), errorCount);
  EXPECT_EQ(readFile(keep), retained);
  EXPECT_EQ(readFile(err), errors);
  EXPECT_EQ(readFile(logPath), log);
}

TEST_F(Script, ReplaceDateTimesRewritesTheListedRecordsKeys) {
  std::wstring list = newPath(L"list.txt"), out = newPath(L"replaced.log");
  writeFile(list, "20060101;12:00:00;1\r\n20060202;13:14:15;3\r\n");
  ArgArray args{vstr(out), vstr(list)};
  EXPECT_EQ(callLong(L"ЗаменаПериодов", args), 2);
  std::string expected = log;
  expected.replace(records[0].offset, 18, "20060101;12:00:00;");
  expected.replace(records[2].offset, 18, "20060202;13:14:15;");
  EXPECT_EQ(readFile(out), expected);
}

TEST_F(Script, FileMethodsReportFailuresThroughNumErrAndTextErr) {
  period(L"20050101", L"", L"20050131", L"");
  MemoryValueTable store;
  auto table = make<Table>(store);
  table->failNext(L"NewLine", DISP_E_EXCEPTION, static_cast<SCODE>(0x800A0007), 0, L"Таблица переполнена");
  EXPECT_EQ(getData(0, table.get()), -1);  // the call itself succeeds
  EXPECT_EQ(getNumber(L"NumErr"), 7);
  EXPECT_EQ(getText(L"TextErr"), L"Таблица переполнена");

  // The next run clears them.
  EXPECT_GT(getData(0, table.get()), 0);
  EXPECT_EQ(getNumber(L"NumErr"), 0);
  EXPECT_EQ(getText(L"TextErr"), L"");

  set(L"FilePath", vstr(tempPath(L"no such log.log")));
  EXPECT_EQ(getData(0, table.get()), -1);
  EXPECT_EQ(getNumber(L"NumErr"), 0);
}

TEST_F(Script, GetDataWithAnUnusableObjectFailsInsideTheReader) {
  period(L"20050101", L"", L"20050131", L"");
  ArgArray args{vlong(0), vstr(L"не таблица")};
  VARIANT r = call(L"GetData", args);
  EXPECT_EQ(V_I4(&r), -1);
  EXPECT_NE(getNumber(L"NumErr"), 0);
  EXPECT_FALSE(getText(L"TextErr").empty());
}

// ---- how method calls treat their arguments ----------------------------------

TEST_F(Script, NonNumericPositionFailsBeforeTheReaderAndKeepsNumErr) {
  period(L"20050101", L"", L"20050131", L"");
  MemoryValueTable store;
  auto table = make<Table>(store);
  table->failNext(L"ColumnCount", E_FAIL);
  EXPECT_EQ(getData(0, table.get()), -1);
  long before = getNumber(L"NumErr");
  ASSERT_NE(before, 0);
  int columnCalls = table->calls(L"ColumnCount");

  VARIANT keep = vstr(L"прежнее");
  ArgArray args{vstr(L"начало"), vobj(table.get())};
  EXPECT_EQ(addin.ext->CallAsFunc(0, &keep, args.put()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(errorDescription(), L"Несоответствие типа");
  EXPECT_EQ(str(keep), L"прежнее");
  VariantClear(&keep);
  EXPECT_EQ(table->calls(L"ColumnCount"), columnCalls);
  EXPECT_EQ(getNumber(L"NumErr"), before);
  EXPECT_EQ(str(args[0]), L"начало");
}

TEST_F(Script, MissingArgumentsOrOddArraysFailBeforeTheReader) {
  VARIANT keep = vlong(5);
  ArgArray one{vstr(L"20050101")};
  EXPECT_EQ(addin.ext->CallAsFunc(1, &keep, one.put()), DISP_E_BADINDEX);
  EXPECT_EQ(getText(L"DateBegin"), L"");
  EXPECT_EQ(V_I4(&keep), 5);

  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* matrix = SafeArrayCreate(VT_VARIANT, 2, bounds);
  EXPECT_EQ(addin.ext->CallAsProc(3, &matrix), DISP_E_TYPEMISMATCH);
  SafeArrayDestroy(matrix);
  EXPECT_EQ(addin.ext->CallAsProc(3, nullptr), E_POINTER);
}

TEST_F(Script, MethodNumberOutsideTheTableDoesNothing) {
  VARIANT keep = vlong(5);
  ArgArray none(0);
  EXPECT_EQ(addin.ext->CallAsFunc(7, &keep, none.put()), S_OK);
  EXPECT_EQ(addin.ext->CallAsFunc(-1, &keep, none.put()), S_OK);
  EXPECT_EQ(addin.ext->CallAsProc(100, none.put()), S_OK);
  EXPECT_EQ(V_VT(&keep), VT_I4);
  EXPECT_EQ(V_I4(&keep), 5);
}

TEST_F(Script, ArgumentsAreConvertedAndNeverWrittenBack) {
  ArgArray args{vlong(20050101), vnull(), vstr(L"20050102"), vstr(L"")};
  EXPECT_EQ(addin.ext->CallAsProc(1, args.put()), DISP_E_TYPEMISMATCH);  // Null has no text
  V_VT(&args[1]) = VT_EMPTY;  // empty converts to ""
  VARIANT r = call(L"SetDateTimes", args);
  EXPECT_EQ(V_VT(&r), VT_I2);
  EXPECT_EQ(V_I2(&r), 1);
  EXPECT_EQ(V_VT(&args[0]), VT_I4);
  EXPECT_EQ(V_I4(&args[0]), 20050101);
  EXPECT_EQ(getText(L"DateBegin").substr(0, 9), L"20050101;");

  ArgArray bad{vstr(L"2005"), vstr(L""), vstr(L"20050102"), vstr(L"")};
  VARIANT refused = call(L"SetDateTimes", bad);
  EXPECT_EQ(V_VT(&refused), VT_I2);
  EXPECT_EQ(V_I2(&refused), 0);
}

TEST_F(Script, ProcedureCallFillsTheTableAsTheFunctionCallDoes) {
  period(L"20050103", L"", L"20050103", L"23:59:59");
  MemoryValueTable byFunc, byProc;
  auto t1 = make<Table>(byFunc);
  auto t2 = make<Table>(byProc);
  getData(0, t1.get());
  ArgArray args{vlong(0), vobj(t2.get())};
  ASSERT_EQ(addin.ext->CallAsProc(number(L"GetData"), args.put()), S_OK);
  ASSERT_EQ(byProc.rowCount(), byFunc.rowCount());
  ASSERT_GT(byProc.rowCount(), 0);
  for (int row = 1; row <= byProc.rowCount(); row += 50)
    for (int c = 1; c <= 10; ++c) EXPECT_EQ(byProc.text(row, c), byFunc.text(row, c));
}

TEST_F(Script, ArgumentArrayStaysLockedWhileTheReaderUsesTheTable) {
  period(L"20050103", L"", L"20050103", L"23:59:59");
  MemoryValueTable store;
  auto table = make<Table>(store);
  ArgArray args{vlong(0), vobj(table.get())};
  SAFEARRAY* array = *args.put();
  unsigned minLocks = 99;
  table->beforeCall = [&](const std::wstring&) { minLocks = std::min<unsigned>(minLocks, array->cLocks); };
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(addin.ext->CallAsFunc(0, &r, args.put()), S_OK);
  EXPECT_GE(minLocks, 1u);
  EXPECT_EQ(array->cLocks, 0u);
  EXPECT_GT(table->calls(L"SetValue"), 0);
  EXPECT_EQ(table->lookups(L"SetValue"), 1);
}

}  // namespace
