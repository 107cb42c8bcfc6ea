// How the Windows build reaches the renderer's mi_phen_eval. The renderer
// does not export it for import: it hands the library its own module handle
// through miSetModuleHandle, and the function is looked up by name at the
// first connected parameter and kept in a table of found entry points.
//
// The handle and the table are process-wide and written without a lock.
// They are atomics so that render threads which find the slot empty
// together, and each look the function up and store it, do not race.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "renderer.h"
#include "strataMix.h"

namespace {

// Any function address; cast to the slot's own type before a call.
using EntryPoint = void (*)();
using PhenEvalFn = void* (*)(mi_state*, void*);

constexpr int kEntryPointSlots = 512;
constexpr int kPhenEvalSlot = 101;
constexpr char kPhenEvalName[] = "mi_phen_eval";

// Both zero when the library is loaded (static storage).
std::atomic<HMODULE> g_module;
std::atomic<EntryPoint> g_entry_points[kEntryPointSlots];

// Relaxed is enough for the handle: miSetModuleHandle must not run while
// shader calls evaluate connected parameters, so the renderer's own
// synchronisation already orders the store before every lookup.
HMODULE module_handle() { return g_module.load(std::memory_order_relaxed); }

// Looks mi_phen_eval up through the handle, stores the result (address or
// null) in its slot, and reports a failure on standard error. A null result
// leaves the slot empty, so the next connected parameter looks again.
EntryPoint find_phen_eval() {
  const HMODULE module = module_handle();
  if (module == nullptr) {
    std::fprintf(stderr, "DYNLOAD: dl_handle null\n");
  }
  const auto found = reinterpret_cast<EntryPoint>(GetProcAddress(module, kPhenEvalName));
  // Taken at once, before anything else can change the thread's last error.
  const DWORD error = found == nullptr ? GetLastError() : 0;
  // Release: GetProcAddress may load and initialise the module a forwarded
  // export points into; a thread that acquires the address from the slot and
  // calls it must see that module's initialisation too.
  g_entry_points[kPhenEvalSlot].store(found, std::memory_order_release);
  if (found == nullptr) {
    std::fprintf(stderr, "dlsym failed on \"%s\" (handle: %08x error: %d)\n", kPhenEvalName,
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(module)),
                 static_cast<int>(error));
  }
  return found;
}

}  // namespace

// The renderer's module, where mi_phen_eval is found. Every cached entry
// point belonged to the previous handle, so all slots are emptied. The
// emptying carries no data to publish, so relaxed stores do.
extern "C" STRATAMIX_API void miSetModuleHandle(void* module) {
  g_module.store(static_cast<HMODULE>(module), std::memory_order_relaxed);
  for (std::atomic<EntryPoint>& slot : g_entry_points) {
    slot.store(nullptr, std::memory_order_relaxed);
  }
}

// The shader body calls mi_phen_eval by this name; in this build it is the
// library's own, not exported, and forwards to the renderer's once found.
extern "C" void* mi_phen_eval(mi_state* state, void* parameter) {
  // Acquire pairs with the release in find_phen_eval; on x86 both are plain
  // moves, so the found function costs one load and one indirect call.
  EntryPoint fn = g_entry_points[kPhenEvalSlot].load(std::memory_order_acquire);
  if (fn == nullptr) {
    fn = find_phen_eval();
  }
  if (fn == nullptr) {
    // Nothing to call: the parameter is read in place, as if not connected.
    return parameter;
  }
  return reinterpret_cast<PhenEvalFn>(fn)(state, parameter);
}

// Load, unload and thread notifications: nothing to do, always success.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
