#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace zor {

// Growable output text of the renderer. Unlike std::string it never fills
// what it reserves, so a writer can reserve the worst case, write through the
// raw pointer and commit only what it wrote. Keeps its capacity across records.
class TOutBuffer {
 public:
  TOutBuffer() = default;
  TOutBuffer(const TOutBuffer&) = delete;
  TOutBuffer& operator=(const TOutBuffer&) = delete;

  // Room for at least ACount more bytes; write them, then call Commit with the
  // position just past the last byte written.
  char* Reserve(size_t ACount) {
    if (FCapacity - FSize < ACount) Grow(ACount);
    return FData.get() + FSize;
  }
  void Commit(char* AEnd) { FSize = static_cast<size_t>(AEnd - FData.get()); }

  void Append(const char* AText, size_t ASize) {
    // Nothing to add: AText may be null then, and so may the buffer be.
    if (ASize == 0) return;
    char* p = Reserve(ASize);
    std::memcpy(p, AText, ASize);
    FSize += ASize;
  }
  void Append(std::string_view AText) { Append(AText.data(), AText.size()); }
  void Push(char AChar) {
    *Reserve(1) = AChar;
    ++FSize;
  }

  size_t Size() const { return FSize; }
  void Truncate(size_t ASize) {
    if (ASize < FSize) FSize = ASize;
  }
  void Clear() { FSize = 0; }
  std::string_view View() const { return {FData.get(), FSize}; }

 private:
  void Grow(size_t ACount) {
    size_t capacity = FCapacity ? FCapacity * 2 : 4096;
    while (capacity - FSize < ACount) capacity *= 2;
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (FSize) std::memcpy(data.get(), FData.get(), FSize);
    FData = std::move(data);
    FCapacity = capacity;
  }

  std::unique_ptr<char[]> FData;
  size_t FSize = 0;
  size_t FCapacity = 0;
};

}  // namespace zor
