#include "collection/EvtSubscription.h"

#include "collection/EventXml.h"

#include <algorithm>

namespace zor {

TEvtSubscription::TEvtSubscription(const TChannelStore& AStore, std::vector<std::string> AChannels,
                                   std::unique_ptr<TEventQuery> AQuery, TStart AStart, TEvtBookmark* ABookmark,
                                   TEvent* ASignal, bool AKeepSystem, TChannelWatcher::TOptions AWatchOptions)
    : FQuery(std::move(AQuery)), FKeepSystem(AKeepSystem) {
  TCriticalSectionGuard guard(FLock);
  for (const std::string& channel : AChannels) FCursors.push_back({channel, AStore.OpenChannel(channel), {}, {}});
  // Watch before taking the starting points, so that nothing written after
  // this constructor returns can go unsignalled.
  FWatcher = std::make_unique<TChannelWatcher>(AStore, std::move(AChannels), [ASignal] { ASignal->Set(); },
                                               AWatchOptions);
  for (TCursor& cursor : FCursors) {
    switch (AStart) {
      case TStart::ssFuture: cursor.Delivered = cursor.Source->StartAtEnd(); break;
      case TStart::ssOldest: cursor.Source->StartAtOldest(); break;
      case TStart::ssAfterBookmark:
        cursor.Delivered = ABookmark ? ABookmark->PlaceOf(cursor.Channel) : std::nullopt;
        if (cursor.Delivered) cursor.Source->StartAfter(*cursor.Delivered);
        else cursor.Source->StartAtOldest();
        break;
    }
  }
  // Records may be waiting already: let the first pass look.
  if (AStart != TStart::ssFuture) ASignal->Set();
}

TEvtSubscription::~TEvtSubscription() {
  // Stop the watcher thread before the cursors go.
  FWatcher.reset();
}

void TEvtSubscription::Fill(TCursor& ACursor, size_t AWant) {
  std::vector<TChannelRecord> records;
  while (ACursor.Pending.size() < AWant) {
    records.clear();
    if (ACursor.Source->Read(AWant - ACursor.Pending.size(), records) == 0) return;
    for (TChannelRecord& record : records) {
      if (FQuery->SelectsEverything()) {
        ACursor.Pending.push_back({std::move(record), nullptr});
        continue;
      }
      // Malformed XML matches nothing.
      static_assert(eventxml::ParseOptions == TEventQuery::QueryParseOptions);
      bool systemRead = false;
      const pugi::xml_node event = FParser.ReadSystemOf(record.Xml, systemRead);
      if (!event || !FQuery->Matches(event, ACursor.Channel)) continue;
      std::shared_ptr<const TEventLogSystem> system;
      if (FKeepSystem && systemRead) system = std::make_shared<const TEventLogSystem>(FParser.System());
      ACursor.Pending.push_back({std::move(record), std::move(system)});
    }
  }
}

size_t TEvtSubscription::Next(size_t AMax, std::vector<std::shared_ptr<TEvtEvent>>& AEvents) {
  TCriticalSectionGuard guard(FLock);
  for (TCursor& cursor : FCursors) Fill(cursor, AMax);
  size_t count = 0;
  while (count < AMax) {
    TCursor* earliest = nullptr;
    for (TCursor& cursor : FCursors)
      if (!cursor.Pending.empty() &&
          (!earliest || cursor.Pending.front().Record.WrittenTime < earliest->Pending.front().Record.WrittenTime))
        earliest = &cursor;
    if (!earliest) break;
    TSelected& selected = earliest->Pending.front();
    TChannelRecord& record = selected.Record;
    earliest->Delivered = record.Place();
    // With one channel the event's own place is the whole position.
    std::vector<TEvtPosition> positions;
    if (FCursors.size() > 1)
      for (const TCursor& cursor : FCursors)
        if (cursor.Delivered) positions.push_back({cursor.Channel, *cursor.Delivered});
    AEvents.push_back(std::make_shared<TEvtEvent>(earliest->Channel, record.Place(), std::move(record.Xml),
                                                  std::move(positions), std::move(selected.System)));
    earliest->Pending.pop_front();
    ++count;
  }
  return count;
}

}  // namespace zor
