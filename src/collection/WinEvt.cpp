#include "collection/WinEvt.h"

#include <algorithm>
#include <cstring>

#include "collection/EvtObjects.h"
#include "collection/EvtSubscription.h"
#include "evtx/EventQuery.h"
#include "evtx/EvtxError.h"
#include "platform/ServicePaths.h"

namespace zor {

namespace {

thread_local uint32_t GLastError = ERROR_SUCCESS;
thread_local std::string GLastErrorDetail;

// Records a failure on the calling thread; returns the "failed" value of the
// caller's result type.
bool Fail(uint32_t ACode, std::string ADetail = {}) {
  GLastError = ACode;
  GLastErrorDetail = std::move(ADetail);
  return false;
}
EVT_HANDLE FailHandle(uint32_t ACode, std::string ADetail = {}) {
  Fail(ACode, std::move(ADetail));
  return nullptr;
}
void Succeed() {
  GLastError = ERROR_SUCCESS;
  GLastErrorDetail.clear();
}

// The error code Windows gives for what went wrong inside the store.
uint32_t CodeOf(const std::exception& AError) {
  if (dynamic_cast<const EQueryError*>(&AError)) return ERROR_EVT_INVALID_QUERY;
  if (dynamic_cast<const EChannelError*>(&AError)) return ERROR_EVT_INVALID_CHANNEL_PATH;
  if (dynamic_cast<const EEvtxError*>(&AError)) return ERROR_FILE_CORRUPT;
  return ERROR_READ_FAULT;
}

// The two-call convention: fails with ERROR_INSUFFICIENT_BUFFER and the size
// needed unless the buffer holds AText and its NUL.
bool CopyOut(std::string_view AText, uint32_t ABufferSize, void* ABuffer, uint32_t* ABufferUsed) {
  if (!ABufferUsed) return Fail(ERROR_INVALID_PARAMETER);
  if (AText.size() + 1 > UINT32_MAX) return Fail(ERROR_INVALID_PARAMETER, "text too long for a buffer");
  const auto needed = static_cast<uint32_t>(AText.size() + 1);
  *ABufferUsed = needed;
  if (!ABuffer || ABufferSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // An empty view's pointer may be null, which memcpy must not see.
  if (!AText.empty()) std::memcpy(ABuffer, AText.data(), AText.size());
  static_cast<char*>(ABuffer)[AText.size()] = '\0';
  Succeed();
  return true;
}

// EvtRenderEventValues: the variants first, then the strings they point at.
bool CopyValues(const std::vector<std::optional<std::string>>& AValues, uint32_t ABufferSize, void* ABuffer,
                uint32_t* ABufferUsed, uint32_t* APropertyCount) {
  if (!ABufferUsed || !APropertyCount) return Fail(ERROR_INVALID_PARAMETER);
  size_t needed = AValues.size() * sizeof(EVT_VARIANT);
  for (const auto& value : AValues)
    if (value) needed += value->size() + 1;
  if (needed > UINT32_MAX) return Fail(ERROR_INVALID_PARAMETER, "values too long for a buffer");
  *ABufferUsed = static_cast<uint32_t>(needed);
  *APropertyCount = static_cast<uint32_t>(AValues.size());
  if (!ABuffer || ABufferSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  char* base = static_cast<char*>(ABuffer);
  char* text = base + AValues.size() * sizeof(EVT_VARIANT);
  for (size_t i = 0; i < AValues.size(); ++i) {
    EVT_VARIANT variant{};
    variant.Count = 0;
    if (AValues[i]) {
      std::memcpy(text, AValues[i]->c_str(), AValues[i]->size() + 1);
      variant.StringVal = text;
      variant.Type = EvtVarTypeString;
      text += AValues[i]->size() + 1;
    } else {
      variant.UInt64Val = 0;
      variant.Type = EvtVarTypeNull;
    }
    std::memcpy(base + i * sizeof(EVT_VARIANT), &variant, sizeof variant);
  }
  Succeed();
  return true;
}

const char* StandardText(uint32_t ACode) {
  switch (ACode) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_READ_FAULT: return "The system cannot read from the specified device.";
    case ERROR_NOT_SUPPORTED: return "The request is not supported.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_INSUFFICIENT_BUFFER: return "The data area passed to a system call is too small.";
    case ERROR_NO_MORE_ITEMS: return "No more data is available.";
    case ERROR_FILE_CORRUPT: return "The file or directory is corrupted and unreadable.";
    case ERROR_XML_PARSE_ERROR: return "Windows was unable to parse the requested XML data.";
    case RPC_S_SERVER_UNAVAILABLE: return "The RPC server is unavailable.";
    case ERROR_EVT_INVALID_CHANNEL_PATH: return "The specified channel path is invalid.";
    case ERROR_EVT_INVALID_QUERY: return "The specified query is invalid.";
    case ERROR_EVT_PUBLISHER_METADATA_NOT_FOUND: return "The publisher metadata cannot be found in the resource.";
    case ERROR_EVT_MESSAGE_NOT_FOUND:
      return "The message resource is present but the message was not found in the message table.";
    default: return nullptr;
  }
}

bool IsEmpty(const char* AText) { return AText == nullptr || *AText == '\0'; }

TCriticalSection GInstanceLock;
std::unique_ptr<TWinEvt> GInstance GUARDED_BY(GInstanceLock);

}  // namespace

void TEvtHandleCloser::operator()(EVT_HANDLE AHandle) const {
  if (AHandle) (void)(Api ? Api : TWinEvt::Load())->EvtClose(AHandle);
}

TWinEvt* TWinEvt::Load() {
  TCriticalSectionGuard guard(GInstanceLock);
  if (!GInstance) GInstance = std::make_unique<TWinEvt>(ServicePaths().EventLogDir);
  return GInstance.get();
}

void TWinEvt::Unload() {
  std::unique_ptr<TWinEvt> instance;
  {
    TCriticalSectionGuard guard(GInstanceLock);
    instance = std::move(GInstance);
  }
}

TWinEvt::TWinEvt(std::filesystem::path AEventLogRoot) : FStore(std::move(AEventLogRoot)) {}

TWinEvt::~TWinEvt() {
  std::unordered_map<EVT_HANDLE, std::shared_ptr<TEvtObject>> handles;
  {
    TCriticalSectionGuard guard(FLock);
    handles.swap(FHandles);
  }
  // Subscriptions join their watcher threads here, outside the lock.
}

uint32_t TWinEvt::GetLastError() { return GLastError; }

void TWinEvt::SetLastError(uint32_t ACode) {
  GLastError = ACode;
  GLastErrorDetail.clear();
}

std::string TWinEvt::SysErrorMessage(uint32_t ACode) {
  const char* standard = StandardText(ACode);
  std::string text = standard ? standard : "Unknown error " + std::to_string(ACode) + ".";
  if (ACode == GLastError && !GLastErrorDetail.empty()) text += " (" + GLastErrorDetail + ")";
  return text;
}

EVT_HANDLE TWinEvt::Register(std::shared_ptr<TEvtObject> AObject) {
  const EVT_HANDLE handle = AObject.get();
  {
    TCriticalSectionGuard guard(FLock);
    FHandles.emplace(handle, std::move(AObject));
  }
  Succeed();
  return handle;
}

template <typename TObject>
std::shared_ptr<TObject> TWinEvt::Find(EVT_HANDLE AHandle) {
  std::shared_ptr<TEvtObject> object;
  if (AHandle) {
    TCriticalSectionGuard guard(FLock);
    const auto it = FHandles.find(AHandle);
    if (it != FHandles.end()) object = it->second;
  }
  auto typed = std::dynamic_pointer_cast<TObject>(object);
  if (!typed) Fail(ERROR_INVALID_HANDLE);
  return typed;
}

bool TWinEvt::StoreOf(EVT_HANDLE ASession, TChannelStore& AStore) {
  if (!ASession) {
    AStore = FStore;
    return true;
  }
  const auto session = Find<TEvtSession>(ASession);
  if (!session) return false;
  AStore = session->Store;
  return true;
}

EVT_HANDLE TWinEvt::EvtOpenSession(EVT_LOGIN_CLASS ALoginClass, const EVT_RPC_LOGIN* ALogin, uint32_t, uint32_t AFlags) {
  if (ALoginClass != EvtRpcLogin || !ALogin || AFlags != 0) return FailHandle(ERROR_INVALID_PARAMETER);
  if (IsEmpty(ALogin->Server)) return Register(std::make_shared<TEvtSession>(FStore));
  const std::string server = ALogin->Server;
  std::error_code error;
  try {
    TChannelStore store = FStore.ForComputer(server);
    if (std::filesystem::is_directory(store.Root(), error))
      return Register(std::make_shared<TEvtSession>(std::move(store)));
  } catch (const EChannelError& e) {
    return FailHandle(RPC_S_SERVER_UNAVAILABLE, e.what());
  }
  if (server == "localhost" || server == "127.0.0.1" || server == "::1")
    return Register(std::make_shared<TEvtSession>(FStore));
  return FailHandle(RPC_S_SERVER_UNAVAILABLE, "no folder for computer " + server + " in " + FStore.Root().string());
}

EVT_HANDLE TWinEvt::EvtSubscribe(EVT_HANDLE ASession, TEvent* ASignalEvent, const char* AChannelPath,
                                 const char* AQuery, EVT_HANDLE ABookmark, void*, EVT_SUBSCRIBE_CALLBACK ACallback,
                                 uint32_t AFlags) {
  if (ACallback) return FailHandle(ERROR_NOT_SUPPORTED, "subscription callbacks are not offered; pass an event");
  if (!ASignalEvent) return FailHandle(ERROR_INVALID_PARAMETER, "no signal event");
  const bool keepSystem = (AFlags & EvtSubscribeKeepSystemValues) != 0;
  TEvtSubscription::TStart start;
  switch (AFlags & ~static_cast<uint32_t>(EvtSubscribeKeepSystemValues)) {
    case EvtSubscribeToFutureEvents: start = TEvtSubscription::TStart::ssFuture; break;
    case EvtSubscribeStartAtOldestRecord: start = TEvtSubscription::TStart::ssOldest; break;
    case EvtSubscribeStartAfterBookmark: start = TEvtSubscription::TStart::ssAfterBookmark; break;
    default: return FailHandle(ERROR_INVALID_PARAMETER, "unknown subscription flags " + std::to_string(AFlags));
  }
  std::shared_ptr<TEvtBookmark> bookmark;
  if (start == TEvtSubscription::TStart::ssAfterBookmark) {
    if (!ABookmark) return FailHandle(ERROR_INVALID_PARAMETER, "starting after a bookmark needs a bookmark");
    bookmark = Find<TEvtBookmark>(ABookmark);
    if (!bookmark) return nullptr;
  }
  TChannelStore store(FStore);
  if (!StoreOf(ASession, store)) return nullptr;
  try {
    std::unique_ptr<TEventQuery> query = TEventQuery::Parse(AQuery ? AQuery : "");
    std::vector<std::string> channels = query->Channels();
    if (channels.empty()) {
      if (IsEmpty(AChannelPath)) return FailHandle(ERROR_EVT_INVALID_CHANNEL_PATH, "no channel");
      channels.emplace_back(AChannelPath);
    }
    return Register(std::make_shared<TEvtSubscription>(store, std::move(channels), std::move(query), start,
                                                       bookmark.get(), ASignalEvent, keepSystem));
  } catch (const std::exception& e) {
    return FailHandle(CodeOf(e), e.what());
  }
}

bool TWinEvt::EvtNext(EVT_HANDLE AResultSet, uint32_t AEventsSize, EVT_HANDLE* AEvents, uint32_t, uint32_t AFlags,
                      uint32_t* AReturned) {
  if (AReturned) *AReturned = 0;
  if (!AEvents || !AReturned || AEventsSize == 0 || AFlags != 0) return Fail(ERROR_INVALID_PARAMETER);
  const auto subscription = Find<TEvtSubscription>(AResultSet);
  if (!subscription) return false;
  std::vector<std::shared_ptr<TEvtEvent>> events;
  try {
    subscription->Next(AEventsSize, events);
  } catch (const std::exception& e) {
    return Fail(CodeOf(e) == ERROR_EVT_INVALID_CHANNEL_PATH ? ERROR_READ_FAULT : CodeOf(e), e.what());
  }
  if (events.empty()) return Fail(ERROR_NO_MORE_ITEMS);
  {
    // One hold of the table for the whole set.
    TCriticalSectionGuard guard(FLock);
    for (size_t i = 0; i < events.size(); ++i) {
      AEvents[i] = events[i].get();
      FHandles.emplace(AEvents[i], std::move(events[i]));
    }
  }
  *AReturned = static_cast<uint32_t>(events.size());
  Succeed();
  return true;
}

EVT_HANDLE TWinEvt::EvtCreateRenderContext(uint32_t AValuePathsCount, const char* const* AValuePaths, uint32_t AFlags) {
  if (AFlags != EvtRenderContextValues || AValuePathsCount == 0 || !AValuePaths)
    return FailHandle(ERROR_INVALID_PARAMETER, "only value contexts with at least one path are offered");
  auto context = std::make_shared<TEvtRenderContext>();
  for (uint32_t i = 0; i < AValuePathsCount; ++i) {
    auto path = TEvtRenderContext::ParsePath(AValuePaths[i] ? AValuePaths[i] : "");
    if (!path) return FailHandle(ERROR_EVT_INVALID_QUERY, std::string("value path '") + (AValuePaths[i] ? AValuePaths[i] : "") + "'");
    context->Paths.push_back(std::move(*path));
  }
  return Register(std::move(context));
}

bool TWinEvt::EvtRender(EVT_HANDLE AContext, EVT_HANDLE AFragment, uint32_t AFlags, uint32_t ABufferSize,
                        void* ABuffer, uint32_t* ABufferUsed, uint32_t* APropertyCount) {
  if (APropertyCount) *APropertyCount = 0;
  switch (AFlags) {
    case EvtRenderEventXml: {
      const auto event = Find<TEvtEvent>(AFragment);
      return event && CopyOut(event->Xml, ABufferSize, ABuffer, ABufferUsed);
    }
    case EvtRenderBookmark: {
      const auto bookmark = Find<TEvtBookmark>(AFragment);
      return bookmark && CopyOut(bookmark->Render(), ABufferSize, ABuffer, ABufferUsed);
    }
    case EvtRenderEventValues: {
      const auto context = Find<TEvtRenderContext>(AContext);
      if (!context) return false;
      const auto event = Find<TEvtEvent>(AFragment);
      return event && CopyValues(context->Values(event), ABufferSize, ABuffer, ABufferUsed, APropertyCount);
    }
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
}

bool TWinEvt::EvtFormatMessage(EVT_HANDLE APublisherMetadata, EVT_HANDLE AEvent, uint32_t, uint32_t,
                               const EVT_VARIANT*, uint32_t AFlags, uint32_t ABufferSize, char* ABuffer,
                               uint32_t* ABufferUsed) {
  // No metadata handle can exist here (EvtOpenPublisherMetadata never succeeds).
  if (APublisherMetadata) return Fail(ERROR_INVALID_HANDLE);
  const auto event = Find<TEvtEvent>(AEvent);
  if (!event) return false;
  if (AFlags != EvtFormatMessageXml || event->Xml.find("<RenderingInfo") == std::string::npos)
    return Fail(ERROR_EVT_MESSAGE_NOT_FOUND);
  return CopyOut(event->Xml, ABufferSize, ABuffer, ABufferUsed);
}

EVT_HANDLE TWinEvt::EvtOpenPublisherEnum(EVT_HANDLE ASession, uint32_t AFlags) {
  if (AFlags != 0) return FailHandle(ERROR_INVALID_PARAMETER);
  TChannelStore store(FStore);
  if (!StoreOf(ASession, store)) return nullptr;
  return Register(std::make_shared<TEvtNameEnum>(std::vector<std::string>{}));
}

bool TWinEvt::EvtNextPublisherId(EVT_HANDLE APublisherEnum, uint32_t ABufferSize, char* ABuffer, uint32_t* ABufferUsed) {
  return EvtNextChannelPath(APublisherEnum, ABufferSize, ABuffer, ABufferUsed);
}

EVT_HANDLE TWinEvt::EvtOpenPublisherMetadata(EVT_HANDLE ASession, const char* APublisherId, const char*, uint32_t,
                                             uint32_t) {
  TChannelStore store(FStore);
  if (!StoreOf(ASession, store)) return nullptr;
  return FailHandle(ERROR_EVT_PUBLISHER_METADATA_NOT_FOUND,
                    std::string("no message files for publisher ") + (APublisherId ? APublisherId : ""));
}

EVT_HANDLE TWinEvt::EvtCreateBookmark(const char* ABookmarkXml) {
  std::unique_ptr<TEvtBookmark> bookmark;
  std::string error;
  switch (TEvtBookmark::Parse(ABookmarkXml ? ABookmarkXml : "", bookmark, error)) {
    case TEvtBookmark::TParseResult::bprOk: return Register(std::shared_ptr<TEvtObject>(std::move(bookmark)));
    case TEvtBookmark::TParseResult::bprMalformed: return FailHandle(ERROR_XML_PARSE_ERROR, error);
    case TEvtBookmark::TParseResult::bprWrongStructure: return FailHandle(ERROR_INVALID_PARAMETER, error);
  }
  return FailHandle(ERROR_INVALID_PARAMETER);
}

bool TWinEvt::EvtUpdateBookmark(EVT_HANDLE ABookmark, EVT_HANDLE AEvent) {
  const auto bookmark = Find<TEvtBookmark>(ABookmark);
  if (!bookmark) return false;
  const auto event = Find<TEvtEvent>(AEvent);
  if (!event) return false;
  bookmark->Update(*event);
  Succeed();
  return true;
}

std::shared_ptr<const TEventLogSystem> TWinEvt::ParsedSystem(EVT_HANDLE AEvent) {
  const auto event = Find<TEvtEvent>(AEvent);
  if (!event) return nullptr;
  Succeed();
  return event->System;
}

EVT_HANDLE TWinEvt::EvtOpenLog(EVT_HANDLE ASession, const char* APath, uint32_t AFlags) {
  if (AFlags != EvtOpenChannelPath && AFlags != EvtOpenFilePath) return FailHandle(ERROR_INVALID_PARAMETER);
  if (IsEmpty(APath)) return FailHandle(ERROR_EVT_INVALID_CHANNEL_PATH, "no channel");
  if (AFlags == EvtOpenFilePath && APath[0] != '/')
    return FailHandle(ERROR_INVALID_PARAMETER, std::string("'") + APath + "' is not an absolute file path");
  TChannelStore store(FStore);
  if (!StoreOf(ASession, store)) return nullptr;
  try {
    (void)store.Locate(APath);  // refuse names that cannot be channels now
  } catch (const EChannelError& e) {
    return FailHandle(ERROR_EVT_INVALID_CHANNEL_PATH, e.what());
  }
  return Register(std::make_shared<TEvtLog>(std::move(store), APath));
}

bool TWinEvt::EvtGetLogInfo(EVT_HANDLE ALog, uint32_t APropertyId, uint32_t ABufferSize, EVT_VARIANT* ABuffer,
                            uint32_t* ABufferUsed) {
  if (!ABufferUsed) return Fail(ERROR_INVALID_PARAMETER);
  const auto log = Find<TEvtLog>(ALog);
  if (!log) return false;
  if (APropertyId != EvtLogFileSize && APropertyId != EvtLogNumberOfLogRecords &&
      APropertyId != EvtLogOldestRecordNumber)
    return Fail(ERROR_NOT_SUPPORTED, "log property " + std::to_string(APropertyId));
  *ABufferUsed = sizeof(EVT_VARIANT);
  if (!ABuffer || ABufferSize < sizeof(EVT_VARIANT)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  uint64_t value = 0;
  try {
    if (APropertyId == EvtLogFileSize) {
      const TChannelStore::TLocation location = log->Store.Locate(log->Channel);
      std::error_code error;
      if (location.Exists) value = std::filesystem::file_size(location.File, error);
      if (error) return Fail(ERROR_READ_FAULT, location.File.string() + ": " + error.message());
    } else if (const std::optional<TRecordSpan> span = log->Span()) {
      // So that oldest + number - 1 is the newest record's id also where the
      // first record's id is above the last one's.
      const uint64_t oldest = std::min(span->Oldest, span->Newest);
      value = APropertyId == EvtLogOldestRecordNumber ? oldest : span->Newest - oldest + 1;
    }
  } catch (const std::exception& e) {
    return Fail(CodeOf(e) == ERROR_EVT_INVALID_CHANNEL_PATH ? ERROR_READ_FAULT : CodeOf(e), e.what());
  }
  EVT_VARIANT variant{};
  variant.UInt64Val = value;
  variant.Count = 0;
  variant.Type = EvtVarTypeUInt64;
  *ABuffer = variant;
  Succeed();
  return true;
}

EVT_HANDLE TWinEvt::EvtOpenChannelEnum(EVT_HANDLE ASession, uint32_t AFlags) {
  if (AFlags != 0) return FailHandle(ERROR_INVALID_PARAMETER);
  TChannelStore store(FStore);
  if (!StoreOf(ASession, store)) return nullptr;
  try {
    return Register(std::make_shared<TEvtNameEnum>(store.Channels()));
  } catch (const EChannelError& e) {
    return FailHandle(ERROR_FILE_NOT_FOUND, e.what());
  }
}

bool TWinEvt::EvtNextChannelPath(EVT_HANDLE AChannelEnum, uint32_t ABufferSize, char* ABuffer, uint32_t* ABufferUsed) {
  const auto names = Find<TEvtNameEnum>(AChannelEnum);
  if (!names) return false;
  const std::optional<std::string> name = names->Peek();
  if (!name) {
    if (ABufferUsed) *ABufferUsed = 0;
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  if (!CopyOut(*name, ABufferSize, ABuffer, ABufferUsed)) return false;
  names->Advance();
  return true;
}

bool TWinEvt::EvtClose(EVT_HANDLE AObject) {
  std::shared_ptr<TEvtObject> object;
  {
    TCriticalSectionGuard guard(FLock);
    const auto it = AObject ? FHandles.find(AObject) : FHandles.end();
    if (it == FHandles.end()) return Fail(ERROR_INVALID_HANDLE);
    object = std::move(it->second);
    FHandles.erase(it);
  }
  // A subscription joins its watcher thread here, outside the table's lock.
  object.reset();
  Succeed();
  return true;
}

}  // namespace zor
