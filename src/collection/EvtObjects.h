#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "collection/EventLogSystem.h"
#include "collection/WinEvt.h"
#include "evtx/ChannelStore.h"
#include "platform/CriticalSection.h"

// The objects behind TWinEvt's handles other than subscriptions
// (collection/EvtSubscription.h). Each is owned by TWinEvt's handle table.

namespace zor {

// A session: the store of the local computer or of one "remote" computer.
class TEvtSession final : public TEvtObject {
 public:
  explicit TEvtSession(TChannelStore AStore) : Store(std::move(AStore)) {}
  const TChannelStore Store;
};

// A channel opened for EvtGetLogInfo.
class TEvtLog final : public TEvtObject {
 public:
  TEvtLog(TChannelStore AStore, std::string AChannel) : Store(std::move(AStore)), Channel(std::move(AChannel)) {}
  const TChannelStore Store;
  const std::string Channel;

  // The channel's first and newest record, read from the file at the first
  // question and kept: the figures one handle gives come from one reading
  // (a failed reading is tried again at the next question).
  std::optional<TRecordSpan> Span() const {
    std::call_once(FSpanRead, [this] { FSpan = Store.RecordSpan(Channel); });
    return FSpan;
  }

 private:
  mutable std::once_flag FSpanRead;
  mutable std::optional<TRecordSpan> FSpan;
};

// How far a subscription has delivered one channel: the place of the last
// record delivered.
struct TEvtPosition {
  std::string Channel;
  TRecordPlace Place;
};

// One event handed out by EvtNext. Immutable.
class TEvtEvent final : public TEvtObject {
 public:
  TEvtEvent(std::string AChannel, TRecordPlace APlace, std::string AXml, std::vector<TEvtPosition> APositions,
            std::shared_ptr<const TEventLogSystem> ASystem = nullptr)
      : Channel(std::move(AChannel)),
        Place(APlace),
        Xml(std::move(AXml)),
        Positions(std::move(APositions)),
        System(std::move(ASystem)) {}
  const std::string Channel;  // the subscription's name for the channel
  const TRecordPlace Place;   // where the record is in the channel's file
  const std::string Xml;
  // Where every channel of the subscription stood once this event was handed
  // out (this event's channel included), as Windows bookmarks record it;
  // empty where the subscription reads this event's channel alone.
  const std::vector<TEvtPosition> Positions;
  // The values of Xml's System as the event record parser reads them, where
  // the subscription's query parsed Xml and was asked to keep them (null
  // otherwise). Shared with whoever takes them on with the text.
  const std::shared_ptr<const TEventLogSystem> System;
};

// A position per channel, with the channel of the last update marked
// current. Any thread may use it; its own lock serialises them.
//
// Rendered in Windows' bookmark form; each Bookmark also carries the Offset
// of its record in the channel's file when it is known, so that a record
// whose id repeats in the file is found again at its own place. Bookmarks
// without an Offset (Windows', or of earlier versions) are read as well.
class TEvtBookmark final : public TEvtObject {
 public:
  enum class TParseResult : uint8_t { bprOk = 0, bprMalformed = 1, bprWrongStructure = 2 };

  // Reads Windows bookmark XML into a new bookmark (either quote style, any
  // white space, IsCurrent in any letter case). Empty or blank text is an
  // empty bookmark.
  static TParseResult Parse(std::string_view AXml, std::unique_ptr<TEvtBookmark>& ABookmark, std::string& AError);

  // Points the bookmark at AEvent: its channel becomes current, and every
  // channel of the event's subscription takes the position it had then.
  void Update(const TEvtEvent& AEvent) EXCLUDES(FLock);
  // The bookmark as EvtRender(EvtRenderBookmark) gives it: CR LF line ends,
  // two blanks of indentation, single quotes.
  std::string Render() EXCLUDES(FLock);
  // The place for AChannel (letter case ignored), if the bookmark has one.
  std::optional<TRecordPlace> PlaceOf(std::string_view AChannel) EXCLUDES(FLock);

 private:
  // Sets AChannel's entry (added at the end when new); its index.
  size_t Place(const TEvtPosition& APosition) REQUIRES(FLock);

  TCriticalSection FLock;
  std::vector<TEvtPosition> FEntries GUARDED_BY(FLock);
  size_t FCurrent GUARDED_BY(FLock) = SIZE_MAX;
};

// Value paths to render (Event/System/Provider/@Name). The paths are set
// once, before the handle is handed out; any thread may then use it.
class TEvtRenderContext final : public TEvtObject {
 public:
  using TValues = std::vector<std::optional<std::string>>;
  struct TValuePath {
    std::vector<std::string> Elements;  // from the root element down
    std::string Attribute;              // empty: the last element's text
  };
  // Nothing when APath is not elements separated by "/" with an optional
  // final "@Name".
  static std::optional<TValuePath> ParsePath(std::string_view APath);
  // The values of AXml at each path; nothing where a path reaches nothing
  // (or the XML is malformed).
  TValues Values(std::string_view AXml) const;
  // The values of AEvent's XML. The last event's values are kept, so the two
  // calls of EvtRender's size-then-fill convention parse the event once.
  TValues Values(const std::shared_ptr<TEvtEvent>& AEvent) const EXCLUDES(FLastLock);

  std::vector<TValuePath> Paths;

 private:
  mutable TCriticalSection FLastLock;
  // Compared by owner, so a new event at a freed one's address is no match.
  mutable std::weak_ptr<TEvtEvent> FLastEvent GUARDED_BY(FLastLock);
  mutable TValues FLastValues GUARDED_BY(FLastLock);
};

// A list handed out one name at a time (channel and publisher enumerations).
class TEvtNameEnum final : public TEvtObject {
 public:
  explicit TEvtNameEnum(std::vector<std::string> ANames) : FNames(std::move(ANames)) {}
  // The next name, or nothing at the end. Advance moves past it.
  std::optional<std::string> Peek() EXCLUDES(FLock);
  void Advance() EXCLUDES(FLock);

 private:
  TCriticalSection FLock;
  const std::vector<std::string> FNames;
  size_t FNext GUARDED_BY(FLock) = 0;
};

}  // namespace zor
