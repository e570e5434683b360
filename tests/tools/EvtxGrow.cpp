// evtx_grow SAMPLE OUT MIB: writes an EVTX file of about MIB mebibytes made of
// SAMPLE's chunks repeated over and over, with record numbers renumbered to
// keep growing and every checksum recomputed. Used to show that reading a
// large log keeps memory bounded and to measure throughput. Needs one chunk of
// memory whatever the size.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "evtx/EvtxChunk.h"
#include "support/EvtxBuilder.h"

int main(int argc, char** argv) {
  using namespace zor;
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SAMPLE.evtx OUT.evtx MIB\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<uint8_t> sample{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  // The sample's chunks whose header checks out, in file order.
  std::vector<size_t> chunks;
  for (size_t at = test::EvtxFileHeaderSize; at + test::EvtxChunkSize <= sample.size(); at += test::EvtxChunkSize) {
    if (TEvtxChunkHeader::Parse(sample.data() + at, true).Trusted) chunks.push_back(at);
  }
  if (chunks.empty()) {
    std::fprintf(stderr, "%s has no intact chunk\n", argv[1]);
    return 1;
  }
  const uint64_t wanted = std::strtoull(argv[3], nullptr, 10) * 1024 * 1024;
  const uint64_t count = std::max<uint64_t>(1, (wanted - test::EvtxFileHeaderSize) / test::EvtxChunkSize);
  if (count > 0xFFFF) {
    std::fprintf(stderr, "at most 65535 chunks (4 GiB)\n");
    return 2;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(std::string(test::EvtxFileHeaderSize, '\0').data(), test::EvtxFileHeaderSize);
  uint64_t next = 1;
  std::vector<uint8_t> chunk(test::EvtxChunkSize);
  for (uint64_t i = 0; i < count; ++i) {
    std::copy_n(sample.begin() + static_cast<std::ptrdiff_t>(chunks[i % chunks.size()]), test::EvtxChunkSize, chunk.begin());
    const uint32_t freeSpace = test::GetU32(chunk.data() + 0x30);
    const uint64_t first = next;
    for (size_t at = 0x200; at + 24 <= freeSpace;) {
      const uint32_t size = test::GetU32(chunk.data() + at + 4);
      if (test::GetU32(chunk.data() + at) != 0x2A2A || size < 28 || at + size > freeSpace) break;
      test::PutU64(chunk.data() + at + 8, next++);
      at += size;
    }
    for (size_t field : {0x08, 0x18}) test::PutU64(chunk.data() + field, first);
    for (size_t field : {0x10, 0x20}) test::PutU64(chunk.data() + field, next - 1);
    test::FixChunkChecksums(chunk.data());
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
  }
  const std::vector<uint8_t> header = test::MakeFileHeader(static_cast<uint16_t>(count), next);
  out.seekp(0);
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%llu chunks, %llu records\n", static_cast<unsigned long long>(count),
              static_cast<unsigned long long>(next - 1));
  return 0;
}
