#include "import_hook.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "host_sim.h"

namespace sim {

ImportHook::ImportHook(HMODULE module, const char* library, const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       dir.VirtualAddress && d->Name; ++d) {
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), library) != 0) continue;
    // The names (original thunks) and the addresses the loader filled in
    // (first thunks) run side by side.
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      slot_ = reinterpret_cast<void**>(&slots->u1.Function);
      original_ = *slot_;
      store(replacement);
      return;
    }
  }
  throw std::runtime_error(std::string("the module imports no ") + library + "!" + function);
}

ImportHook::~ImportHook() {
  if (slot_) store(original_);
}

void ImportHook::store(void* target) {
  DWORD old = 0;
  VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
  *slot_ = target;
  VirtualProtect(slot_, sizeof(void*), old, &old);
}

HMODULE addinModule() {
  static HMODULE module = LoadLibraryW(addinPath().c_str());
  if (!module) throw std::runtime_error("cannot load Velmora.dll");
  return module;
}

}  // namespace sim
