#include "addin/registration.h"

#include <cstdint>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "Velmora_h.h"
#include "addin/module.h"
#include "core/unique_resource.h"

namespace velmora {

namespace {

// Whose a value is when unregistering: the class's (another copy of the
// library may have registered the class since), this platform's entry of
// the type library, or what the platforms' registrations of version 1.0
// share (the version's name and flags, the interface), which stays while
// another platform's entry remains.
enum class Part : std::uint8_t { Class, Platform, Shared };

// One registry value: key below the Classes root, value name (empty for the
// default value) and data. $C, $L, $I, $P, $D and $A stand for the class
// id, library id, interface id, the library's path, its folder and the
// platform subkey.
struct Entry {
  const wchar_t* key;
  const wchar_t* name;
  const wchar_t* data;
  Part part;
};

constexpr Entry kEntries[] = {
    {L"CLSID\\$C", L"", L"Velmora", Part::Class},
    {L"CLSID\\$C\\InprocServer32", L"", L"$P", Part::Class},
    {L"CLSID\\$C\\InprocServer32", L"ThreadingModel", L"Apartment", Part::Class},
    {L"CLSID\\$C\\ProgID", L"", L"AddIn.Velmora", Part::Class},
    {L"CLSID\\$C\\TypeLib", L"", L"$L", Part::Class},
    {L"CLSID\\$C\\Version", L"", L"1.0", Part::Class},
    {L"AddIn.Velmora", L"", L"Velmora", Part::Class},
    {L"AddIn.Velmora\\CLSID", L"", L"$C", Part::Class},
    {L"TypeLib\\$L\\1.0", L"", L"AddIn", Part::Shared},
    {L"TypeLib\\$L\\1.0\\0\\$A", L"", L"$P", Part::Platform},
    {L"TypeLib\\$L\\1.0\\FLAGS", L"", L"0", Part::Shared},
    {L"TypeLib\\$L\\1.0\\HELPDIR", L"", L"$D", Part::Shared},
    {L"Interface\\$I", L"", L"_Velmora", Part::Shared},
    // Calls across apartments go through the type library marshaller.
    {L"Interface\\$I\\ProxyStubClsid", L"", L"{00020424-0000-0000-C000-000000000046}", Part::Shared},
    {L"Interface\\$I\\ProxyStubClsid32", L"", L"{00020424-0000-0000-C000-000000000046}", Part::Shared},
    {L"Interface\\$I\\TypeLib", L"", L"$L", Part::Shared},
    {L"Interface\\$I\\TypeLib", L"Version", L"1.0", Part::Shared},
};

constexpr const wchar_t* kServerKey = L"CLSID\\$C\\InprocServer32";  // whose the class is
constexpr const wchar_t* kPlatformsKey = L"TypeLib\\$L\\1.0\\0";     // the platforms' entries

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

void closeKey(HKEY key) noexcept { RegCloseKey(key); }
using Key = UniqueResource<HKEY, closeKey>;

// A value as it is (or was) in the registry.
struct StoredValue {
  bool exists = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// One entry with every string it needs made in advance, so that the phase
// that changes the registry allocates nothing and an allocation failure
// can only come before the first change.
struct Planned {
  std::wstring key, name, data;
  Part part;
  // The key and every key above it, top first (for "CLSID\{c}\ProgID":
  // "CLSID", "CLSID\{c}", "CLSID\{c}\ProgID"); `owned` is the index of the
  // topmost one that registration owns ("CLSID\{c}"): keys above it are
  // shared containers.
  std::vector<std::wstring> levels;
  std::size_t owned = 1;
  StoredValue before;  // for taking a failed registration back
};

struct Plan {
  std::vector<Planned> entries;
  std::wstring server, serverKey, platformsKey;
};

// Throws std::bad_alloc.
HRESULT makePlan(Plan& plan) {
  wchar_t path[MAX_PATH];
  HRESULT hr = modulePath(path);
  if (FAILED(hr)) return hr;
  Substitutions s;
  s.clsid = guidText(CLSID_Velmora);
  s.libid = guidText(LIBID_AddIn);
  s.iid = guidText(IID__Velmora);
  s.path = path;
  s.dir = s.path.substr(0, s.path.find_last_of(L"\\/") + 1);
  plan.server = s.path;
  plan.serverKey = expand(kServerKey, s);
  plan.platformsKey = expand(kPlatformsKey, s);
  plan.entries.reserve(std::size(kEntries));
  for (const Entry& e : kEntries) {
    Planned p{expand(e.key, s), e.name, expand(e.data, s), e.part, {}, 1, {}};
    for (std::size_t at = p.key.find(L'\\'); at != std::wstring::npos; at = p.key.find(L'\\', at + 1))
      p.levels.push_back(p.key.substr(0, at));
    p.levels.push_back(p.key);
    // The ProgID's tree is owned from its top; the others below a container.
    p.owned = p.key.rfind(L"AddIn.Velmora", 0) == 0 ? 0 : 1;
    plan.entries.push_back(std::move(p));
  }
  return S_OK;
}

HKEY baseOf(RegistrationScope scope) {
  return scope == RegistrationScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

StoredValue readValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  StoredValue v;
  Key k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return v;
  v.data.resize(size);
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &v.type, v.data.data(), &size) != ERROR_SUCCESS) return {};
  v.data.resize(size);
  v.exists = true;
  return v;
}

// True when the value holds the text given, compared without regard to
// case (paths are case-insensitive); read into a fixed buffer, so that
// unregistration allocates nothing once it has begun.
bool holds(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& text) {
  Key k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS) return false;
  wchar_t buffer[2 * MAX_PATH];
  DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  int length = static_cast<int>(size / sizeof(wchar_t));
  while (length > 0 && buffer[length - 1] == L'\0') --length;
  return CompareStringOrdinal(buffer, length, text.c_str(), static_cast<int>(text.size()), TRUE) == CSTR_EQUAL;
}

bool exists(HKEY root, const std::wstring& key, const std::wstring& name) {
  Key k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS) return false;
  return RegQueryValueExW(k.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool hasSubkeys(HKEY root, const std::wstring& key) {
  Key k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0;
  return RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys > 0;
}

// Deletes a key that holds neither values nor subkeys; false when the key
// is there and holds something.
bool deleteIfEmpty(HKEY root, const std::wstring& key) {
  {
    Key k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return true;  // already gone
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys > 0 || values > 0)
      return false;
  }
  return RegDeleteKeyW(root, key.c_str()) == ERROR_SUCCESS;
}

LSTATUS setValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const BYTE* data,
                 DWORD size) {
  Key k;
  LSTATUS rc = RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, k.put());
  if (rc == ERROR_SUCCESS) rc = RegSetValueExW(k.get(), name.empty() ? nullptr : name.c_str(), 0, type, data, size);
  return rc;
}

void deleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  Key k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, k.put()) == ERROR_SUCCESS)
    RegDeleteValueW(k.get(), name.empty() ? nullptr : name.c_str());
}

// What one registration changed, newest last, so that a failure can take
// exactly that back. Room for every change is made before the first.
class Changes {
 public:
  explicit Changes(const Plan& plan) {
    std::size_t n = 0;
    for (const Planned& p : plan.entries) n += p.levels.size() + 1;
    done_.reserve(n);
  }
  void createdKey(const std::wstring& key) { done_.push_back({&key, nullptr}); }
  void wroteValue(const Planned& value) { done_.push_back({nullptr, &value}); }
  void undo(HKEY root) noexcept {
    for (auto it = done_.rbegin(); it != done_.rend(); ++it) {
      if (it->key) {
        RegDeleteKeyW(root, it->key->c_str());
      } else if (const Planned& p = *it->value; p.before.exists) {
        setValue(root, p.key, p.name, p.before.type, p.before.data.data(), static_cast<DWORD>(p.before.data.size()));
      } else {
        deleteValue(root, p.key, p.name);
      }
    }
    done_.clear();
  }

 private:
  struct Change {
    const std::wstring* key;   // a key created
    const Planned* value;      // or a value written
  };
  std::vector<Change> done_;
};

// Creates the key level by level, noting each level that did not exist.
LSTATUS createKey(HKEY root, const Planned& p, Changes& changes) {
  for (const std::wstring& level : p.levels) {
    Key k;
    DWORD disposition = 0;
    LSTATUS rc = RegCreateKeyExW(root, level.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(), &disposition);
    if (rc != ERROR_SUCCESS) return rc;
    if (disposition == REG_CREATED_NEW_KEY) changes.createdKey(level);
  }
  return ERROR_SUCCESS;
}

// Deletes the entry's keys that are left empty, from the entry's own key up
// to the first key registration owns.
void pruneKeys(HKEY root, const Planned& p) {
  for (std::size_t i = p.levels.size(); i-- > p.owned;)
    if (!deleteIfEmpty(root, p.levels[i])) break;
}

}  // namespace

HRESULT registerServer(RegistrationScope scope) noexcept {
  try {
    Plan plan;
    HRESULT hr = makePlan(plan);
    if (FAILED(hr)) return hr;
    Key root;
    LSTATUS rc = RegCreateKeyExW(baseOf(scope), L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 root.put(), nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    for (Planned& p : plan.entries) p.before = readValue(root.get(), p.key, p.name);
    Changes changes(plan);
    for (const Planned& p : plan.entries) {
      rc = createKey(root.get(), p, changes);
      if (rc == ERROR_SUCCESS) {
        rc = setValue(root.get(), p.key, p.name, REG_SZ, reinterpret_cast<const BYTE*>(p.data.c_str()),
                      static_cast<DWORD>((p.data.size() + 1) * sizeof(wchar_t)));
        if (rc == ERROR_SUCCESS) changes.wroteValue(p);
      }
      if (rc != ERROR_SUCCESS) {
        // Take back what this registration did, and only that: a
        // registration that was there before stays as it was.
        changes.undo(root.get());
        return HRESULT_FROM_WIN32(rc);
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;  // before the first change
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT unregisterServer(RegistrationScope scope) noexcept {
  try {
    Plan plan;
    HRESULT hr = makePlan(plan);
    if (FAILED(hr)) return hr;
    Key root;
    LSTATUS rc = RegOpenKeyExW(baseOf(scope), L"Software\\Classes", 0, KEY_ALL_ACCESS, root.put());
    if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    HKEY r = root.get();
    // From here on nothing allocates.
    const bool classIsOurs = !exists(r, plan.serverKey, L"") || holds(r, plan.serverKey, L"", plan.server);
    auto remove = [&](Part part) {
      for (auto it = plan.entries.rbegin(); it != plan.entries.rend(); ++it)
        if (it->part == part && holds(r, it->key, it->name, it->data)) deleteValue(r, it->key, it->name);
      for (auto it = plan.entries.rbegin(); it != plan.entries.rend(); ++it)
        if (it->part == part) pruneKeys(r, *it);
    };
    if (classIsOurs) remove(Part::Class);
    remove(Part::Platform);
    if (!hasSubkeys(r, plan.platformsKey)) remove(Part::Shared);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;  // before the first change
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace velmora
