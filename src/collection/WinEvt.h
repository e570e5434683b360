#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>

#include "evtx/ChannelStore.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"

// The Windows Event Log API as the service uses it, backed by the event log
// store of this build (evtx/ChannelStore.h): the same operation names,
// arguments, handles, results and thread-local last-error codes. Text is UTF-8;
// buffer sizes count bytes and include the terminating NUL.

namespace zor {

class TEventLogSystem;

// ---- Handles ---------------------------------------------------------------

// Base of every object behind a handle.
class TEvtObject {
 public:
  virtual ~TEvtObject() = default;
};
// An opaque handle, as the API hands it out; nullptr is "no handle". Release
// every handle with EvtClose (or hold it in a TEvtHandle).
using EVT_HANDLE = TEvtObject*;

class TWinEvt;

// Owns one handle: closes it through Api (the process-wide API when null)
// when it goes.
struct TEvtHandleCloser {
  TWinEvt* Api = nullptr;
  void operator()(EVT_HANDLE AHandle) const;
};
using TEvtHandle = std::unique_ptr<TEvtObject, TEvtHandleCloser>;

// ---- Constants -------------------------------------------------------------

constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_READ_FAULT = 30;
constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
constexpr uint32_t ERROR_FILE_CORRUPT = 1392;
constexpr uint32_t ERROR_XML_PARSE_ERROR = 1465;
constexpr uint32_t RPC_S_SERVER_UNAVAILABLE = 1722;
constexpr uint32_t ERROR_EVT_INVALID_CHANNEL_PATH = 15000;
constexpr uint32_t ERROR_EVT_INVALID_QUERY = 15001;
constexpr uint32_t ERROR_EVT_PUBLISHER_METADATA_NOT_FOUND = 15002;
constexpr uint32_t ERROR_EVT_MESSAGE_NOT_FOUND = 15027;

enum EVT_LOGIN_CLASS : uint32_t { EvtRpcLogin = 1 };

enum EVT_SUBSCRIBE_FLAGS : uint32_t {
  EvtSubscribeToFutureEvents = 1,
  EvtSubscribeStartAtOldestRecord = 2,
  EvtSubscribeStartAfterBookmark = 3,
  // This build's own, added to one of the above: the System values read
  // where the query parsed an event are kept for ParsedSystem.
  EvtSubscribeKeepSystemValues = 0x10000000,
};

enum EVT_RENDER_CONTEXT_FLAGS : uint32_t { EvtRenderContextValues = 0 };

enum EVT_RENDER_FLAGS : uint32_t { EvtRenderEventValues = 0, EvtRenderEventXml = 1, EvtRenderBookmark = 2 };

enum EVT_FORMAT_MESSAGE_FLAGS : uint32_t { EvtFormatMessageXml = 9 };

enum EVT_VARIANT_TYPE : uint32_t { EvtVarTypeNull = 0, EvtVarTypeString = 1, EvtVarTypeUInt64 = 10 };

enum EVT_OPEN_LOG_FLAGS : uint32_t { EvtOpenChannelPath = 1, EvtOpenFilePath = 2 };

enum EVT_LOG_PROPERTY_ID : uint32_t {
  EvtLogFileSize = 3,
  EvtLogNumberOfLogRecords = 5,
  EvtLogOldestRecordNumber = 6,
};

// Login data of EvtOpenSession. Null or empty Server selects the local
// computer; any other names a sub-folder of the event log root. User, Domain
// and Password are accepted and not checked: the store has no accounts.
struct EVT_RPC_LOGIN {
  const char* Server = nullptr;
  const char* User = nullptr;
  const char* Domain = nullptr;
  const char* Password = nullptr;
  uint32_t Flags = 0;
};

// One rendered value. StringVal points into the buffer EvtRender filled.
struct EVT_VARIANT {
  union {
    const char* StringVal;
    uint64_t UInt64Val;
  };
  uint32_t Count;
  uint32_t Type;  // EVT_VARIANT_TYPE
};

// Callbacks are not offered: subscriptions signal their event instead.
using EVT_SUBSCRIBE_CALLBACK = void*;

// ---- The API ---------------------------------------------------------------

// TWinEvt: one process-wide instance (Load) serving every thread; tests may
// create their own over another root. Each operation records its outcome in
// the calling thread's last-error code (GetLastError), as Windows does, and
// never throws. Handles may be used from any thread and closed at any time:
// an operation in flight on a handle keeps its object alive until it returns.
// Handles of one instance mean nothing to another (ERROR_INVALID_HANDLE).
//
// Subscriptions: each has a watcher thread (TChannelWatcher) that Sets the
// subscription's signal event whenever its channel files change; EvtNext then
// hands out the records written since, each once, in record id order (by
// TimeCreated across channels). The signal event must outlive the subscription.
class TWinEvt {
 public:
  // The process-wide instance over ServicePaths().EventLogDir, created at the
  // first call. Safe to call from several threads at once. Never fails: the
  // store needs no library; missing folders show up as channel errors.
  static TWinEvt* Load();
  // Frees the process-wide instance (the service never calls it).
  static void Unload();

  explicit TWinEvt(std::filesystem::path AEventLogRoot);
  ~TWinEvt();
  TWinEvt(const TWinEvt&) = delete;
  TWinEvt& operator=(const TWinEvt&) = delete;

  const TChannelStore& Store() const { return FStore; }

  // The calling thread's last-error code, and its text. SysErrorMessage
  // gives the detail recorded with the thread's last error when ACode is that
  // error, else the standard text of ACode.
  static uint32_t GetLastError();
  static void SetLastError(uint32_t ACode);
  static std::string SysErrorMessage(uint32_t ACode);

  EVT_HANDLE EvtOpenSession(EVT_LOGIN_CLASS ALoginClass, const EVT_RPC_LOGIN* ALogin, uint32_t ATimeout,
                            uint32_t AFlags);
  // AQuery: null, empty, an XPath filter or a QueryList (which names its own
  // channels; AChannelPath is then ignored). ABookmark is required for
  // EvtSubscribeStartAfterBookmark. A bad query fails with
  // ERROR_EVT_INVALID_QUERY; a channel whose file does not exist yet is
  // accepted and read once the file appears.
  EVT_HANDLE EvtSubscribe(EVT_HANDLE ASession, TEvent* ASignalEvent, const char* AChannelPath, const char* AQuery,
                          EVT_HANDLE ABookmark, void* AContext, EVT_SUBSCRIBE_CALLBACK ACallback, uint32_t AFlags);
  // True with 1 to AEventsSize new event handles in AEvents and their count in
  // AReturned; false with ERROR_NO_MORE_ITEMS when nothing is available now
  // (it never waits, whatever ATimeout), or with another code on failure.
  bool EvtNext(EVT_HANDLE AResultSet, uint32_t AEventsSize, EVT_HANDLE* AEvents, uint32_t ATimeout, uint32_t AFlags,
               uint32_t* AReturned);
  // Value paths of the form Event/System/Provider/@Name (element steps and an
  // optional final attribute). Only EvtRenderContextValues.
  EVT_HANDLE EvtCreateRenderContext(uint32_t AValuePathsCount, const char* const* AValuePaths, uint32_t AFlags);
  // Two-call use: with a null or short buffer it fails with
  // ERROR_INSUFFICIENT_BUFFER and sets *ABufferUsed to the size needed.
  // EvtRenderEventXml and EvtRenderBookmark give NUL-terminated UTF-8;
  // EvtRenderEventValues gives AContext's values as EVT_VARIANTs followed by
  // their strings (EvtVarTypeNull for a path that reaches nothing).
  bool EvtRender(EVT_HANDLE AContext, EVT_HANDLE AFragment, uint32_t AFlags, uint32_t ABufferSize, void* ABuffer,
                 uint32_t* ABufferUsed, uint32_t* APropertyCount);
  // No publisher message files exist here, so no metadata handle can exist:
  // with no metadata, an event that carries its own RenderingInfo (a
  // forwarded event) is given whole; anything else fails with
  // ERROR_EVT_MESSAGE_NOT_FOUND.
  bool EvtFormatMessage(EVT_HANDLE APublisherMetadata, EVT_HANDLE AEvent, uint32_t AMessageId, uint32_t AValueCount,
                        const EVT_VARIANT* AValues, uint32_t AFlags, uint32_t ABufferSize, char* ABuffer,
                        uint32_t* ABufferUsed);
  // An enumeration of no publishers: the first EvtNextPublisherId fails with
  // ERROR_NO_MORE_ITEMS.
  EVT_HANDLE EvtOpenPublisherEnum(EVT_HANDLE ASession, uint32_t AFlags);
  bool EvtNextPublisherId(EVT_HANDLE APublisherEnum, uint32_t ABufferSize, char* ABuffer, uint32_t* ABufferUsed);
  // Always fails with ERROR_EVT_PUBLISHER_METADATA_NOT_FOUND.
  EVT_HANDLE EvtOpenPublisherMetadata(EVT_HANDLE ASession, const char* APublisherId, const char* ALogFilePath,
                                      uint32_t ALocale, uint32_t AFlags);
  // Null or empty XML: an empty bookmark. Otherwise Windows bookmark XML
  // (BookmarkList/Bookmark with Channel and RecordId, either quote style);
  // malformed XML fails with ERROR_XML_PARSE_ERROR, a wrong structure with
  // ERROR_INVALID_PARAMETER.
  EVT_HANDLE EvtCreateBookmark(const char* ABookmarkXml);
  bool EvtUpdateBookmark(EVT_HANDLE ABookmark, EVT_HANDLE AEvent);
  // Not in Windows' API (where it has no values to give): the System values
  // of AEvent's XML (EvtRenderEventXml's text) as the event record parser
  // reads them, where a subscription made with EvtSubscribeKeepSystemValues
  // parsed the event for its query; null otherwise (ERROR_SUCCESS), or for a
  // handle that is not an event (ERROR_INVALID_HANDLE).
  std::shared_ptr<const TEventLogSystem> ParsedSystem(EVT_HANDLE AEvent);
  // The channels of the session's folder, one per EvtNextChannelPath call
  // (two-call use), then ERROR_NO_MORE_ITEMS.
  // A channel to ask EvtGetLogInfo about: APath is a channel of the
  // session's folder (EvtOpenChannelPath) or the path of an .evtx or .xml
  // file (EvtOpenFilePath). A channel whose file does not exist yet is
  // accepted and has no records.
  EVT_HANDLE EvtOpenLog(EVT_HANDLE ASession, const char* APath, uint32_t AFlags);
  // One figure of the log's file as it is at the call, as an EvtVarTypeUInt64
  // variant in ABuffer (ABufferUsed: sizeof(EVT_VARIANT); a smaller buffer
  // fails with ERROR_INSUFFICIENT_BUFFER). EvtLogOldestRecordNumber is the id
  // of the first record (0 when there is none; the last record's when that
  // is lower) and EvtLogNumberOfLogRecords counts the records as Windows'
  // own logs, whose ids run on without gaps, give it: newest id - oldest id +
  // 1, so oldest + number - 1 is always the newest record's id (see
  // TRecordSpan for files whose ids do not run on).
  // EvtLogFileSize: bytes. Other properties fail with ERROR_NOT_SUPPORTED.
  bool EvtGetLogInfo(EVT_HANDLE ALog, uint32_t APropertyId, uint32_t ABufferSize, EVT_VARIANT* ABuffer,
                     uint32_t* ABufferUsed);
  EVT_HANDLE EvtOpenChannelEnum(EVT_HANDLE ASession, uint32_t AFlags);
  bool EvtNextChannelPath(EVT_HANDLE AChannelEnum, uint32_t ABufferSize, char* ABuffer, uint32_t* ABufferUsed);
  bool EvtClose(EVT_HANDLE AObject);

 private:
  EVT_HANDLE Register(std::shared_ptr<TEvtObject> AObject);
  template <typename TObject>
  std::shared_ptr<TObject> Find(EVT_HANDLE AHandle);
  // The store a session reads (the local root for no session); false with
  // the last error set for a handle that is not a session.
  bool StoreOf(EVT_HANDLE ASession, TChannelStore& AStore);

  const TChannelStore FStore;
  TCriticalSection FLock;
  // shared_ptr: an operation in flight shares the object with the table, so
  // EvtClose on another thread cannot free it under that operation.
  std::unordered_map<EVT_HANDLE, std::shared_ptr<TEvtObject>> FHandles GUARDED_BY(FLock);
};

}  // namespace zor
