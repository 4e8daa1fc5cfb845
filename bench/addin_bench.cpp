// The add-in through COM, as the host drives it (IInitDone, then
// ILanguageExtender: properties, SetDateTimes, SetFilter, GetData into a
// host value table reached by IDispatch, every cell a call by name).
// Prints figures; not a test.
//
//   addin_bench.exe [records-per-day] [days]
//     rows per second into the host simulator's table, on a sample log
//     written here, with TransformStr "0000" and "1111";
//   addin_bench.exe --log PATH [turns]
//     the queries that bench/addin_bench.sh sets beside the native tool, on
//     a log given: a users filter that rejects every record (Latin and
//     Cyrillic), one user into a table that stores rows and into one whose
//     NewLine and SetValue do nothing, the same grouped by user, and the
//     whole log into the do-nothing table. One line each: name, median
//     seconds of GetData, rows, the position returned.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "host_sim.h"
#include "memhost/memory_host.h"
#include "sample/sample.h"

namespace {

using namespace sim;

double seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

void setProperty(ILanguageExtender* ext, const wchar_t* name, const std::wstring& value) {
  velmora::unique_bstr b(velmora::allocBstr(std::u16string(name, name + wcslen(name))));
  long n = -1;
  ext->FindProp(b.get(), &n);
  setProp(ext, n, vstr(value));
}

// A host value table that keeps nothing, answering IDispatch itself (no
// handler tables, no counters): what GetData costs apart from the host.
class NullTable : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // on the stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    static const wchar_t* const kNames[] = {L"ColumnCount", L"LinesCnt", L"DeleteLines", L"DeleteColumn", L"NewColumn",
                                            L"NewLine",     L"SetValue", L"GroupBy",     L"Sort"};
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (int k = 0; k < 9; ++k) {
        if (lstrcmpiW(names[i], kNames[k]) == 0) ids[i] = k + 1;
      }
      if (ids[i] == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    switch (id) {
      case 1:
      case 2:
        if (result) {
          result->vt = VT_I4;
          result->lVal = id == 1 ? columns_ : 0;
        }
        return S_OK;
      case 4: --columns_; return S_OK;
      case 5: ++columns_; return S_OK;
      default: return S_OK;
    }
  }

 private:
  ULONG refs_ = 1;
  long columns_ = 0;
};

constexpr long kGetData = 0, kSetDateTimes = 1, kSetFilter = 2;

struct Query {
  const char* name;
  const wchar_t* users;  // FilterUsers; empty: none
  const wchar_t* groupBy;
  bool stores;           // into the storing table, else the do-nothing one
};

int queries(const std::wstring& path, int turns) {
  AddIn addin = createAddIn();
  auto conn = make<Connection>();
  addin.initDone->Init(conn.get());
  setProperty(addin.ext.get(), L"FilePath", path);
  ArgArray period{vstr(L"20050101"), vstr(L""), vstr(L"20251231"), vstr(L"")};
  VARIANT r;
  VariantInit(&r);
  addin.ext->CallAsFunc(kSetDateTimes, &r, period.put());
  VariantClear(&r);
  long listSize = -1;
  {
    velmora::unique_bstr name(velmora::allocBstr(u"ListStrSize"));
    addin.ext->FindProp(name.get(), &listSize);
  }
  static const Query kQueries[] = {
      {"reject-latin", L"|Nobody|", L"", false},
      {"reject-cyrillic", L"|Никто|", L"", false},
      {"one-user-null", L"|Кладовщик|", L"", false},
      {"one-user-store", L"|Кладовщик|", L"", true},
      {"one-user-grouped", L"|Кладовщик|", L"Пользователь", true},
      {"all-null", L"", L"", false},
  };
  for (const Query& q : kQueries) {
    ArgArray filter{vstr(q.users), vstr(L"FilterUsers")};
    addin.ext->CallAsFunc(kSetFilter, &r, filter.put());
    VariantClear(&r);
    setProperty(addin.ext.get(), L"GroupBy", q.groupBy);
    std::vector<double> times;
    long rows = 0, position = 0;
    const int n = q.users[0] == 0 ? 1 : turns;  // the whole log once: it takes long
    for (int t = 0; t < n; ++t) {
      velmora::MemoryValueTable store;
      NullTable none;
      auto table = make<Table>(store);
      ArgArray args{vlong(0), vobj(q.stores ? static_cast<IDispatch*>(table.get()) : &none)};
      LARGE_INTEGER t0, t1;
      QueryPerformanceCounter(&t0);
      addin.ext->CallAsFunc(kGetData, &r, args.put());
      QueryPerformanceCounter(&t1);
      times.push_back(seconds(t0, t1));
      position = r.vt == VT_I4 ? r.lVal : r.vt == VT_I2 ? r.iVal : -2;
      VariantClear(&r);
      VARIANT listed = getProp(addin.ext.get(), listSize);  // the rows GetData made
      rows = listed.vt == VT_I4 ? listed.lVal : -1;
      VariantClear(&listed);
    }
    std::sort(times.begin(), times.end());
    std::printf("%s\t%.4f\t%ld\t%ld\n", q.name, times[times.size() / 2], rows, position);
    std::fflush(stdout);
  }
  addin.initDone->Done();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--log") {
    CoInitialize(nullptr);
    if (run(L"regsvr32.exe /s \"" + addinPath() + L"\"") != 0) {
      std::fprintf(stderr, "cannot register Velmora.dll\n");
      return 1;
    }
    const std::string p = argv[2];
    const int status = queries(std::wstring(p.begin(), p.end()), argc > 3 ? std::atoi(argv[3]) : 3);
    CoUninitialize();
    return status;
  }
  int perDay = argc > 1 ? std::atoi(argv[1]) : 4000;
  int days = argc > 2 ? std::atoi(argv[2]) : 10;
  CoInitialize(nullptr);
  if (run(L"regsvr32.exe /s \"" + addinPath() + L"\"") != 0) {
    std::fprintf(stderr, "cannot register Velmora.dll\n");
    return 1;
  }
  velmora::SampleOptions options;
  options.perDay = perDay;
  options.days = days;
  velmora::SampleSummary summary;
  std::string log = velmora::sampleLog(options, &summary);
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + L"velmora_bench.log";
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  WriteFile(h, log.data(), static_cast<DWORD>(log.size()), &done, nullptr);
  CloseHandle(h);

  AddIn addin = createAddIn();
  auto conn = make<Connection>();
  addin.initDone->Init(conn.get());
  setProperty(addin.ext.get(), L"FilePath", path);
  ArgArray period{vstr(L"20050101"), vstr(L""), vstr(L"20051231"), vstr(L"23:59:59")};
  VARIANT r;
  VariantInit(&r);
  addin.ext->CallAsFunc(1, &r, period.put());

  std::printf("log: %llu records, %.1f MiB\n", static_cast<unsigned long long>(summary.records),
              log.size() / 1048576.0);
  for (const wchar_t* mask : {L"0000", L"1111"}) {
    setProperty(addin.ext.get(), L"TransformStr", mask);
    double best = 1e30;
    int rows = 0;
    for (int rep = 0; rep < 3; ++rep) {
      velmora::MemoryValueTable store;
      auto table = make<Table>(store);
      ArgArray args{vlong(0), vobj(table.get())};
      LARGE_INTEGER t0, t1;
      QueryPerformanceCounter(&t0);
      addin.ext->CallAsFunc(0, &r, args.put());
      QueryPerformanceCounter(&t1);
      best = std::min(best, seconds(t0, t1));
      rows = store.rowCount();
    }
    std::printf("GetData, TransformStr %ls: %d rows in %.3f s = %.0f rows/s (%.0f cells/s)\n", mask, rows, best,
                rows / best, rows * 10 / best);
  }
  addin.initDone->Done();
  DeleteFileW(path.c_str());
  CoUninitialize();
  return 0;
}
