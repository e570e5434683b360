#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zor {

// Replaces a file's whole content so that a crash or a power loss at any
// moment leaves either the old content or the new one, never a torn file:
// the text goes to a temporary file beside it ("<name>.tmp"), which is
// flushed to disk, renamed over the file, and then the folder is flushed so
// that the rename itself survives.
//
// Stateless apart from the fault hook; any thread may use one object.
class TFileReplacer {
 public:
  enum class TStep : uint8_t {
    rsWrite = 0,        // writing the temporary file
    rsFlush = 1,        // flushing it to disk
    rsRename = 2,       // renaming it over the file
    rsFlushFolder = 3,  // flushing the folder
  };
  // Told of each step before it is taken; a non-zero result fails the step
  // with that error number, as if the system had. For tests.
  using TFaultHook = std::function<int(TStep)>;

  explicit TFileReplacer(TFaultHook AHook = {}) : FHook(std::move(AHook)) {}

  // Replaces APath's content with AText. On failure the temporary file is
  // removed (the file keeps its old content) and EPlatformError is thrown,
  // naming the call and the file. A failure to flush the folder after the
  // rename also throws: the new content is in place but may not survive a
  // power loss. AInPlace, when given, is called once the new content is in
  // place, before the folder is flushed: a process that ends from then on
  // leaves the new content, while a power loss may still leave the old one.
  void Replace(const std::string& APath, std::string_view AText,
               const std::function<void()>& AInPlace = {}) const;

 private:
  [[nodiscard]] int Fault(TStep AStep) const { return FHook ? FHook(AStep) : 0; }

  TFaultHook FHook;
};

}  // namespace zor
