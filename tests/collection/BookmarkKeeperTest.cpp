// Bookmark files written crash-safely, and the keeper that writes only
// acknowledged positions.
#include "collection/BookmarkKeeper.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "collection/BookmarkFile.h"
#include "delivery/AckBatch.h"
#include "platform/PlatformError.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using TStep = TFileReplacer::TStep;

// A save that fails at one step leaves a whole bookmark (the old one, or the
// new one once the rename is done, as the in-place call said) and no
// temporary file.
TEST(BookmarkFileTest, ASaveFailingAtAnyStepLeavesAReadableBookmark) {
  struct TCase {
    const char* Name;
    TStep FailingStep;
    const char* Left;
  };
  const std::vector<TCase> cases = {
      {"write", TStep::rsWrite, "old"},
      {"flush", TStep::rsFlush, "old"},
      {"rename", TStep::rsRename, "old"},
      {"folder flush", TStep::rsFlushFolder, "new"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TempDir dir;
    TBookmarkFile(dir.Path(), "App").Save("old");
    const TBookmarkFile failing(dir.Path(), "App",
                                TFileReplacer([&](TStep AStep) { return AStep == c.FailingStep ? EIO : 0; }));
    bool inPlace = false;
    EXPECT_THROW(failing.Save("new", [&] { inPlace = true; }), EPlatformError);
    EXPECT_EQ(TBookmarkFile(dir.Path(), "App").Load(), std::optional<std::string>(c.Left));
    EXPECT_EQ(inPlace, std::string(c.Left) == "new");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "App.xml.tmp"));
  }
}

// Bookmark text of a position, as a window carries it.
std::string At(int ARecord) { return "<BookmarkList><Bookmark RecordId='" + std::to_string(ARecord) + "'/>"; }

TEST(BookmarkKeeperTest, WritesOnlyAcknowledgedPositionsAndRetriesAFailedSave) {
  test::TempDir dir;
  TBookmarkFile(dir.Path(), "App").Save("unreadable before");
  int failures = 1;
  const TBookmarkFile file(dir.Path(), "App", TFileReplacer([&](TStep AStep) {
                             return AStep == TStep::rsRename && failures-- > 0 ? ENOSPC : 0;
                           }));
  TBookmarkKeeper keeper(3600 * 1000);  // saved only when the test says
  const std::shared_ptr<TAckWindow> window = keeper.WindowOf(file, 1);
  EXPECT_EQ(keeper.WindowOf(file, 1), window) << "one window per bookmark file";

  auto first = window->Open(At(1));
  auto second = window->Open(At(2));
  second->Acknowledge();
  keeper.SaveAll();
  EXPECT_EQ(file.Load(), std::optional<std::string>("unreadable before")) << "nothing acknowledged yet";

  first->Acknowledge();
  EXPECT_TRUE(window->SaveLags(2));
  keeper.SaveAll();  // the rename fails once
  EXPECT_EQ(file.Load(), std::optional<std::string>("unreadable before"));
  EXPECT_FALSE(window->SaveLags(1)) << "a disk that fails does not stop the reader";
  keeper.SaveAll();
  EXPECT_EQ(file.Load(), std::optional<std::string>(At(2)));
}

TEST(BookmarkKeeperTest, ItsThreadSavesWithinTheInterval) {
  test::TempDir dir;
  const TBookmarkFile file(dir.Path(), "App");
  TBookmarkKeeper keeper(20);
  ASSERT_TRUE(keeper.ThreadStart(false, INFINITE));
  keeper.WindowOf(file, 100)->Open(At(5))->Acknowledge();
  EXPECT_TRUE(test::WaitUntil([&] { return file.Load() == std::optional<std::string>(At(5)); }));
}

// A busy reader is not left a whole interval behind: once about a batch of
// its records was taken since the last save, the keeper saves its position.
TEST(BookmarkKeeperTest, SavesAReaderOnceABatchOfItsRecordsWasTaken) {
  test::TempDir dir;
  const TBookmarkFile busy(dir.Path(), "Busy");
  const TBookmarkFile quiet(dir.Path(), "Quiet");
  TBookmarkKeeper keeper(3600 * 1000);  // no round within the test
  ASSERT_TRUE(keeper.ThreadStart(false, INFINITE));
  const std::shared_ptr<TAckWindow> window = keeper.WindowOf(busy, 10);
  keeper.WindowOf(quiet, 10)->Open(At(1), 1, 3)->Acknowledge();

  window->Open(At(4), 4, 4)->Acknowledge();
  window->Open(At(8), 8, 4)->Acknowledge();
  EXPECT_FALSE(window->SaveDue());
  window->Open(At(12), 12, 4)->Acknowledge();
  EXPECT_TRUE(test::WaitUntil([&] { return busy.Load() == std::optional<std::string>(At(12)); }));
  window->Open(At(22), 22, 10)->Acknowledge();
  EXPECT_TRUE(test::WaitUntil([&] { return busy.Load() == std::optional<std::string>(At(22)); }));
  EXPECT_EQ(quiet.Load(), std::nullopt) << "a reader short of a batch waits for the round";
}

// Batches still on their way when the keeper goes (items in a sender's queue)
// complete later without touching it.
TEST(BookmarkKeeperTest, BatchesOutlivingTheKeeperCompleteSafely) {
  test::TempDir dir;
  std::shared_ptr<TAckBatch> late;
  {
    TBookmarkKeeper keeper(3600 * 1000);
    late = keeper.WindowOf(TBookmarkFile(dir.Path(), "App"), 1)->Open(At(1), 1, 5);
  }
  late->Acknowledge();
  late.reset();
}

}  // namespace
}  // namespace zor
