// Host objects that fail: the value table, the value list and the connection
// object fail their k-th call, for every k over a whole GetData (grouped,
// sorted, some columns), GetUsers, Init and Done, once as a script error
// and once as a bare status; then the library's own heap fails its k-th
// allocation during the same calls. Each time the method ends in its
// documented way, the log is no longer open, nothing is left on the
// library's heap, and the next call on the same object succeeds.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "addin_heap.h"
#include "host_sim.h"

namespace {

using namespace sim;
using velmora::MemoryValueList;
using velmora::MemoryValueTable;

// A host failure as the script engine reports it, and as a bare status.
struct Kind {
  const char* name;
  HRESULT hr;
  SCODE scode;
  const wchar_t* text;
  long numErr;  // what NumErr shows for it
};
const Kind kKinds[] = {
    {"script error", DISP_E_EXCEPTION, static_cast<SCODE>(0x800A03ECu), L"Объект недоступен", 1004},
    {"bare status", RPC_E_DISCONNECTED, 0, L"", 440},
};

std::wstring propText(ILanguageExtender* ext, long n) {
  VARIANT v = getProp(ext, n);
  std::wstring s = variantText(v);
  VariantClear(&v);
  return s;
}

class HostFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string log;
    const char* users[] = {"Petrov", "Ivanov", "Sidorov"};
    for (int k = 0; k < 40; ++k) {
      char line[160];
      std::snprintf(line, sizeof line, "20050110;10:%02d:%02d;%s;E;Docs;DocWrite;1;rem %d;O%d;pres\r\n", k / 60, k % 60,
                    users[k % 3], k, k);
      log += line;
    }
    logPath = dir.path(L"events.log");
    writeBytes(logPath, log);
    start();
  }

  void start() {
    addin = createAddIn();
    conn = make<Connection>();
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
    ASSERT_EQ(setProp(addin.ext.get(), 0, vstr(logPath)), S_OK);
    ArgArray period{vstr(L"20050101"), vstr(L""), vstr(L"20051231"), vstr(L"")};
    ASSERT_EQ(callFunc(addin.ext.get(), 1, period).value, L"I2 1");
    ASSERT_EQ(setProp(addin.ext.get(), 6, vstr(L"1110000011")), S_OK);
    ASSERT_EQ(setProp(addin.ext.get(), 7, vstr(L"1111")), S_OK);
    ASSERT_EQ(setProp(addin.ext.get(), 8, vstr(L"Пользователь")), S_OK);
    ASSERT_EQ(setProp(addin.ext.get(), 9, vstr(L"Пользователь")), S_OK);
  }

  struct Run {
    CallResult call;
    std::vector<std::wstring> rows;
    int hostCalls = 0;
    std::wstring failedMember;
  };
  // GetData from the start into a fresh table whose call `fail` (0: none)
  // fails the way `kind` says.
  Run getData(int fail, const Kind& kind) {
    MemoryValueTable store;
    auto table = make<Table>(store);
    Run run;
    if (fail) table->failCall(fail, kind.hr, kind.scode, 0, kind.text);
    table->beforeNumberedCall = [&](const std::wstring& name, int n) {
      if (n == fail) run.failedMember = name;
    };
    ArgArray args{vlong(0), vobj(table.get())};
    run.call = callFunc(addin.ext.get(), 0, args);
    run.rows = contents(store);
    run.hostCalls = table->totalCalls();
    return run;
  }
  Run getUsers(int fail, const Kind& kind) {
    MemoryValueList store;
    auto list = make<List>(store);
    Run run;
    if (fail) list->failCall(fail, kind.hr, kind.scode, 0, kind.text);
    list->beforeNumberedCall = [&](const std::wstring& name, int n) {
      if (n == fail) run.failedMember = name;
    };
    ArgArray args{vlong(0), vobj(list.get())};
    run.call = callFunc(addin.ext.get(), 4, args);
    run.rows = contents(store);
    run.hostCalls = list->totalCalls();
    return run;
  }

  // The documented end of a file method whose host object failed: the call
  // succeeds with -1, NumErr and TextErr tell the host's error.
  void expectReported(const Run& run, const Kind& kind) {
    EXPECT_EQ(run.call.describe(), L"00000000 I4 -1");
    EXPECT_EQ(propText(addin.ext.get(), 5), L"I2 " + std::to_wstring(kind.numErr));
    const std::wstring text = propText(addin.ext.get(), 10);
    if (*kind.text) {
      EXPECT_EQ(text, std::wstring(L"BSTR ") + kind.text);
    } else {
      EXPECT_NE(text.find(run.failedMember), std::wstring::npos) << "the failing member is named";
    }
  }

  TempDir dir{L"faults"};
  std::wstring logPath;
  AddIn addin;
  com_ptr<Connection> conn;
  static int injected;
};

int HostFaults::injected = 0;

TEST_F(HostFaults, ValueTableFailsAtEveryCallOfGetData) {
  // The probe for an open log: a handle open anywhere makes it fail.
  HANDLE open = CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(noOtherHandle(logPath));
  CloseHandle(open);
  ASSERT_TRUE(noOtherHandle(logPath));

  const Run want = getData(0, kKinds[0]);
  ASSERT_EQ(want.call.value.substr(0, 3), L"I4 ");
  ASSERT_GT(want.hostCalls, 250);
  for (const Kind& kind : kKinds) {
    for (int k = 1; k <= want.hostCalls; ++k) {
      SCOPED_TRACE(std::string(kind.name) + " at table call " + std::to_string(k));
      const Run got = getData(k, kind);
      ++injected;
      expectReported(got, kind);
      EXPECT_TRUE(noOtherHandle(logPath)) << "the log is still open";
      const Run again = getData(0, kind);
      ASSERT_EQ(again.call.describe(), want.call.describe());
      ASSERT_EQ(again.rows, want.rows);
      EXPECT_EQ(propText(addin.ext.get(), 5), L"I2 0");
    }
  }
}

TEST_F(HostFaults, ValueListFailsAtEveryCallOfGetUsers) {
  const Run want = getUsers(0, kKinds[0]);
  ASSERT_EQ(want.rows.size(), 3u);
  for (const Kind& kind : kKinds) {
    for (int k = 1; k <= want.hostCalls; ++k) {
      SCOPED_TRACE(std::string(kind.name) + " at list call " + std::to_string(k));
      const Run got = getUsers(k, kind);
      ++injected;
      expectReported(got, kind);
      EXPECT_TRUE(noOtherHandle(logPath)) << "the log is still open";
      const Run again = getUsers(0, kind);
      ASSERT_EQ(again.call.describe(), want.call.describe());
      ASSERT_EQ(again.rows, want.rows);
    }
  }
}

TEST_F(HostFaults, ConnectionFailsAtEveryCallOfInitAndDone) {
  for (const Kind& kind : kKinds) {
    const HRESULT status = kind.hr == DISP_E_EXCEPTION ? kind.scode : kind.hr;
    // RegisterProfileAs: Init fails before there is a reader.
    addin = createAddIn();
    conn = make<Connection>();
    conn->failCall(1, kind.hr, kind.scode, 0, kind.text);
    EXPECT_EQ(addin.initDone->Init(conn.get()), status);
    EXPECT_FALSE(errorDescription().empty());
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(addin.ext->GetPropVal(0, &v), E_UNEXPECTED);
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK) << "the next Init";
    EXPECT_EQ(propText(addin.ext.get(), 0), L"BSTR 0");

    // Read: a warning through AddError, and Init goes on.
    addin = createAddIn();
    conn = make<Connection>();
    conn->failCall(2, kind.hr, kind.scode, 0, kind.text);
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
    EXPECT_EQ(conn->calls(L"AddError"), 1);
    EXPECT_EQ(propText(addin.ext.get(), 0), L"BSTR 0");

    // Read and then AddError: Init fails where AddError failed.
    addin = createAddIn();
    conn = make<Connection>();
    conn->failNext(L"Read", kind.hr, kind.scode, 0, kind.text);
    conn->failCall(3, kind.hr, kind.scode, 0, kind.text);
    EXPECT_EQ(addin.initDone->Init(conn.get()), status);
    EXPECT_EQ(addin.ext->GetPropVal(0, &v), E_UNEXPECTED);
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK) << "the next Init";

    // Write: Done fails and keeps the reader and the connection; the next
    // Done succeeds.
    ASSERT_EQ(setProp(addin.ext.get(), 0, vstr(logPath)), S_OK);
    conn->failNext(L"Write", kind.hr, kind.scode, 0, kind.text);
    EXPECT_EQ(addin.initDone->Done(), status);
    EXPECT_EQ(propText(addin.ext.get(), 0), L"BSTR " + logPath);
    EXPECT_GT(conn->refs(), 1u);
    ASSERT_EQ(addin.initDone->Done(), S_OK);
    EXPECT_EQ(conn->refs(), 1u);
    EXPECT_TRUE(noOtherHandle(logPath));
    injected += 4;
  }
}

// The library's own allocations fail one at a time during GetData and Init.
// A call ends in its documented way: GetData with -1 and NumErr 7, or (for
// an allocation before the reader is reached) a failure status with error
// information; Init with a failure status. Nothing is left on the heap.
TEST_F(HostFaults, EveryAllocationOfGetDataAndInitFailsCleanly) {
  const Run want = getData(0, kKinds[0]);
  AddinHeapWatch heap;
  // A first failure sets up the runtime's exception state for the thread,
  // which stays. So does the room of the reader's error text, once a
  // failure inside the reader has filled it: one block more at most.
  heap.failAllocation(1);
  getData(0, kKinds[0]);
  heap.failAllocation(0);
  ASSERT_EQ(getData(0, kKinds[0]).rows, want.rows);
  const std::int64_t steady = heap.figures().liveBlocks + 1;
  int k = 1;
  for (;; ++k) {
    SCOPED_TRACE("GetData, allocation " + std::to_string(k));
    heap.failAllocation(k);
    const Run got = getData(0, kKinds[0]);
    const bool refused = heap.failed();
    heap.failAllocation(0);
    EXPECT_TRUE(noOtherHandle(logPath)) << "the log is still open";
    if (!refused) {
      EXPECT_EQ(got.call.describe(), want.call.describe());
      EXPECT_EQ(got.rows, want.rows);
      break;
    }
    ++injected;
    if (SUCCEEDED(got.call.hr)) {
      EXPECT_EQ(got.call.value, L"I4 -1");
      EXPECT_EQ(propText(addin.ext.get(), 5), L"I2 7");
      EXPECT_EQ(propText(addin.ext.get(), 10), L"BSTR Недостаточно памяти");
    } else {
      EXPECT_EQ(got.call.hr, E_OUTOFMEMORY);
      EXPECT_EQ(errorDescription(), L"Недостаточно памяти");
    }
    ASSERT_EQ(getData(0, kKinds[0]).rows, want.rows) << "the next call";
    EXPECT_LE(heap.figures().liveBlocks, steady) << "heap blocks left behind";
    ASSERT_LT(k, 5000);
  }
  EXPECT_GT(k, 3) << "GetData allocates";

  for (k = 1;; ++k) {
    SCOPED_TRACE("Init, allocation " + std::to_string(k));
    const std::int64_t before = heap.figures().liveBlocks;
    {
      AddIn fresh = createAddIn();
      auto c = make<Connection>();
      heap.failAllocation(k);
      const HRESULT hr = fresh.initDone->Init(c.get());
      const bool refused = heap.failed();
      heap.failAllocation(0);
      if (!refused) {
        EXPECT_EQ(hr, S_OK);
        break;
      }
      ++injected;
      EXPECT_EQ(hr, E_OUTOFMEMORY);
      EXPECT_EQ(errorDescription(), L"Недостаточно памяти");
      ASSERT_EQ(fresh.initDone->Init(c.get()), S_OK) << "the next Init";
      ASSERT_EQ(fresh.initDone->Done(), S_OK);
    }
    EXPECT_EQ(heap.figures().liveBlocks, before) << "heap blocks left behind once the object is gone";
    ASSERT_LT(k, 1000);
  }
  EXPECT_GT(k, 1) << "Init allocates";
  std::printf("figures: %d host and allocation faults injected\n", injected);
}

}  // namespace
