#include "collection/EventLogSubscriber.h"

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <utility>

#include "collection/EventLogMessageProcessor.h"
#include "collection/ProcessingBatch.h"
#include "support/Log.h"
#include "support/Utilities.h"

namespace zor {

namespace {

// The most event handles one EvtNext call is given, whatever "batchSize"
// says: the array is allocated per pass, and a mistyped size must not take
// gigabytes.
constexpr int32_t MaxBatchSize = 1 << 20;

std::string LastErrorText(uint32_t ACode) { return TWinEvt::SysErrorMessage(ACode); }

// Replaces every CR LF pair by one blank, then removes every remaining CR and
// LF; whether there was any.
bool StripNewLines(std::string& AText) {
  // Most events hold no line break: two quick scans, nothing copied. Else the
  // text is compacted in place from the first break on.
  const size_t size = AText.size();
  const char* const data = AText.data();
  const void* const lf = std::memchr(data, '\n', size);
  const void* const cr = std::memchr(data, '\r', size);
  if (lf == nullptr && cr == nullptr) return false;
  size_t from = size;
  if (lf != nullptr) from = static_cast<size_t>(static_cast<const char*>(lf) - data);
  if (cr != nullptr) from = std::min(from, static_cast<size_t>(static_cast<const char*>(cr) - data));
  size_t to = from;
  for (size_t i = from; i < size; ++i) {
    const char c = AText[i];
    if (c == '\r' && i + 1 < size && AText[i + 1] == '\n') {
      AText[to++] = ' ';
      ++i;
    } else if (c != '\r' && c != '\n') {
      AText[to++] = c;
    }
  }
  AText.resize(to);
  return true;
}

// The record id that bookmark XML AXml holds for channel AChannel (letter case
// ignored), if any.
std::optional<uint64_t> BookmarkedRecordId(const std::string& AXml, const std::string& AChannel) {
  pugi::xml_document document;
  if (!document.load_buffer(AXml.data(), AXml.size())) return std::nullopt;
  for (const pugi::xml_node bookmark : document.child("BookmarkList").children("Bookmark")) {
    const std::string channel = bookmark.attribute("Channel").as_string();
    if (channel.size() != AChannel.size() ||
        !std::equal(channel.begin(), channel.end(), AChannel.begin(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                std::tolower(static_cast<unsigned char>(b)); }))
      continue;
    uint64_t id = 0;
    const std::string text = bookmark.attribute("RecordId").as_string();
    if (text.empty() || text.size() > 20 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return std::nullopt;
    for (const char c : text) id = id * 10 + static_cast<uint64_t>(c - '0');
    return id;
  }
  return std::nullopt;
}

}  // namespace

TEventLogSubscriber::TEventLogSubscriber(TEventLogMessageProcessor* AProcessor, const TCollectionInterface& AInterface,
                                         const std::string& AStateFolder, TWinEvt* AApi,
                                         std::shared_ptr<TReaderCounters> ACounters)
    : FProcessor(AProcessor),
      FCounters(ACounters ? std::move(ACounters) : std::make_shared<TReaderCounters>()),
      FApi(AApi ? AApi : TWinEvt::Load()),
      FInterface(std::make_unique<TCollectionInterface>(AInterface)),
      FStateFolder(AStateFolder),
      FName(AInterface.Name()),
      FKeepSystem(TProcessingBatch::ReadsSystemAlone(AInterface) && !TUtilities::IsBlank(AInterface.SelectionDetail())),
      FBookmarkFile(AStateFolder, AInterface.Path()),
      FBookMarkHandle(nullptr, TEvtHandleCloser{FApi}) {
  LogInfo("[%s]Start Subscription", Tag());
  FEventSignal.Set();
  for (const std::string& expression : FInterface->ExclusionRegex()) {
    // An empty expression matches every text: a blank line left in the list
    // would silently drop the whole channel.
    if (expression.empty()) {
      LogInfo("[%s]Empty exclusion expression ignored", Tag());
      continue;
    }
    FRegEx.push_back(std::make_unique<TRegularExpression>(expression));
  }
}

TEventLogSubscriber::~TEventLogSubscriber() {
  // The body uses this object's members: it must end before they go.
  (void)ThreadStop(true, INFINITE);
}

bool TEventLogSubscriber::Execute() {
  const TEvtHandle session = OpenSession();
  if (!session) return false;
  LogInfo("[%s]Start Subscription Thread", Tag());
  TEvtHandle subscription = Subscribe(session.get());
  if (!subscription) return false;

  for (;;) {
    const uint32_t signalled = WaitForAny({FShouldFinishEvent.get(), &FEventSignal}, INFINITE);
    if (signalled == 0) break;
    if (signalled != 1) continue;
    FEventSignal.Reset();
    LogInfo("[%s]Preparing to flush messages", Tag());
    try {
      ProcessAvailableEvents(session.get(), subscription.get());
    } catch (const std::exception& e) {
      LogError("[%s] Exception Flushing Messages: %s", Tag(), e.what());
    }
  }

  LogInfo("[%s]Close Evt Subscription", Tag());
  subscription.reset();
  FBookMarkHandle.reset();
  LogInfo("[%s]Close Session Handle", Tag());
  // (the session closes when its handle goes, below)
  LogInfo("[%s]Exiting Collection Thread", Tag());
  return true;
}

TEvtHandle TEventLogSubscriber::OpenSession() {
  EVT_RPC_LOGIN login;
  std::string domain;
  std::string user;
  if (!TUtilities::IsBlank(FInterface->WinHost()) || !TUtilities::IsBlank(FInterface->WinAcct())) {
    const std::string& account = FInterface->WinAcct();
    const size_t slash = account.find('\\');
    if (slash != std::string::npos && account.find('\\', slash + 1) == std::string::npos) {
      domain = account.substr(0, slash);
      user = account.substr(slash + 1);
    } else {
      domain = ".";
      user = account;
    }
    login.Server = FInterface->WinHost().c_str();
    login.Domain = domain.c_str();
    login.User = user.c_str();
    if (!TUtilities::IsBlank(FInterface->WinAcctPassword())) login.Password = FInterface->WinAcctPassword().c_str();
  }
  TEvtHandle session(FApi->EvtOpenSession(EvtRpcLogin, &login, 0, 0), TEvtHandleCloser{FApi});
  LogInfo("[%s]Opened session %llu", Tag(),
          static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(session.get())));
  if (!session) {
    const uint32_t code = TWinEvt::GetLastError();
    LogError("Error opening session: %u. %s", code, LastErrorText(code).c_str());
  }
  return session;
}

TEvtHandle TEventLogSubscriber::Subscribe(EVT_HANDLE ASession) {
  // A busy reader's position is saved after about a batch, whatever the
  // size of the sets EvtNext gives.
  FWindow = FProcessor->Bookmarks().WindowOf(
      FBookmarkFile, static_cast<size_t>(std::clamp(FInterface->BatchSize(), 1, MaxBatchSize)));
  // The reader's figure of its saved position follows the acknowledgements.
  FWindow->SetAcknowledgedIdSink(std::shared_ptr<std::atomic<uint64_t>>(FCounters, &FCounters->BookmarkRecordId));
  // Where an earlier subscriber of this process stopped reading; the sets it
  // handed on are still on their way (or taken already).
  FBookMark = FWindow->ReadPosition();
  if (FBookMark.empty()) FBookMark = LoadBookmark();
  FBookMarkHandle.reset();
  FResumeAfter.reset();

  uint32_t flags = FInterface->StartAtBeginning() ? EvtSubscribeStartAtOldestRecord : EvtSubscribeToFutureEvents;
  // Where the query parses each event anyway, a reader whose messages read
  // System alone takes its values on instead of having them parsed again.
  const uint32_t keepSystem = FKeepSystem ? static_cast<uint32_t>(EvtSubscribeKeepSystemValues) : 0u;
  if (!TUtilities::IsBlank(FBookMark)) {
    FBookMarkHandle.reset(FApi->EvtCreateBookmark(FBookMark.c_str()));
    if (FBookMarkHandle) {
      flags = EvtSubscribeStartAfterBookmark;
      FResumeAfter = BookmarkedRecordId(FBookMark, FInterface->Path());
      if (!FResumeAfter)
        LogInfo("[%s]Bookmark holds no position in %s; reading it from its oldest record", Tag(),
                FInterface->Path().c_str());
    } else {
      // Starting with future events would skip whatever was written since the
      // bookmark was saved; start at the oldest record instead.
      const uint32_t code = TWinEvt::GetLastError();
      LogError("[%s]Bookmark in %s is not usable (%u. %s); reading from the oldest record", Tag(),
               FBookmarkFile.FileName().c_str(), code, LastErrorText(code).c_str());
      flags = EvtSubscribeStartAtOldestRecord;
    }
  }

  const char* query = FInterface->SelectionDetail().c_str();
  TEvtHandle subscription(FApi->EvtSubscribe(ASession, &FEventSignal, FInterface->Path().c_str(), query,
                                             FBookMarkHandle.get(), nullptr, nullptr, flags | keepSystem),
                          TEvtHandleCloser{FApi});
  if (!subscription) {
    const uint32_t code = TWinEvt::GetLastError();
    LogError("Error opening subscription to log %s: %u. %s", FInterface->Path().c_str(), code,
             LastErrorText(code).c_str());
  }
  if (!FBookMarkHandle) FBookMarkHandle.reset(FApi->EvtCreateBookmark(nullptr));
  if (subscription) {
    const std::optional<TChannelFigures> figures = ChannelFigures(ASession);
    FPositionId = FResumeAfter;
    if (flags == EvtSubscribeToFutureEvents && figures && figures->Count > 0) FPositionId = figures->NewestId;
    NoteRecordsBehind(figures);
  }
  return subscription;
}

TEventLogSubscriber::TPublisherMap TEventLogSubscriber::LoadPublisherMetadata(EVT_HANDLE ASession) {
  TPublisherMap map;
  const TEvtHandle publishers(FApi->EvtOpenPublisherEnum(ASession, 0), TEvtHandleCloser{FApi});
  if (!publishers) {
    const uint32_t code = TWinEvt::GetLastError();
    LogError("Error opneing publisher enum: %u. %s", code, LastErrorText(code).c_str());
    return map;
  }
  std::vector<char> name;
  for (;;) {
    uint32_t used = 0;
    if (FApi->EvtNextPublisherId(publishers.get(), 0, nullptr, &used) ||
        TWinEvt::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      break;
    name.assign(static_cast<size_t>(used) + 1, '\0');
    const bool fetched = FApi->EvtNextPublisherId(publishers.get(), static_cast<uint32_t>(name.size()), name.data(),
                                                  &used);
    const uint32_t code = fetched ? ERROR_SUCCESS : TWinEvt::GetLastError();
    if (fetched || code == ERROR_NO_MORE_ITEMS) {
      TEvtHandle metadata(FApi->EvtOpenPublisherMetadata(ASession, name.data(), nullptr, 0, 0),
                          TEvtHandleCloser{FApi});
      if (metadata && !map.contains(name.data())) map.emplace(name.data(), std::move(metadata));
    } else {
      LogError("Error getting next publisher ID: %u. %s", code, LastErrorText(code).c_str());
    }
    if (!fetched) break;
  }
  return map;
}

void TEventLogSubscriber::ProcessAvailableEvents(EVT_HANDLE ASession, EVT_HANDLE ASubscription) {
  const auto started = std::chrono::steady_clock::now();
  // The provider name picks the publisher's metadata; the record id shows
  // whether a bookmarked record still existed.
  const char* const valuePaths[] = {"Event/System/Provider/@Name", "Event/System/EventRecordID"};
  const TEvtHandle context(FApi->EvtCreateRenderContext(2, valuePaths, EvtRenderContextValues),
                           TEvtHandleCloser{FApi});
  if (!context) {
    const uint32_t code = TWinEvt::GetLastError();
    LogError("[%s]Error in EvtCreateRenderContext: %u. %s", Tag(), code, LastErrorText(code).c_str());
    return;
  }
  const TPublisherMap publishers = LoadPublisherMetadata(ASession);
  // The records behind the position are counted against the channel as the
  // pass found it; records written meanwhile wake the next pass.
  const std::optional<TChannelFigures> figures = ChannelFigures(ASession);
  // Read for the last record of each set only.
  const char* const timePath[] = {"Event/System/TimeCreated/@SystemTime"};
  const TEvtHandle timeContext(FApi->EvtCreateRenderContext(1, timePath, EvtRenderContextValues),
                               TEvtHandleCloser{FApi});
  constexpr auto relaxed = std::memory_order_relaxed;

  const uint32_t batchSize = static_cast<uint32_t>(std::clamp(FInterface->BatchSize(), 0, MaxBatchSize));
  std::vector<EVT_HANDLE> events(batchSize);
  int32_t eventCount = 0;
  uint32_t returned = 0;
  bool finishing = false;
  uint32_t nextError = ERROR_NO_MORE_ITEMS;
  // The id of the last record of the set being read.
  uint64_t lastRecordId = 0;
  while (!finishing) {
    if (!FApi->EvtNext(ASubscription, batchSize, events.data(), INFINITE, 0, &returned)) {
      nextError = TWinEvt::GetLastError();
      break;
    }
    // Every handle of the set is closed, whatever happens to the set.
    std::vector<TEvtHandle> owned;
    owned.reserve(returned);
    for (uint32_t k = 0; k < returned; ++k) owned.emplace_back(events[k], TEvtHandleCloser{FApi});
    // A reader that is ahead of its receivers waits here with the next set
    // in hand, unread: its position stays where the last set handed in
    // ended, and a pass with nothing more to read ends without waiting.
    if (!FProcessor->WaitForRoom(*FShouldFinishEvent, FWindow.get())) {
      finishing = true;
      break;
    }

    auto batch = std::make_unique<TProcessingBatch>(*FInterface);
    try {
      for (uint32_t k = 0; k < returned; ++k) {
        if (FShouldFinishEvent->IsSet()) {
          LogDebug("[%s]Thread finish signalled. Breaking out of inner loop", Tag());
          finishing = true;
          break;
        }
        uint64_t recordId = 0;
        const bool last = k + 1 == returned;
        std::string xml = RenderEvent(owned[k].get(), context.get(), publishers, last || FResumeAfter.has_value(), recordId);
        if (FResumeAfter) NoteFirstRecord(recordId);
        FCounters->RecordsRead.fetch_add(1, relaxed);
        if (!IsExcluded(xml)) {
          // The values hold for the text they were read from, and only for it.
          std::shared_ptr<const TEventLogSystem> system;
          if (FKeepSystem && !xml.empty()) system = FApi->ParsedSystem(owned[k].get());
          if (FInterface->StripNewLines() && StripNewLines(xml)) system.reset();
          batch->AddEvent(std::move(xml), std::move(system));
        } else {
          FCounters->RecordsExcluded.fetch_add(1, relaxed);
        }
        if (last) {
          lastRecordId = recordId;
          if (timeContext) NoteEventTime(owned[k].get(), timeContext.get());
          if (!FApi->EvtUpdateBookmark(FBookMarkHandle.get(), owned[k].get())) {
            const uint32_t code = TWinEvt::GetLastError();
            throw EZorError(TUtilities::Format("EvtUpdateBookmark failed: %u. %s", code, LastErrorText(code).c_str()));
          }
          batch->SetLastRecordBookmark(RenderBookmark());
        }
        owned[k].reset();
        ++eventCount;
      }
      if (!finishing) {
        batch->SetAckBatch(FWindow->Open(batch->LastRecordBookmark(), lastRecordId, returned));
        FProcessor->SignalledMessageQueue().Enqueue(std::move(batch));
        FCounters->Batches.fetch_add(1, relaxed);
        FPositionId = lastRecordId;
        NoteRecordsBehind(figures);
      }
    } catch (const std::exception& e) {
      LogError("[%s] Exception Rendering Event: %s", Tag(), e.what());
    }
  }

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  LogInfo("[%s] Renderd %d event Logs in: %.3f seconds", Tag(), eventCount, seconds);
  if (!finishing && nextError != ERROR_NO_MORE_ITEMS)
    LogError("[%s]Error in EvtNext: %u. %s", Tag(), nextError, LastErrorText(nextError).c_str());
  // A pass ends when the subscription has nothing more to give (or the
  // reader stops): nothing is left behind the position then, whatever the
  // ids say.
  if (!finishing && nextError == ERROR_NO_MORE_ITEMS) FCounters->RecordsBehind.store(0, relaxed);
  else if (!finishing) NoteRecordsBehind(ChannelFigures(ASession));
  FPasses.fetch_add(1, std::memory_order_release);
}

std::optional<TEventLogSubscriber::TChannelFigures> TEventLogSubscriber::ChannelFigures(EVT_HANDLE ASession) {
  const TEvtHandle log(FApi->EvtOpenLog(ASession, FInterface->Path().c_str(), EvtOpenChannelPath),
                       TEvtHandleCloser{FApi});
  const auto figure = [&](EVT_LOG_PROPERTY_ID AProperty) -> std::optional<uint64_t> {
    EVT_VARIANT value{};
    uint32_t used = 0;
    if (!log || !FApi->EvtGetLogInfo(log.get(), AProperty, sizeof value, &value, &used) ||
        value.Type != EvtVarTypeUInt64)
      return std::nullopt;
    return value.UInt64Val;
  };
  const std::optional<uint64_t> count = figure(EvtLogNumberOfLogRecords);
  const std::optional<uint64_t> oldest = count ? figure(EvtLogOldestRecordNumber) : std::nullopt;
  if (!count || !oldest) {
    const uint32_t code = TWinEvt::GetLastError();
    LogDebug("[%s]Records behind not known: %u. %s", Tag(), code, LastErrorText(code).c_str());
    return std::nullopt;
  }
  return TChannelFigures{*count, *count > 0 ? *oldest + *count - 1 : 0};
}

void TEventLogSubscriber::NoteRecordsBehind(const std::optional<TChannelFigures>& AFigures) {
  if (!AFigures) return;
  uint64_t behind = AFigures->Count;
  if (FPositionId && AFigures->Count > 0)
    behind = std::min(behind, AFigures->NewestId > *FPositionId ? AFigures->NewestId - *FPositionId : 0);
  FCounters->RecordsBehind.store(behind, std::memory_order_relaxed);
}

void TEventLogSubscriber::NoteEventTime(EVT_HANDLE AEvent, EVT_HANDLE ATimeContext) {
  uint32_t used = 0;
  uint32_t count = 0;
  std::vector<uint64_t> buffer(8);
  if (!FApi->EvtRender(ATimeContext, AEvent, EvtRenderEventValues, static_cast<uint32_t>(buffer.size() * 8),
                       buffer.data(), &used, &count)) {
    if (TWinEvt::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    buffer.resize((static_cast<size_t>(used) + 7) / 8);
    if (!FApi->EvtRender(ATimeContext, AEvent, EvtRenderEventValues, used, buffer.data(), &used, &count)) return;
  }
  const auto* values = reinterpret_cast<const EVT_VARIANT*>(buffer.data());
  if (count < 1 || values[0].Type != EvtVarTypeString || !values[0].StringVal) return;
  try {
    const TDateTime time = TUtilities::ISOTimestampStringToDateTime(values[0].StringVal);
    FCounters->LastEventTime.store(static_cast<double>(TUtilities::DateTimeToUnixMs(time)) / 1000.0,
                                   std::memory_order_relaxed);
  } catch (const std::exception&) {
    // A record without a readable time leaves the last one shown.
  }
}

void TEventLogSubscriber::NoteFirstRecord(uint64_t ARecordId) {
  const uint64_t after = *FResumeAfter;
  FResumeAfter.reset();
  if (ARecordId <= after + 1) return;
  // Without a query every record after the bookmark is read, so the gap was
  // lost (the log wrapped or was cleared while the reader was stopped). With
  // one, the records between may just not match it.
  if (TUtilities::IsBlank(FInterface->SelectionDetail()))
    LogWarning(TUtilities::Format(
        "[%s]Bookmarked record %llu is no longer in %s: records %llu to %llu were lost (%llu); resuming at record %llu",
        Tag(), static_cast<unsigned long long>(after), FInterface->Path().c_str(),
        static_cast<unsigned long long>(after + 1), static_cast<unsigned long long>(ARecordId - 1),
        static_cast<unsigned long long>(ARecordId - 1 - after), static_cast<unsigned long long>(ARecordId)));
  else
    LogInfo("[%s]Bookmarked record %llu is no longer in %s; resuming at record %llu", Tag(),
            static_cast<unsigned long long>(after), FInterface->Path().c_str(),
            static_cast<unsigned long long>(ARecordId));
}

std::string TEventLogSubscriber::RenderEvent(EVT_HANDLE AEvent, EVT_HANDLE AContext, const TPublisherMap& AMap,
                                             bool AWantRecordId, uint64_t& ARecordId) {
  ARecordId = 0;
  // The values are rendered only when something reads them: the provider
  // picks the publisher's metadata (none opened, none to pick), the record id
  // is asked for at the ends of a set.
  auto metadata = AMap.end();
  uint32_t used = 0;
  uint32_t count = 0;
  if (AWantRecordId || !AMap.empty()) {
    if (FApi->EvtRender(AContext, AEvent, EvtRenderEventValues, 0, nullptr, &used, &count) ||
        TWinEvt::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      const uint32_t code = TWinEvt::GetLastError();
      LogError("[%s]Error rendering event values: %u. %s", Tag(), code, LastErrorText(code).c_str());
      return {};
    }
    FValuesBuffer.resize((static_cast<size_t>(used) + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    if (!FApi->EvtRender(AContext, AEvent, EvtRenderEventValues, used, FValuesBuffer.data(), &used, &count)) {
      const uint32_t code = TWinEvt::GetLastError();
      LogError("[%s]Error getting event values: %u. %s", Tag(), code, LastErrorText(code).c_str());
      return {};
    }
    const auto* values = reinterpret_cast<const EVT_VARIANT*>(FValuesBuffer.data());
    if (count >= 2 && values[1].Type == EvtVarTypeString && values[1].StringVal) {
      const char* text = values[1].StringVal;
      for (size_t i = 0; i < 20 && text[i] >= '0' && text[i] <= '9'; ++i)
        ARecordId = ARecordId * 10 + static_cast<uint64_t>(text[i] - '0');
    } else if (count >= 2 && values[1].Type != EvtVarTypeNull) {
      ARecordId = values[1].UInt64Val;
    }
    if (!AMap.empty()) {
      const char* provider = count >= 1 && values[0].Type == EvtVarTypeString && values[0].StringVal
                                 ? values[0].StringVal
                                 : "";
      metadata = AMap.find(provider);
      if (metadata == AMap.end()) LogDebug("[%s]No metadata found for publiser %s", Tag(), provider);
    }
  }

  // Sizes count bytes here, the terminating NUL included. The text goes to
  // the buffer kept from event to event, so one call renders it while the
  // buffer is large enough, and the size is asked only for a larger one.
  used = 0;
  const auto render = [&]() {
    const auto size = static_cast<uint32_t>(FRenderBuffer.size());
    if (metadata != AMap.end())
      return FApi->EvtFormatMessage(metadata->second.get(), AEvent, 0, 0, nullptr, EvtFormatMessageXml, size,
                                    FRenderBuffer.data(), &used);
    return FApi->EvtRender(nullptr, AEvent, EvtRenderEventXml, size, FRenderBuffer.data(), &used, &count);
  };
  if ((!render() &&
       (TWinEvt::GetLastError() != ERROR_INSUFFICIENT_BUFFER || (FRenderBuffer.resize(used), !render()))) ||
      used == 0) {
    const uint32_t code = TWinEvt::GetLastError();
    LogError("[%s]Error rendering event: %u. %s", Tag(), code, LastErrorText(code).c_str());
    return {};
  }
  std::string xml(FRenderBuffer.data(), strnlen(FRenderBuffer.data(), used));
  // A rare huge event does not keep its buffer for the reader's life.
  constexpr size_t KeptBufferBytes = 1 << 20;
  if (FRenderBuffer.size() > KeptBufferBytes) std::vector<char>().swap(FRenderBuffer);
  return xml;
}

bool TEventLogSubscriber::IsExcluded(const std::string& AText) {
  for (const auto& expression : FRegEx) {
    try {
      if (expression->Find(AText)) return true;
    } catch (const ERegularExpressionError& e) {
      // Keep the event: better one event too many than one lost.
      LogError("[%s]%s", Tag(), e.what());
    }
  }
  return false;
}

std::string TEventLogSubscriber::RenderBookmark() {
  uint32_t used = 0;
  uint32_t count = 0;
  if (FApi->EvtRender(nullptr, FBookMarkHandle.get(), EvtRenderBookmark, 0, nullptr, &used, &count) ||
      TWinEvt::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    const uint32_t code = TWinEvt::GetLastError();
    LogError("Error rendering bookmark: %u. %s", code, LastErrorText(code).c_str());
    return {};
  }
  std::vector<char> buffer(used);
  if (!FApi->EvtRender(nullptr, FBookMarkHandle.get(), EvtRenderBookmark, used, buffer.data(), &used, &count)) {
    const uint32_t code = TWinEvt::GetLastError();
    LogError("Error rendering bookmark: %u. %s", code, LastErrorText(code).c_str());
    return {};
  }
  return std::string(buffer.data(), strnlen(buffer.data(), used));
}

std::string TEventLogSubscriber::LoadBookmark() {
  std::filesystem::path from;
  std::optional<std::string> text;
  try {
    text = FBookmarkFile.Load(&from);
  } catch (const std::exception& e) {
    LogError("[%s]Bookmark not read: %s", Tag(), e.what());
    return {};
  }
  if (!text) return {};
  if (from != FBookmarkFile.FileName()) LogInfo("[%s]Bookmark read from %s", Tag(), from.c_str());
  return *text;
}


}  // namespace zor
