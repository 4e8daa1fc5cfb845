#include "host_sim.h"

#include <stdexcept>

namespace sim {

namespace {

VARTYPE innerType(const VARIANTARG* a) {
  return V_VT(a) == (VT_VARIANT | VT_BYREF) ? V_VT(V_VARIANTREF(a)) : V_VT(a);
}

std::u16string u16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

// ---- connection ------------------------------------------------------------

Connection::Connection() {
  VariantInit(&stored);
  VariantInit(&written);
  define(L"RegisterProfileAs", [this](const Args& a, VARIANT*, EXCEPINFO*) {
    if (a.size() != 1) return DISP_E_BADPARAMCOUNT;
    profile = argString(a[0]);
    return S_OK;
  });
  define(L"Read", [this](const Args& a, VARIANT*, EXCEPINFO*) {
    if (a.size() != 2) return DISP_E_BADPARAMCOUNT;
    readNames.push_back(argString(a[0]));
    readArgType = V_VT(a[1]);
    readValueType = innerType(a[1]);
    if (V_VT(&stored) != VT_EMPTY && V_VT(a[1]) == (VT_VARIANT | VT_BYREF))
      VariantCopy(V_VARIANTREF(a[1]), &stored);
    return S_OK;
  });
  define(L"Write", [this](const Args& a, VARIANT*, EXCEPINFO*) {
    if (a.size() != 2) return DISP_E_BADPARAMCOUNT;
    writeNames.push_back(argString(a[0]));
    writeArgType = V_VT(a[1]);
    VariantCopyInd(&written, a[1]);
    return S_OK;
  });
  define(L"AddError", [this](const Args& a, VARIANT*, EXCEPINFO*) {
    if (a.size() != 4) return DISP_E_BADPARAMCOUNT;
    Error e{{V_VT(a[0]), V_VT(a[1]), V_VT(a[2]), V_VT(a[3])}, argLong(a[0]), argLong(a[3]), argString(a[1]),
            argString(a[2])};
    errors.push_back(e);
    return S_OK;
  });
}

Connection::~Connection() {
  VariantClear(&stored);
  VariantClear(&written);
}

// ---- value table -----------------------------------------------------------

Table::Table(velmora::ValueTable& target) : target_(target) {
  // The host reports a failing operation as an automation exception.
  auto guard = [](auto&& body, EXCEPINFO* excep) -> HRESULT {
    try {
      body();
      return S_OK;
    } catch (const velmora::HostError& e) {
      const auto& d = e.description();
      return excepFail(excep, e.number(), std::wstring(d.begin(), d.end()));
    }
  };
  define(L"ColumnCount", [this](const Args&, VARIANT* r, EXCEPINFO*) {
    if (r) velmora::setLong(r, target_.ColumnCount());
    return S_OK;
  });
  define(L"LinesCnt", [this](const Args&, VARIANT* r, EXCEPINFO*) {
    if (r) velmora::setLong(r, target_.LinesCnt());
    return S_OK;
  });
  define(L"DeleteLines", [this, guard](const Args&, VARIANT*, EXCEPINFO* excep) {
    return guard([&] { target_.DeleteLines(); }, excep);
  });
  define(L"DeleteColumn", [this, guard](const Args& a, VARIANT*, EXCEPINFO* excep) {
    if (a.size() != 1) return DISP_E_BADPARAMCOUNT;
    return guard([&] { target_.DeleteColumn(argLong(a[0])); }, excep);
  });
  define(L"NewColumn", [this, guard](const Args& a, VARIANT*, EXCEPINFO* excep) {
    if (a.size() < 2 || a.size() > 3) return DISP_E_BADPARAMCOUNT;
    std::optional<std::int16_t> length;
    if (a.size() == 3) length = static_cast<std::int16_t>(argLong(a[2]));
    return guard([&] { target_.NewColumn(u16(argString(a[0])), u16(argString(a[1])), length); }, excep);
  });
  define(L"NewLine", [this, guard](const Args&, VARIANT*, EXCEPINFO* excep) {
    return guard([&] { target_.NewLine(); }, excep);
  });
  define(L"SetValue", [this, guard](const Args& a, VARIANT*, EXCEPINFO* excep) {
    if (a.size() != 3) return DISP_E_BADPARAMCOUNT;
    for (int i = 0; i < 3; ++i) setValueTypes[i] = V_VT(a[i]);
    long row = argLong(a[0]);
    if ((V_VT(a[1]) & VT_TYPEMASK) == VT_BSTR)
      return guard([&] {
        target_.SetValue(row, u16(argString(a[1])), static_cast<std::int16_t>(argLong(a[2])));
      }, excep);
    return guard([&] {
      target_.SetValue(row, static_cast<std::int16_t>(argLong(a[1])), u16(argString(a[2])));
    }, excep);
  });
  define(L"GroupBy", [this, guard](const Args& a, VARIANT*, EXCEPINFO* excep) {
    if (a.size() != 2) return DISP_E_BADPARAMCOUNT;
    groupByTypes[0] = V_VT(a[0]);
    groupByTypes[1] = V_VT(a[1]);
    lastGroupBy = argString(a[0]);
    lastGroupSum = argString(a[1]);
    return guard([&] { target_.GroupBy(u16(lastGroupBy), u16(lastGroupSum)); }, excep);
  });
  define(L"Sort", [this, guard](const Args& a, VARIANT*, EXCEPINFO* excep) {
    if (a.size() != 1) return DISP_E_BADPARAMCOUNT;
    sortType = V_VT(a[0]);
    lastSort = argString(a[0]);
    return guard([&] { target_.Sort(u16(lastSort)); }, excep);
  });
}

// ---- value list ------------------------------------------------------------

List::List(velmora::ValueList& target) : target_(target) {
  define(L"RemoveAll", [this](const Args&, VARIANT*, EXCEPINFO*) {
    target_.RemoveAll();
    return S_OK;
  });
  define(L"AddValue", [this](const Args& a, VARIANT*, EXCEPINFO*) {
    if (a.size() != 2) return DISP_E_BADPARAMCOUNT;
    addValueTypes[0] = V_VT(a[0]);
    addValueTypes[1] = V_VT(a[1]);
    target_.AddValue(u16(argString(a[0])), u16(argString(a[1])));
    return S_OK;
  });
  define(L"GetListSize", [this](const Args&, VARIANT* r, EXCEPINFO*) {
    if (r) velmora::setLong(r, target_.GetListSize());
    return S_OK;
  });
  define(L"Sort", [this](const Args&, VARIANT*, EXCEPINFO*) {
    target_.Sort();
    return S_OK;
  });
}

// ---- arguments -------------------------------------------------------------

ArgArray::ArgArray(long count) : array_(SafeArrayCreateVector(VT_VARIANT, 0, count)) {
  if (!array_) throw std::bad_alloc();
}

ArgArray::ArgArray(std::initializer_list<VARIANT> values) : ArgArray(static_cast<long>(values.size())) {
  long i = 0;
  for (const VARIANT& v : values) (*this)[i++] = v;  // moves: the element was empty
}

ArgArray::~ArgArray() {
  if (array_) SafeArrayDestroy(array_);
}

VARIANT& ArgArray::operator[](long i) {
  void* p = nullptr;
  if (FAILED(SafeArrayPtrOfIndex(array_, &i, &p))) throw std::out_of_range("ArgArray");
  return *static_cast<VARIANT*>(p);
}

VARIANT vstr(const std::wstring& s) {
  VARIANT v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}
VARIANT vlong(long n) {
  VARIANT v;
  V_VT(&v) = VT_I4;
  V_I4(&v) = n;
  return v;
}
VARIANT vshort(short n) {
  VARIANT v;
  V_VT(&v) = VT_I2;
  V_I2(&v) = n;
  return v;
}
VARIANT vobj(IDispatch* d) {
  VARIANT v;
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = d;
  if (d) d->AddRef();
  return v;
}
VARIANT vnull() {
  VARIANT v;
  V_VT(&v) = VT_NULL;
  return v;
}
VARIANT vbool(bool b) {
  VARIANT v;
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

std::wstring str(const VARIANT& v) {
  if (V_VT(&v) != VT_BSTR) return L"<vt " + std::to_wstring(V_VT(&v)) + L">";
  return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
}

// ---- the add-in --------------------------------------------------------------

AddIn createAddIn() {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"AddIn.Velmora", &clsid))) throw std::runtime_error("AddIn.Velmora not registered");
  AddIn a;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, velmora::IID_IInitDone, a.initDone.put_void());
  if (FAILED(hr)) throw std::runtime_error("cannot create AddIn.Velmora");
  a.ext = a.initDone.query<ILanguageExtender>(velmora::IID_ILanguageExtender);
  a.disp = a.initDone.query<IDispatch>(IID_IDispatch);
  if (!a.ext || !a.disp) throw std::runtime_error("AddIn.Velmora lacks an interface");
  return a;
}

std::wstring errorDescription() {
  com_ptr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return L"";
  BSTR d = nullptr;
  info->GetDescription(&d);
  std::wstring s = d ? std::wstring(d, SysStringLen(d)) : L"";
  SysFreeString(d);
  return s;
}

VARIANT getProp(ILanguageExtender* ext, long n) {
  VARIANT v;
  VariantInit(&v);
  ext->GetPropVal(n, &v);
  return v;
}

HRESULT setProp(ILanguageExtender* ext, long n, VARIANT v) {
  HRESULT hr = ext->SetPropVal(n, &v);
  VariantClear(&v);
  return hr;
}

// ---- files -------------------------------------------------------------------

TempDir::TempDir(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  dir_ = std::wstring(temp) + L"velmora_" + name + L"_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir_.c_str(), nullptr);
}

TempDir::~TempDir() {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((dir_ + L"\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(path(found.cFileName).c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
  RemoveDirectoryW(dir_.c_str());
}

void writeBytes(const std::wstring& path, const std::string& bytes, bool append) {
  HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write a test file");
  DWORD done = 0;
  BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(h);
  if (!ok || done != bytes.size()) throw std::runtime_error("cannot write a test file");
}

std::string readBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out(GetFileSize(h, nullptr), '\0');
  DWORD done = 0;
  ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &done, nullptr);
  CloseHandle(h);
  out.resize(done);
  return out;
}

bool noOtherHandle(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

std::vector<std::wstring> contents(const velmora::MemoryValueTable& table) {
  std::vector<std::wstring> out;
  std::wstring names;
  for (const auto& c : table.columns()) names += std::wstring(c.name.begin(), c.name.end()) + L"\t";
  out.push_back(names);
  for (int row = 1; row <= table.rowCount(); ++row) {
    std::wstring line;
    for (int col = 1; col <= static_cast<int>(table.columns().size()); ++col) {
      velmora::U16View cell = table.text(row, col);
      line += std::wstring(cell.begin(), cell.end()) + L"\t";
    }
    out.push_back(line);
  }
  return out;
}

std::vector<std::wstring> contents(const velmora::MemoryValueList& list) {
  std::vector<std::wstring> out;
  for (const auto& item : list.items())
    out.push_back(std::wstring(item.value.begin(), item.value.end()) + L"\t" +
                  std::wstring(item.presentation.begin(), item.presentation.end()));
  return out;
}

// ---- calls -------------------------------------------------------------------

std::wstring variantText(const VARIANT& v) {
  switch (V_VT(&v)) {
    case VT_I4: return L"I4 " + std::to_wstring(V_I4(&v));
    case VT_I2: return L"I2 " + std::to_wstring(V_I2(&v));
    case VT_BSTR: return L"BSTR " + str(v);
    case VT_NULL: return L"Null";
    case VT_EMPTY: return L"Empty";
    default: return L"vt " + std::to_wstring(V_VT(&v));
  }
}

std::wstring CallResult::describe() const {
  wchar_t status[16];
  wsprintfW(status, L"%08lX ", static_cast<unsigned long>(hr));
  return status + value;
}

CallResult callFunc(ILanguageExtender* ext, long method, ArgArray& args) {
  VARIANT r;
  VariantInit(&r);
  CallResult out;
  out.hr = ext->CallAsFunc(method, &r, args.put());
  out.value = SUCCEEDED(out.hr) ? variantText(r) : L"-";
  VariantClear(&r);
  return out;
}

// ---- processes ---------------------------------------------------------------

DWORD run(const std::wstring& commandLine) {
  std::wstring line = commandLine;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xFFFFFFFF;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

std::wstring addinPath() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1) + L"Velmora.dll";
}

}  // namespace sim
