#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collection/BookmarkFile.h"
#include "collection/RegularExpression.h"
#include "collection/WinEvt.h"
#include "config/CollectionInterface.h"
#include "core/CustomThread.h"
#include "delivery/ReaderCounters.h"
#include "delivery/AckWindow.h"
#include "platform/Event.h"

namespace zor {

class TEventLogMessageProcessor;

// One reader's collection thread. It opens an Event Log session (local, or
// the reader's "winHost"), subscribes to the reader's channel with its query,
// and whenever the subscription signals, reads everything available in sets
// of "batchSize": each event is rendered to XML, dropped when an exclusion
// expression matches it, stripped of line breaks when asked, and each set goes
// to the processor as one TProcessingBatch. Each set is opened as a batch in
// the reader's acknowledgement window (TAckWindow, kept by the processor's
// TBookmarkKeeper), which saves the bookmark of the last set every receiver
// has taken to the reader's bookmark file (TBookmarkFile): the next start
// resumes after it, and reads again whatever was still on its way. A reader
// started again in the same process (a reconfiguration) resumes after the
// last set its window saw read, as the sets on their way keep their places.
//
// A bookmark file that is empty counts as none (the start mode of
// "startAtBeginning" applies), and so does one that cannot be read (logged).
// One that the API does not accept (truncated, not XML, not a bookmark) is
// logged and reading starts at the oldest record still in the channel, so
// nothing is skipped. Either file is left alone until a new position is
// acknowledged. A bookmarked record that no longer exists resumes at the
// oldest record after it, with a warning naming the records lost.
//
// Ownership: the subscriber owns its copy of the reader, its expressions and
// its event; the processor and the API are borrowed and must outlive the
// thread. Threads: constructed, started and stopped by its owner; Execute runs
// on its own thread and is the only user of everything else.
class TEventLogSubscriber : public TCustomThread {
 public:
  // AApi: the Event Log API to read through (null: the process-wide one,
  // TWinEvt::Load). ACounters: where the reader counts (null: counters of its
  // own; shared with the metrics registry). Throws ERegularExpressionError with PCRE2's message when
  // an exclusion expression does not compile.
  TEventLogSubscriber(TEventLogMessageProcessor* AProcessor, const TCollectionInterface& AInterface,
                      const std::string& AStateFolder, TWinEvt* AApi = nullptr,
                      std::shared_ptr<TReaderCounters> ACounters = nullptr);
  ~TEventLogSubscriber() override;

  [[nodiscard]] const std::string& ConfigName() const { return FName; }
  [[nodiscard]] const std::filesystem::path& BookmarkFileName() const { return FBookmarkFile.FileName(); }
  [[nodiscard]] const TReaderCounters& Counters() const { return *FCounters; }
  // Passes over the channel completed (each reads what was there); any thread.
  [[nodiscard]] uint64_t PassCount() const { return FPasses.load(std::memory_order_acquire); }

 protected:
  bool Execute() override;

 private:
  using TPublisherMap = std::map<std::string, TEvtHandle>;

  [[nodiscard]] TEvtHandle OpenSession();
  [[nodiscard]] TEvtHandle Subscribe(EVT_HANDLE ASession);
  [[nodiscard]] TPublisherMap LoadPublisherMetadata(EVT_HANDLE ASession);
  void ProcessAvailableEvents(EVT_HANDLE ASession, EVT_HANDLE ASubscription);
  // AEvent's XML (empty after a logged failure). ARecordId is its record id
  // when AWantRecordId is set, else 0 unless the values were rendered anyway.
  [[nodiscard]] std::string RenderEvent(EVT_HANDLE AEvent, EVT_HANDLE AContext, const TPublisherMap& AMap,
                                        bool AWantRecordId, uint64_t& ARecordId);
  [[nodiscard]] bool IsExcluded(const std::string& AText);
  [[nodiscard]] std::string RenderBookmark();
  [[nodiscard]] std::string LoadBookmark();
  void NoteFirstRecord(uint64_t ARecordId);
  // What EvtGetLogInfo tells of the reader's channel now: how many records
  // it holds by their ids, and the newest one's id. Nothing when it cannot
  // tell (logged).
  struct TChannelFigures {
    uint64_t Count = 0;
    uint64_t NewestId = 0;
  };
  [[nodiscard]] std::optional<TChannelFigures> ChannelFigures(EVT_HANDLE ASession);
  // Stores how many records of the channel lie after FPositionId by their
  // ids (every record without a position; never more than the channel
  // holds). Nothing changes without figures.
  void NoteRecordsBehind(const std::optional<TChannelFigures>& AFigures);
  // Keeps the TimeCreated of AEvent as the reader's last event time.
  void NoteEventTime(EVT_HANDLE AEvent, EVT_HANDLE ATimeContext);
  // "[name]" before a text, as every log line of the subscriber starts.
  [[nodiscard]] const char* Tag() const { return FName.c_str(); }

  TEventLogMessageProcessor* const FProcessor;
  const std::shared_ptr<TReaderCounters> FCounters;
  TWinEvt* const FApi;
  const std::unique_ptr<TCollectionInterface> FInterface;
  TEvent FEventSignal;
  const std::string FStateFolder;
  const std::string FName;
  // The reader's messages read System alone: values its query read on the
  // way are taken on with each event.
  const bool FKeepSystem;
  std::vector<std::unique_ptr<TRegularExpression>> FRegEx;
  const TBookmarkFile FBookmarkFile;
  // Shared with the keeper and with the batches on their way.
  std::shared_ptr<TAckWindow> FWindow;
  std::string FBookMark;
  TEvtHandle FBookMarkHandle;
  // The record the loaded bookmark names in this channel, until the first
  // record read after it shows whether it still exists.
  std::optional<uint64_t> FResumeAfter;
  // The id of the last record read (at the start: the bookmarked one, the
  // newest one for a reader of future events, none from the oldest on).
  std::optional<uint64_t> FPositionId;
  std::atomic<uint64_t> FPasses{0};

  // Reused from event to event.
  std::vector<uint64_t> FValuesBuffer;  // EVT_VARIANTs need their alignment
  std::vector<char> FRenderBuffer;      // every event's XML is rendered here first
};

}  // namespace zor
