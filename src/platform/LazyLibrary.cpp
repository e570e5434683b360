#include "platform/LazyLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "platform/PlatformError.h"

namespace zor {

namespace {

std::mutex& LoadLock() {
  static std::mutex lock;
  return lock;
}

// The folder of the running program, or empty.
std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : program.parent_path();
}

// Loads ALibrary and what it needs; the caller holds LoadLock.
void LoadLocked(TLazyLibrary& ALibrary) {
  if (ALibrary.Handle) return;
  if (ALibrary.Needs) LoadLocked(*ALibrary.Needs);
  // A copy beside the program is preferred to the system's.
  const std::filesystem::path folder = ProgramFolder();
  void* handle = nullptr;
  if (!folder.empty()) {
    const std::filesystem::path beside = folder / ALibrary.SoName;
    std::error_code error;
    if (std::filesystem::exists(beside, error)) handle = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (!handle) handle = ::dlopen(ALibrary.SoName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* text = ::dlerror();
    throw EPlatformError(std::string("cannot load ") + ALibrary.SoName + ": " + (text ? text : "unknown error"));
  }
  ALibrary.Handle = handle;
}

}  // namespace

void LoadLazyLibrary(TLazyLibrary& ALibrary) {
  const std::lock_guard<std::mutex> guard(LoadLock());
  LoadLocked(ALibrary);
}

bool IsLazyLibraryLoaded(const TLazyLibrary& ALibrary) {
  const std::lock_guard<std::mutex> guard(LoadLock());
  return ALibrary.Handle != nullptr;
}

}  // namespace zor

extern "C" void* zor_lazy_resolve(zor::TLazyLibrary* ALibrary, uint64_t AIndex) {
  const std::lock_guard<std::mutex> guard(zor::LoadLock());
  const char* name = ALibrary->Names + ALibrary->NameOffsets[AIndex];
  try {
    zor::LoadLocked(*ALibrary);
  } catch (const std::exception& e) {
    // A stub has no way to report an error to its caller.
    std::fprintf(stderr, "%s (needed for %s)\n", e.what(), name);
    std::abort();
  }
  void* function = ::dlsym(ALibrary->Handle, name);
  if (!function) {
    std::fprintf(stderr, "%s has no function %s\n", ALibrary->SoName, name);
    std::abort();
  }
  // Other threads read the entry without the lock (in the stubs): publish it whole.
  std::atomic_ref<void*>(ALibrary->Table[AIndex]).store(function, std::memory_order_release);
  return function;
}
