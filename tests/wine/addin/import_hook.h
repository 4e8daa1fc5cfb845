// Redirects one import of a loaded module (a function it takes from a system
// library) to a replacement, for as long as the hook lives. Only that
// module's calls are redirected: the tests use it to count or fail the
// add-in's heap allocations and registry writes without touching anyone
// else's.
#pragma once

#include <windows.h>

namespace sim {

class ImportHook {
 public:
  // Throws std::runtime_error when the module does not import the function
  // from that library (names compare without regard to case).
  ImportHook(HMODULE module, const char* library, const char* function, void* replacement);
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;
  ~ImportHook();
  // The function the module called before.
  void* original() const { return original_; }

 private:
  void store(void* target);
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

// The add-in library, loaded once and kept loaded for the whole test
// program, so that hooks on it stay valid.
HMODULE addinModule();

// Calls through void (*)(): the one function-pointer type that casts to any
// other without a -Wcast-function-type report.
template <class F>
F addinExport(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(addinModule(), name)));
}

}  // namespace sim
