#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collection/ChannelWatcher.h"
#include "collection/EventLog.h"
#include "collection/EvtObjects.h"
#include "evtx/ChannelStore.h"
#include "evtx/EventQuery.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"

namespace zor {

// One subscription of TWinEvt: a cursor per channel (its record source,
// which keeps the place read up to, the place last handed out, and records
// already selected but not handed out), the compiled query, and a watcher
// that sets the signal event when a channel file changes.
//
// Delivery is by place, in file order: every record after the cursor's place
// is read once whatever its id, so a file that grows, is replaced by a longer
// copy or appears late gives each new record exactly once, and a bookmarked
// record that no longer exists resumes at the oldest record after it.
//
// A query is evaluated on one parse of each record, made with the event
// record parser's options; with AKeepSystem, the System values of that parse
// go on with each event handed out (TEvtEvent::System), so that nobody parses
// the text again for them.
//
// Next may be called from any thread (its lock serialises callers); the
// watcher calls only ASignal->Set. ASignal must outlive the subscription.
class TEvtSubscription final : public TEvtObject {
 public:
  enum class TStart : uint8_t { ssFuture = 0, ssOldest = 1, ssAfterBookmark = 2 };

  // Opens the channels and starts watching them. ABookmark is used only for
  // ssAfterBookmark: channels it does not name start at their oldest record.
  // Throws EZorError subclasses (channel, EVTX, platform errors).
  TEvtSubscription(const TChannelStore& AStore, std::vector<std::string> AChannels,
                   std::unique_ptr<TEventQuery> AQuery, TStart AStart, TEvtBookmark* ABookmark, TEvent* ASignal,
                   bool AKeepSystem = false, TChannelWatcher::TOptions AWatchOptions = {});
  ~TEvtSubscription() override;

  // Appends up to AMax selected events in delivery order (record id order per
  // channel, TimeCreated across channels) and returns how many. Throws
  // EZorError subclasses when a channel file cannot be read; cursors then
  // stay where they were.
  size_t Next(size_t AMax, std::vector<std::shared_ptr<TEvtEvent>>& AEvents) EXCLUDES(FLock);

 private:
  struct TSelected {
    TChannelRecord Record;
    std::shared_ptr<const TEventLogSystem> System;  // null: not kept
  };
  struct TCursor {
    std::string Channel;
    std::unique_ptr<IRecordSource> Source;  // stands after every record looked at
    std::optional<TRecordPlace> Delivered;  // the last record handed out (or the starting point)
    std::deque<TSelected> Pending;          // selected, not handed out yet
  };

  void Fill(TCursor& ACursor, size_t AWant) REQUIRES(FLock);

  TCriticalSection FLock;
  std::vector<TCursor> FCursors GUARDED_BY(FLock);
  const std::unique_ptr<TEventQuery> FQuery;
  const bool FKeepSystem;
  // Parses each record the query looks at; reused from record to record.
  TEventLog FParser GUARDED_BY(FLock);
  // Last, so it stops before anything it could signal about goes.
  std::unique_ptr<TChannelWatcher> FWatcher;
};

}  // namespace zor
