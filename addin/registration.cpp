#include "addin/registration.h"

#include <string>

#include "Velmora_h.h"
#include "addin/module.h"

namespace velmora {

namespace {

// One registry value: key below the Classes root, value name (empty for the
// default value) and data. $C, $L, $I, $P, $D and $A stand for the class
// id, library id, interface id, the library's path, its folder and the
// platform subkey.
struct Entry {
  const wchar_t* key;
  const wchar_t* name;
  const wchar_t* data;
};

constexpr Entry kEntries[] = {
    {L"CLSID\\$C", L"", L"Velmora"},
    {L"CLSID\\$C\\InprocServer32", L"", L"$P"},
    {L"CLSID\\$C\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {L"CLSID\\$C\\ProgID", L"", L"AddIn.Velmora"},
    {L"CLSID\\$C\\TypeLib", L"", L"$L"},
    {L"CLSID\\$C\\Version", L"", L"1.0"},
    {L"AddIn.Velmora", L"", L"Velmora"},
    {L"AddIn.Velmora\\CLSID", L"", L"$C"},
    {L"TypeLib\\$L\\1.0", L"", L"AddIn"},
    {L"TypeLib\\$L\\1.0\\0\\$A", L"", L"$P"},
    {L"TypeLib\\$L\\1.0\\FLAGS", L"", L"0"},
    {L"TypeLib\\$L\\1.0\\HELPDIR", L"", L"$D"},
    {L"Interface\\$I", L"", L"_Velmora"},
    // Calls across apartments go through the type library marshaller.
    {L"Interface\\$I\\ProxyStubClsid", L"", L"{00020424-0000-0000-C000-000000000046}"},
    {L"Interface\\$I\\ProxyStubClsid32", L"", L"{00020424-0000-0000-C000-000000000046}"},
    {L"Interface\\$I\\TypeLib", L"", L"$L"},
    {L"Interface\\$I\\TypeLib", L"Version", L"1.0"},
};

// The trees that registration creates and unregistration removes.
constexpr const wchar_t* kOwnedKeys[] = {L"CLSID\\$C", L"AddIn.Velmora", L"TypeLib\\$L", L"Interface\\$I"};

struct Substitutions {
  std::wstring clsid, libid, iid, path, dir;
};

std::wstring guidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring expand(const wchar_t* pattern, const Substitutions& s) {
  std::wstring out;
  for (const wchar_t* p = pattern; *p; ++p) {
    if (*p != L'$' || !p[1]) {
      out.push_back(*p);
      continue;
    }
    switch (*++p) {
      case L'C': out += s.clsid; break;
      case L'L': out += s.libid; break;
      case L'I': out += s.iid; break;
      case L'P': out += s.path; break;
      case L'D': out += s.dir; break;
      case L'A': out += sizeof(void*) == 8 ? L"win64" : L"win32"; break;
      default: out.push_back(*p);
    }
  }
  return out;
}

HRESULT substitutions(Substitutions& s) {
  wchar_t path[MAX_PATH];
  HRESULT hr = modulePath(path);
  if (FAILED(hr)) return hr;
  s.clsid = guidText(CLSID_Velmora);
  s.libid = guidText(LIBID_AddIn);
  s.iid = guidText(IID__Velmora);
  s.path = path;
  s.dir = s.path.substr(0, s.path.find_last_of(L"\\/") + 1);
  return S_OK;
}

class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  HKEY* put() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

LSTATUS openClassesRoot(RegistrationScope scope, Key& root) {
  HKEY base = scope == RegistrationScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  return RegCreateKeyExW(base, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.put(), nullptr);
}

}  // namespace

HRESULT registerServer(RegistrationScope scope) {
  Substitutions s;
  HRESULT hr = substitutions(s);
  if (FAILED(hr)) return hr;
  Key root;
  LSTATUS rc = openClassesRoot(scope, root);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  for (const Entry& e : kEntries) {
    Key key;
    rc = RegCreateKeyExW(root.get(), expand(e.key, s).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                         nullptr);
    if (rc == ERROR_SUCCESS) {
      std::wstring data = expand(e.data, s);
      rc = RegSetValueExW(key.get(), *e.name ? e.name : nullptr, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    if (rc != ERROR_SUCCESS) {
      // Leave nothing half-written behind.
      unregisterServer(scope);
      return HRESULT_FROM_WIN32(rc);
    }
  }
  return S_OK;
}

HRESULT unregisterServer(RegistrationScope scope) {
  Substitutions s;
  HRESULT hr = substitutions(s);
  if (FAILED(hr)) return hr;
  Key root;
  LSTATUS rc = openClassesRoot(scope, root);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  HRESULT result = S_OK;
  for (const wchar_t* owned : kOwnedKeys) {
    rc = RegDeleteTreeW(root.get(), expand(owned, s).c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && SUCCEEDED(result)) result = HRESULT_FROM_WIN32(rc);
  }
  return result;
}

}  // namespace velmora
