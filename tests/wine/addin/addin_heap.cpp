#include "addin_heap.h"

#include <malloc.h>

#include "import_hook.h"

namespace sim {

namespace {

using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using Free = void(__cdecl*)(void*);

// One watch at a time, one thread: the add-in is apartment-threaded.
HeapFigures g_figures;
std::int64_t g_failIn = 0;  // allocations until the armed failure; 0: none
bool g_failed = false;
Malloc g_malloc = nullptr;
Calloc g_calloc = nullptr;
Realloc g_realloc = nullptr;
Free g_free = nullptr;

bool refuse() {
  if (g_failIn == 0 || --g_failIn != 0) return false;
  g_failed = true;
  ++g_figures.refused;
  return true;
}

void counted(void* p) {
  if (!p) return;
  ++g_figures.liveBlocks;
  ++g_figures.allocations;
  g_figures.liveBytes += static_cast<std::int64_t>(_msize(p));
}

void uncounted(void* p) {
  if (!p) return;
  --g_figures.liveBlocks;
  g_figures.liveBytes -= static_cast<std::int64_t>(_msize(p));
}

void* __cdecl watchedMalloc(size_t n) {
  if (refuse()) return nullptr;
  void* p = g_malloc(n);
  counted(p);
  return p;
}

void* __cdecl watchedCalloc(size_t n, size_t size) {
  if (refuse()) return nullptr;
  void* p = g_calloc(n, size);
  counted(p);
  return p;
}

void* __cdecl watchedRealloc(void* old, size_t n) {
  if (n != 0 && refuse()) return nullptr;  // the old block stays, as realloc leaves it
  const std::int64_t oldBytes = old ? static_cast<std::int64_t>(_msize(old)) : 0;
  void* p = g_realloc(old, n);
  if (old && (p || n == 0)) {
    --g_figures.liveBlocks;
    g_figures.liveBytes -= oldBytes;
  }
  counted(p);
  return p;
}

void __cdecl watchedFree(void* p) {
  uncounted(p);
  g_free(p);
}

}  // namespace

struct AddinHeapWatch::Hooks {
  HMODULE module = addinModule();
  ImportHook m{module, "msvcrt.dll", "malloc", reinterpret_cast<void*>(&watchedMalloc)};
  ImportHook c{module, "msvcrt.dll", "calloc", reinterpret_cast<void*>(&watchedCalloc)};
  ImportHook r{module, "msvcrt.dll", "realloc", reinterpret_cast<void*>(&watchedRealloc)};
  ImportHook f{module, "msvcrt.dll", "free", reinterpret_cast<void*>(&watchedFree)};
};

AddinHeapWatch::AddinHeapWatch() {
  g_figures = {};
  g_failIn = 0;
  g_failed = false;
  hooks_ = std::make_unique<Hooks>();
  g_malloc = reinterpret_cast<Malloc>(hooks_->m.original());
  g_calloc = reinterpret_cast<Calloc>(hooks_->c.original());
  g_realloc = reinterpret_cast<Realloc>(hooks_->r.original());
  g_free = reinterpret_cast<Free>(hooks_->f.original());
}

AddinHeapWatch::~AddinHeapWatch() { g_failIn = 0; }

HeapFigures AddinHeapWatch::figures() const { return g_figures; }

void AddinHeapWatch::failAllocation(std::int64_t n) {
  g_failIn = n > 0 ? n : 0;
  g_failed = false;
}

bool AddinHeapWatch::failed() const { return g_failed; }

}  // namespace sim
