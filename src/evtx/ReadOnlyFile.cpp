#include "evtx/ReadOnlyFile.h"

#include "evtx/EvtxError.h"

namespace zor {

void TReadOnlyFile::Open(const std::string& APath) {
  Close();
  FPath = APath;
  bool regular = false;
  try {
    FFile.emplace(APath, TFile::TMode::fmRead);
    regular = FFile->Identity().Regular;
  } catch (const EPlatformError& e) {
    FFile.reset();
    throw EEvtxFileError(std::string("cannot read ") + APath + ": " + e.what());
  }
  if (!regular) {
    FFile.reset();
    throw EEvtxFileError(APath + " is not a regular file");
  }
}

void TReadOnlyFile::Close() { FFile.reset(); }

uint64_t TReadOnlyFile::Size() const {
  try {
    return FFile->Identity().Size;
  } catch (const EPlatformError& e) {
    throw EEvtxFileError(std::string("cannot read ") + FPath + ": " + e.what());
  }
}

size_t TReadOnlyFile::ReadAt(uint8_t* ABuffer, size_t ASize, uint64_t AOffset) const {
  try {
    return FFile->ReadAt(ABuffer, ASize, AOffset);
  } catch (const EPlatformError& e) {
    throw EEvtxFileError(std::string("cannot read ") + FPath + ": " + e.what(), AOffset);
  }
}

}  // namespace zor
