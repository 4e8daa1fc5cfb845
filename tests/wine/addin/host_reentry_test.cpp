// A host that calls back into the add-in while one of its methods runs, as an
// apartment-threaded host that pumps messages does: at the k-th call of a
// value table, value list or connection object, every method, property
// write, Init, Done and the connection member of the running object are
// called, and the same calls go to a second object. The running object
// refuses what would change or use its reader, answers reads, and finishes
// its call as an undisturbed run does; the second object behaves as if alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host_sim.h"
#include "import_hook.h"
#include "sample/sample.h"

namespace {

using namespace sim;
using velmora::MemoryValueList;
using velmora::MemoryValueTable;

const std::wstring kBusy = L"Компонента занята выполнением другого вызова";

struct Nested {
  const wchar_t* name;
  bool changes;  // false: a read, which may be answered while a call runs
  std::function<CallResult()> run;
};

std::wstring propText(ILanguageExtender* ext, long n) {
  VARIANT v = getProp(ext, n);
  std::wstring s = variantText(v);
  VariantClear(&v);
  return s;
}

// One add-in object with the files and host objects its calls use.
struct Side {
  Side(TempDir& dir, const std::wstring& tag, const std::string& log) : dir(dir), tag(tag) {
    logPath = dir.path(tag + L".log");
    writeBytes(logPath, log);
    writeBytes(dir.path(tag + L"_list.txt"), "20070707;07:07:07;2\r\n");
  }

  // A fresh object with the settings of the tests.
  void start() {
    addin = createAddIn();
    conn = make<Connection>();
    other = make<Connection>();
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
    ASSERT_EQ(setProp(addin.ext.get(), 0, vstr(logPath)), S_OK);
    ArgArray period{vstr(L"20050101"), vstr(L""), vstr(L"20051231"), vstr(L"")};
    ASSERT_EQ(callFunc(addin.ext.get(), 1, period).value, L"I2 1");
  }
  com_ptr<_Velmora> velmora() { return addin.disp.query<_Velmora>(IID__Velmora); }

  // Every call a host might make while a method runs, in an order that lets
  // each of them do real work on an object of its own: methods first, then
  // property writes, then the connection and the lifecycle.
  std::vector<Nested> calls() {
    ILanguageExtender* ext = addin.ext.get();
    auto method = [ext](long m, std::function<void(ArgArray&)> fill, long count) {
      return [ext, m, fill, count] {
        ArgArray args(count);
        fill(args);
        return callFunc(ext, m, args);
      };
    };
    auto write = [ext](long n, std::function<VARIANT()> value) {
      return [ext, n, value] { return CallResult{setProp(ext, n, value()), L""}; };
    };
    auto status = [](HRESULT hr) { return CallResult{hr, L""}; };
    return {
        {L"GetData", true,
         [this] {
           MemoryValueTable store;
           auto table = make<Table>(store);
           ArgArray args{vlong(0), vobj(table.get())};
           CallResult r = callFunc(addin.ext.get(), 0, args);
           r.value += L" rows " + std::to_wstring(store.rowCount());
           return r;
         }},
        {L"GetData as a procedure", true,
         [this] {
           MemoryValueTable store;
           auto table = make<Table>(store);
           ArgArray args{vlong(1), vobj(table.get())};
           CallResult r{addin.ext->CallAsProc(0, args.put()), L""};
           r.value = L"rows " + std::to_wstring(store.rowCount());
           return r;
         }},
        {L"GetUsers", true,
         [this] {
           MemoryValueList store;
           auto list = make<List>(store);
           ArgArray args{vlong(0), vobj(list.get())};
           CallResult r = callFunc(addin.ext.get(), 4, args);
           r.value += L" users " + std::to_wstring(store.items().size());
           return r;
         }},
        {L"StoreErrRows", true, method(5, [this](ArgArray& a) {
           a[0] = vstr(dir.path(tag + L"_kept.log"));
           a[1] = vstr(dir.path(tag + L"_errors.log"));
         }, 2)},
        {L"ReplaceDateTimes", true, method(6, [this](ArgArray& a) {
           a[0] = vstr(dir.path(tag + L"_replaced.log"));
           a[1] = vstr(dir.path(tag + L"_list.txt"));
         }, 2)},
        {L"SetDateTimes", true, method(1, [](ArgArray& a) {
           a[0] = vstr(L"20050102");
           a[1] = vstr(L"");
           a[2] = vstr(L"20050103");
           a[3] = vstr(L"");
         }, 4)},
        {L"SetFilter", true, method(2, [](ArgArray& a) {
           a[0] = vstr(L"|а|б|");
           a[1] = vstr(L"FilterUsers");
         }, 2)},
        {L"GetFilter", true, method(3, [](ArgArray& a) { a[0] = vstr(L"FilterUsers"); }, 1)},
        {L"FilePath write", true, write(0, [this] { return vstr(dir.path(L"elsewhere.log")); })},
        {L"InsertColumn write", true, write(6, [] { return vstr(L"101"); })},
        {L"TransformStr write", true, write(7, [] { return vstr(L"0000"); })},
        {L"GroupBy write", true, write(8, [] { return vstr(L"Пользователь"); })},
        {L"OrderBy write", true, write(9, [] { return vstr(L"Дата"); })},
        {L"InvertFilters write", true, write(11, [] { return vstr(L"1"); })},
        {L"CoincidenceObject write", true, write(12, [] { return vlong(1); })},
        {L"boolIsEnabled write", true, [this, status] { return status(velmora()->put_boolIsEnabled(VARIANT_TRUE)); }},
        {L"LoadProperties", true,
         [this, status] {
           VARIANT_BOOL ok = 0;
           return status(velmora()->LoadProperties(&ok));
         }},
        {L"SaveProperties", true, [this, status] { return status(velmora()->SaveProperties()); }},
        {L"ConnectionObject set", true,
         [this, status] { return status(velmora()->putref_ConnectionObject(other.get())); }},
        {L"ConnectionObject cleared", true,
         [this, status] { return status(velmora()->putref_ConnectionObject(nullptr)); }},
        {L"Done through IDispatch", true,
         [this, status] {
           DISPPARAMS none{nullptr, nullptr, 0, 0};
           return status(addin.disp->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
         }},
        {L"Init", true, [this, status] { return status(addin.initDone->Init(other.get())); }},
        {L"Done", true, [this, status] { return status(addin.initDone->Done()); }},
        {L"Init again", true, [this, status] { return status(addin.initDone->Init(conn.get())); }},
        // Reads.
        {L"property reads", false,
         [ext] {
           CallResult r{S_OK, L""};
           for (long n = 0; n <= 12; ++n) {
             VARIANT v;
             VariantInit(&v);
             HRESULT hr = ext->GetPropVal(n, &v);
             VariantClear(&v);
             if (FAILED(hr)) r.hr = hr;
           }
           return r;
         }},
        {L"descriptions", false,
         [ext] {
           long count = 0;
           HRESULT hr = ext->GetNProps(&count);
           long n = 0;
           if (SUCCEEDED(hr)) hr = ext->GetNParams(1, &n);
           return CallResult{hr, std::to_wstring(count) + L" " + std::to_wstring(n)};
         }},
    };
  }

  TempDir& dir;
  std::wstring tag, logPath;
  AddIn addin;
  com_ptr<Connection> conn, other;
};

class Reentry : public ::testing::Test {
 protected:
  void SetUp() override {
    velmora::SampleOptions a;
    a.days = 4;
    a.perDay = 250;
    a.seed = 11;
    velmora::SampleOptions b;
    b.days = 3;
    b.perDay = 120;
    b.seed = 12;
    b.startDate = 20050301;
    first = std::make_unique<Side>(dir, L"first", velmora::sampleLog(a));
    second = std::make_unique<Side>(dir, L"second", velmora::sampleLog(b));
    // What every call of the second object gives when it runs alone.
    second->start();
    for (auto& call : second->calls()) alone.push_back(call.run().describe());
    second->addin = AddIn{};
  }

  struct Outcome {
    CallResult call;
    std::vector<std::wstring> rows;
    std::wstring listStrSize, numErr, textErr;
    int hostCalls = 0;
  };

  // GetData of the first object into a fresh table, from position `from`;
  // at host call k (0: never) the callback runs.
  Outcome getData(long from, int k, const std::function<void()>& callback) {
    MemoryValueTable store;
    auto table = make<Table>(store);
    table->beforeNumberedCall = [&](const std::wstring&, int n) {
      if (n == k) callback();
    };
    ArgArray args{vlong(from), vobj(table.get())};
    Outcome out;
    out.call = callFunc(first->addin.ext.get(), 0, args);
    out.rows = contents(store);
    out.hostCalls = table->totalCalls();
    readBack(out);
    return out;
  }
  Outcome getUsers(int k, const std::function<void()>& callback) {
    MemoryValueList store;
    auto list = make<List>(store);
    list->beforeNumberedCall = [&](const std::wstring&, int n) {
      if (n == k) callback();
    };
    ArgArray args{vlong(0), vobj(list.get())};
    Outcome out;
    out.call = callFunc(first->addin.ext.get(), 4, args);
    out.rows = contents(store);
    out.hostCalls = list->totalCalls();
    readBack(out);
    return out;
  }
  void readBack(Outcome& out) {
    out.listStrSize = propText(first->addin.ext.get(), 2);
    out.numErr = propText(first->addin.ext.get(), 5);
    out.textErr = propText(first->addin.ext.get(), 10);
  }
  static void expectSame(const Outcome& got, const Outcome& want, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(got.call.describe(), want.call.describe());
    EXPECT_EQ(got.listStrSize, want.listStrSize);
    EXPECT_EQ(got.numErr, want.numErr);
    EXPECT_EQ(got.textErr, want.textErr);
    ASSERT_EQ(got.rows.size(), want.rows.size());
    for (std::size_t i = 0; i < got.rows.size(); ++i) ASSERT_EQ(got.rows[i], want.rows[i]) << "row " << i;
  }

  // The callback: every call into the running object, then every call into
  // the second one.
  std::function<void()> everything(const std::wstring& where, bool readerExists = true) {
    return [this, where, readerExists] {
      for (auto& call : first->calls()) {
        SCOPED_TRACE(std::wstring(call.name) + L" into the running object, " + where);
        SetErrorInfo(0, nullptr);
        CallResult r = call.run();
        ++refused;
        if (call.changes) {
          EXPECT_TRUE(FAILED(r.hr)) << std::hex << r.hr;
          EXPECT_EQ(errorDescription(), kBusy);
        } else if (readerExists) {
          EXPECT_EQ(r.hr, S_OK);
        }
      }
      second->start();
      auto calls = second->calls();
      for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(std::wstring(calls[i].name) + L" into the second object, " + where);
        EXPECT_EQ(calls[i].run().describe(), alone[i]);
        ++intoSecond;
      }
      second->addin = AddIn{};
    };
  }
  // The first object still works: a plain GetData gives what it gave before.
  void expectStillWorks(const Outcome& plain) {
    ASSERT_EQ(setProp(first->addin.ext.get(), 7, vstr(L"0000")), S_OK);
    ASSERT_EQ(setProp(first->addin.ext.get(), 8, vstr(L"")), S_OK);
    ASSERT_EQ(setProp(first->addin.ext.get(), 9, vstr(L"")), S_OK);
    ASSERT_EQ(setProp(first->addin.ext.get(), 6, vstr(L"")), S_OK);
    expectSame(getData(1, 0, {}), plain, "the next call");
  }
  // The sampled call numbers: the first calls, the table's columns, the
  // first rows, the middle, the end.
  static std::vector<int> points(int total) {
    std::vector<int> k = {1, 2, 3, 12, 13, 14, total / 3, total / 2, total - 1, total};
    return k;
  }

  static void TearDownTestSuite() {
    std::printf("figures: %d nested calls into the running object, %d into a second object\n", refused, intoSecond);
  }

  TempDir dir{L"reentry"};
  std::unique_ptr<Side> first, second;
  std::vector<std::wstring> alone;
  static int refused, intoSecond;
};

int Reentry::refused = 0;
int Reentry::intoSecond = 0;

TEST_F(Reentry, EveryCallDuringGetDataIsRefusedAndTheRunIsUndisturbed) {
  first->start();
  const Outcome plain = getData(1, 0, {});
  // Several read windows, every row written by name.
  ASSERT_GT(first->logPath.size(), 0u);
  ASSERT_GT(plain.rows.size(), 900u);
  ASSERT_EQ(plain.numErr, L"I2 0");
  struct Setting {
    const wchar_t* name;
    long from;
    std::vector<std::pair<long, const wchar_t*>> props;
  } settings[] = {
      {L"resumed, translated", 1, {{7, L"1111"}}},
      {L"from the start search, grouped and sorted, some columns",
       0,
       {{6, L"1010010000"}, {8, L"Пользователь"}, {9, L"Пользователь"}}},
  };
  for (const Setting& s : settings) {
    first->start();
    for (auto [n, v] : s.props) ASSERT_EQ(setProp(first->addin.ext.get(), n, vstr(v)), S_OK);
    const Outcome want = getData(s.from, 0, {});
    for (int k : points(want.hostCalls)) {
      const std::wstring where = std::wstring(s.name) + L", host call " + std::to_wstring(k);
      first->start();
      for (auto [n, v] : s.props) ASSERT_EQ(setProp(first->addin.ext.get(), n, vstr(v)), S_OK);
      const Outcome got = getData(s.from, k, everything(where));
      expectSame(got, want, std::string(where.begin(), where.end()));
      EXPECT_EQ(errorDescription(), L"") << "the outer call succeeded";
      expectStillWorks(plain);
    }
  }
}

TEST_F(Reentry, EachNestedCallAloneLeavesGetDataIntact) {
  first->start();
  const Outcome want = getData(1, 0, {});
  const std::size_t count = first->calls().size();
  for (std::size_t i = 0; i < count; ++i) {
    first->start();
    auto calls = first->calls();
    const Nested& call = calls[i];
    HRESULT nested = S_FALSE;
    const Outcome got = getData(1, want.hostCalls / 2, [&] { nested = call.run().hr; });
    expectSame(got, want, std::string("nested ") + std::to_string(i));
    if (call.changes) {
      EXPECT_TRUE(FAILED(nested)) << std::hex << nested;
    } else {
      EXPECT_EQ(nested, S_OK);
    }
    expectStillWorks(want);
  }
}

TEST_F(Reentry, EveryCallDuringGetUsersIsRefused) {
  first->start();
  const Outcome want = getUsers(0, {});
  ASSERT_GT(want.rows.size(), 3u);
  for (int k : {1, 2, 3, want.hostCalls - 1, want.hostCalls}) {
    const std::wstring where = L"GetUsers, host call " + std::to_wstring(k);
    first->start();
    expectSame(getUsers(k, everything(where)), want, std::string(where.begin(), where.end()));
  }
}

TEST_F(Reentry, EveryCallDuringInitIsRefusedAndInitCompletes) {
  // Read hands back a value with no boolean form, so that AddError is called
  // too: RegisterProfileAs, Read, AddError are host calls 1, 2, 3.
  for (int k = 1; k <= 3; ++k) {
    const std::wstring where = L"Init, connection call " + std::to_wstring(k);
    first->addin = createAddIn();
    first->conn = make<Connection>();
    first->other = make<Connection>();
    first->conn->stored = vstr(L"не булево");
    first->conn->beforeNumberedCall = [&, cb = everything(where, false)](const std::wstring&, int n) {
      if (n == k) cb();
    };
    ASSERT_EQ(first->addin.initDone->Init(first->conn.get()), S_OK) << k;
    first->conn->beforeNumberedCall = nullptr;
    EXPECT_EQ(first->conn->calls(L"AddError"), 1);
    EXPECT_EQ(first->conn->calls(L"Write"), 0) << "a nested Done ran";
    EXPECT_EQ(propText(first->addin.ext.get(), 0), L"BSTR 0") << "the reader is the one Init made";
    IDispatch* held = nullptr;
    ASSERT_EQ(first->velmora()->get_ConnectionObject(&held), S_OK);
    EXPECT_EQ(held, static_cast<IDispatch*>(first->conn.get()));
    if (held) held->Release();
    EXPECT_EQ(first->other->refs(), 1u) << "the other connection is held";
  }
}

TEST_F(Reentry, EveryCallDuringDoneAndTheSettingCallsIsRefused) {
  first->start();
  first->conn->beforeNumberedCall = [&, cb = everything(L"Done")](const std::wstring& name, int) {
    if (name == L"Write") cb();
  };
  ASSERT_EQ(first->addin.initDone->Done(), S_OK);
  EXPECT_EQ(first->conn->calls(L"Write"), 1) << "Done ran once, not again from inside Write";
  EXPECT_EQ(first->conn->refs(), 1u);
  EXPECT_EQ(first->addin.ext->GetPropVal(0, nullptr), E_POINTER);
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(first->addin.ext->GetPropVal(0, &v), E_UNEXPECTED) << "the reader is gone";

  first->start();
  first->conn->beforeNumberedCall = [&, cb = everything(L"LoadProperties")](const std::wstring& name, int) {
    if (name == L"Read") cb();
  };
  V_VT(&first->conn->stored) = VT_BOOL;
  V_BOOL(&first->conn->stored) = VARIANT_TRUE;
  VARIANT_BOOL ok = 0;
  ASSERT_EQ(first->velmora()->LoadProperties(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  first->conn->beforeNumberedCall = [&, cb = everything(L"SaveProperties")](const std::wstring& name, int) {
    if (name == L"Write") cb();
  };
  ASSERT_EQ(first->velmora()->SaveProperties(), S_OK);
  EXPECT_EQ(V_BOOL(&first->conn->written), VARIANT_TRUE);
  first->conn->beforeNumberedCall = nullptr;
  EXPECT_EQ(propText(first->addin.ext.get(), 0), L"BSTR " + first->logPath);
}

TEST_F(Reentry, HostDroppingItsLastReferenceDuringACallLetsTheCallFinish) {
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  const auto canUnload = addinExport<CanUnload>("DllCanUnloadNow");
  ASSERT_TRUE(canUnload);
  first->start();
  const Outcome want = getData(1, 0, {});
  first->start();
  first->conn = nullptr;  // the object alone holds its connection now
  com_ptr<ILanguageExtender> ext = first->addin.ext;
  ILanguageExtender* raw = ext.get();
  ext = nullptr;
  HRESULT whileRunning = E_FAIL;
  MemoryValueTable store;
  auto table = make<Table>(store);
  table->beforeNumberedCall = [&](const std::wstring&, int n) {
    if (n != want.hostCalls / 2) return;
    first->addin = AddIn{};  // the host's last reference
    whileRunning = canUnload();
  };
  ArgArray args{vlong(1), vobj(table.get())};
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(raw->CallAsFunc(0, &r, args.put()), S_OK);
  EXPECT_EQ(whileRunning, S_FALSE) << "the object was destroyed under its own call";
  EXPECT_EQ(variantText(r), want.call.value);
  EXPECT_EQ(contents(store), want.rows);
  EXPECT_EQ(canUnload(), S_OK) << "the object is gone once its call has returned";
}

TEST_F(Reentry, HostDroppingItsLastReferenceInsideACallThroughIDispatch) {
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  const auto canUnload = addinExport<CanUnload>("DllCanUnloadNow");
  first->start();
  com_ptr<IDispatch> disp = first->addin.disp;
  IDispatch* raw = disp.get();
  disp = nullptr;
  HRESULT whileRunning = E_FAIL;
  first->conn->beforeCall = [&](const std::wstring& name) {
    if (name != L"Write") return;
    first->addin = AddIn{};  // the host's last reference
    whileRunning = canUnload();
  };
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  // SaveProperties, through the type library's Invoke.
  EXPECT_EQ(raw->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
  first->conn->beforeCall = nullptr;
  EXPECT_EQ(whileRunning, S_FALSE) << "the object was destroyed under its own call";
  EXPECT_EQ(first->conn->calls(L"Write"), 1);
  EXPECT_EQ(canUnload(), S_OK) << "the object is gone once its call has returned";
}

}  // namespace
