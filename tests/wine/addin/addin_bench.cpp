// Rows per second that GetData writes into the host simulator's value table
// through the COM boundary (CallAsFunc, calls by name per cell), with and
// without translation. Prints figures; not a test.
//   addin_bench.exe [records-per-day] [days]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

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
  velmora::unique_bstr b(std::u16string(name, name + wcslen(name)));
  long n = -1;
  ext->FindProp(b.get(), &n);
  setProp(ext, n, vstr(value));
}

}  // namespace

int main(int argc, char** argv) {
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
