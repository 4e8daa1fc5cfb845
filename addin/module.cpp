// The in-process server's entry points: class factory, unload check and
// (un)registration, machine-wide or for the current user alone.
#include <windows.h>

#include <atomic>

#include "Velmora_h.h"
#include "addin/module.h"
#include "addin/registration.h"
#include "addin/velmora.h"

namespace velmora {

namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};  // server locks and class factory references

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static; holding it keeps the library loaded.
  ULONG STDMETHODCALLTYPE AddRef() override {
    lockModule();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    unlockModule();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return Velmora::create(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? lockModule() : unlockModule();
    return S_OK;
  }
};

ClassFactory g_factory;

}  // namespace

HRESULT modulePath(wchar_t (&path)[MAX_PATH]) {
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
  if (n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  return S_OK;
}

void lockModule() { ++g_locks; }

void unlockModule() {
  long n = g_locks.load();
  while (n > 0 && !g_locks.compare_exchange_weak(n, n - 1)) {
  }
}

ModuleObject::ModuleObject() { ++g_objects; }
ModuleObject::~ModuleObject() { --g_objects; }

}  // namespace velmora

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    velmora::g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_Velmora) return CLASS_E_CLASSNOTAVAILABLE;
  return velmora::g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return velmora::g_objects == 0 && velmora::g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return velmora::registerServer(velmora::RegistrationScope::Machine); }

STDAPI DllUnregisterServer() { return velmora::unregisterServer(velmora::RegistrationScope::Machine); }

// regsvr32 /i:user (with /n) registers for the current user alone, which
// needs no administrator rights.
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine) {
  velmora::RegistrationScope scope = velmora::RegistrationScope::Machine;
  if (cmdLine && *cmdLine) {
    if (CompareStringOrdinal(cmdLine, -1, L"user", -1, TRUE) == CSTR_EQUAL)
      scope = velmora::RegistrationScope::User;
    else if (CompareStringOrdinal(cmdLine, -1, L"machine", -1, TRUE) != CSTR_EQUAL)
      return E_INVALIDARG;
  }
  return install ? velmora::registerServer(scope) : velmora::unregisterServer(scope);
}

}  // extern "C"
