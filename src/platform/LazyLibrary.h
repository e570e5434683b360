#pragma once

#include <cstdint>

namespace zor {

// A shared library that is loaded on the first call of one of its functions,
// not at program start (the TLS library: most runs of the program never open a
// TLS connection, and loading it is a good part of a short run's time).
//
// The build makes, for such a library, a static library of stubs named like
// its functions (cmake/lazy-stubs.sh): each stub jumps through its entry of
// Table; while the entry is empty it calls zor_lazy_resolve, which loads the
// library (first the one it Needs), finds the function and fills the entry.
// The library file is looked for in the program's folder first, then where
// the system's loader looks.
//
// The layout is shared with the generated assembly: keep it in step.
// Threads: any thread may call any stub; loading happens once, under a lock.
struct TLazyLibrary {
  const char* SoName;
  uint64_t Count;                // functions
  const int32_t* NameOffsets;    // Count offsets into Names
  const char* Names;             // the functions' names, each ending in a zero byte
  void** Table;                  // Count entries, empty until found
  TLazyLibrary* Needs;           // loaded first, or null
  void* Handle;                  // the loaded library, or null
};

// Loads ALibrary (and what it needs) if it is not loaded yet. Throws
// EPlatformError when it cannot be loaded. Lets a caller fail with a clear
// error before its first call of the library, where a stub can only end the
// program.
void LoadLazyLibrary(TLazyLibrary& ALibrary);

// Whether ALibrary was loaded.
[[nodiscard]] bool IsLazyLibraryLoaded(const TLazyLibrary& ALibrary);

}  // namespace zor

// Called by the stubs: the address of function AIndex of ALibrary, loading the
// library first when needed. Ends the program with a message on standard
// error when the library or the function cannot be found.
extern "C" void* zor_lazy_resolve(zor::TLazyLibrary* ALibrary, uint64_t AIndex);
