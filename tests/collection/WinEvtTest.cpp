// The Event Log API substitute over a temporary event log root: live
// subscriptions on growing, replaced and late channel files, the three start
// modes, bookmarks across restarts, rendering and the error codes callers see.
#include "collection/WinEvt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "collection/ChannelWatcher.h"
#include "evtx/EvtxReader.h"
#include "evtx/XmlChannel.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using test::WaitUntil;

const std::string SamplesDir = std::string(ZOR_SHARED_DIR) + "/evtx-samples/";
// 733 records in 8 chunks, ids 1..733 in file order.
const std::string GrowingSample = SamplesDir + "mdec_system_service_install.evtx";
constexpr size_t HeaderBytes = 4096;
constexpr size_t ChunkBytes = 65536;

std::string ReadFileBytes(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& APath, std::string_view ABytes, bool AAppend = false) {
  std::ofstream out(APath, std::ios::binary | (AAppend ? std::ios::app : std::ios::trunc));
  out.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
}

uint64_t RecordIdInXml(std::string_view AXml) {
  const size_t at = AXml.find("<EventRecordID>");
  return at == std::string::npos ? 0 : std::stoull(std::string(AXml.substr(at + 15, 20)));
}

// The EventRecordIDs of a whole file, in the reader's order.
std::vector<uint64_t> RecordIdsOf(const std::string& APath) {
  TEvtxReader reader(APath);
  std::vector<uint64_t> ids;
  TEvtxRecord record;
  while (reader.Next(record)) ids.push_back(RecordIdInXml(record.Xml));
  return ids;
}

std::string BookmarkText(const std::string& AChannel, uint64_t ARecordId) {
  return "<BookmarkList>\r\n  <Bookmark Channel='" + AChannel + "' RecordId='" + std::to_string(ARecordId) +
         "' IsCurrent='true'/>\r\n</BookmarkList>";
}

// Bookmark XML without the Offset attributes (where each record starts in its
// file), which the tests that are about record ids leave aside.
std::string WithoutOffsets(std::string AXml) {
  for (size_t at = AXml.find(" Offset='"); at != std::string::npos; at = AXml.find(" Offset='", at))
    AXml.erase(at, AXml.find('\'', at + 9) + 1 - at);
  return AXml;
}

class WinEvtTest : public testing::Test {
 protected:
  TEvtHandle Own(EVT_HANDLE AHandle) { return TEvtHandle(AHandle, TEvtHandleCloser{FApi.get()}); }

  TEvtHandle Subscribe(const char* AChannel, const char* AQuery, uint32_t AFlags, EVT_HANDLE ABookmark = nullptr,
                       EVT_HANDLE ASession = nullptr) {
    EVT_HANDLE handle = FApi->EvtSubscribe(ASession, &FSignal, AChannel, AQuery, ABookmark, nullptr, nullptr, AFlags);
    EXPECT_NE(handle, nullptr) << TWinEvt::SysErrorMessage(TWinEvt::GetLastError());
    return Own(handle);
  }

  std::string Render(EVT_HANDLE AHandle, uint32_t AFlags) {
    uint32_t used = 0;
    uint32_t count = 0;
    EXPECT_FALSE(FApi->EvtRender(nullptr, AHandle, AFlags, 0, nullptr, &used, &count));
    EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::string buffer(used, '\0');
    EXPECT_TRUE(FApi->EvtRender(nullptr, AHandle, AFlags, used, buffer.data(), &used, &count));
    buffer.resize(used - 1);
    return buffer;
  }

  // One pass of the subscriber: every available set, the bookmark following
  // the last event of each set; ends with no-more-items.
  std::vector<std::string> Drain(EVT_HANDLE ASubscription, uint32_t ABatch = 50, EVT_HANDLE ABookmark = nullptr,
                                 size_t AMaxSets = SIZE_MAX) {
    std::vector<std::string> events;
    std::vector<EVT_HANDLE> handles(ABatch);
    uint32_t returned = 0;
    for (size_t set = 0; set < AMaxSets; ++set) {
      if (!FApi->EvtNext(ASubscription, ABatch, handles.data(), INFINITE, 0, &returned)) {
        EXPECT_EQ(TWinEvt::GetLastError(), ERROR_NO_MORE_ITEMS) << TWinEvt::SysErrorMessage(TWinEvt::GetLastError());
        break;
      }
      EXPECT_GE(returned, 1u);
      EXPECT_LE(returned, ABatch);
      for (uint32_t i = 0; i < returned; ++i) {
        events.push_back(Render(handles[i], EvtRenderEventXml));
        if (ABookmark && i + 1 == returned) {
          EXPECT_TRUE(FApi->EvtUpdateBookmark(ABookmark, handles[i]));
        }
        EXPECT_TRUE(FApi->EvtClose(handles[i]));
      }
    }
    return events;
  }

  static std::vector<uint64_t> Ids(const std::vector<std::string>& AEvents) {
    std::vector<uint64_t> ids;
    for (const std::string& xml : AEvents) ids.push_back(RecordIdInXml(xml));
    return ids;
  }

  // Waits for the signal, as the subscriber does, and collects until ACount
  // records have come.
  testing::AssertionResult Collect(EVT_HANDLE ASubscription, size_t ACount, std::vector<uint64_t>& AIds) {
    return WaitUntil(
        [&] {
          if (FSignal.IsSet()) {
            FSignal.Reset();
            for (uint64_t id : Ids(Drain(ASubscription))) AIds.push_back(id);
          }
          return AIds.size() >= ACount;
        },
        std::chrono::seconds(30), std::to_string(ACount) + " records");
  }

  uint64_t Write(const std::string& AChannel, uint32_t AEventId = 1, uint64_t ATime = 0) {
    TNewEvent event;
    event.Channel = AChannel;
    event.Provider = "TestProvider";
    event.EventId = AEventId;
    event.Computer = "host1";
    event.TimeCreated = ATime ? ATime : 133540000000000000ull;
    event.Data = {{"Text", "line one\r\nline two"}};
    return TXmlChannel::Append(FDir / (TChannelStore::FileStem(AChannel) + ".xml"), event);
  }

  test::TempDir FDir;
  std::unique_ptr<TWinEvt> FApi = std::make_unique<TWinEvt>(FDir.Path());
  TEvent FSignal;
};

TEST_F(WinEvtTest, XmlChannelDeliversEveryNewRecordOnceInOrder) {
  for (int i = 0; i < 3; ++i) Write("Application");
  const TEvtHandle subscription = Subscribe("Application", nullptr, EvtSubscribeStartAtOldestRecord);
  ASSERT_TRUE(FSignal.IsSet());
  FSignal.Reset();

  const std::vector<std::string> first = Drain(subscription.get(), 2);
  EXPECT_EQ(Ids(first), (std::vector<uint64_t>{1, 2, 3}));
  // Line breaks inside values come back as the characters Windows renders.
  EXPECT_NE(first[0].find("<Data Name='Text'>line one\r\nline two</Data>"), std::string::npos) << first[0];

  std::thread writer([&] {
    for (int i = 0; i < 5; ++i) Write("Application");
  });
  std::vector<uint64_t> ids;
  EXPECT_TRUE(Collect(subscription.get(), 5, ids));
  writer.join();
  ids.clear();
  for (uint64_t id : Ids(Drain(subscription.get()))) ids.push_back(id);
  EXPECT_TRUE(ids.empty());
}

TEST_F(WinEvtTest, EvtxChannelGrowingChunkByChunkDeliversEachRecordOnce) {
  const std::string sample = ReadFileBytes(GrowingSample);
  const std::vector<uint64_t> all = RecordIdsOf(GrowingSample);
  ASSERT_EQ(all.size(), 733u);
  const size_t firstPart = HeaderBytes + 3 * ChunkBytes;
  WriteFileBytes(FDir / "System.evtx", std::string_view(sample).substr(0, firstPart));

  const TEvtHandle subscription = Subscribe("System", "", EvtSubscribeStartAtOldestRecord);
  std::vector<uint64_t> ids;
  ASSERT_TRUE(Collect(subscription.get(), 1, ids));
  ASSERT_LT(ids.size(), all.size());

  for (size_t at = firstPart; at < sample.size(); at += 2 * ChunkBytes)
    WriteFileBytes(FDir / "System.evtx", std::string_view(sample).substr(at, 2 * ChunkBytes), true);
  EXPECT_TRUE(Collect(subscription.get(), all.size(), ids));
  EXPECT_EQ(ids, all);
}

TEST_F(WinEvtTest, EvtxChannelReplacedByALongerCopy) {
  const std::string sample = ReadFileBytes(GrowingSample);
  WriteFileBytes(FDir / "system.EVTX", std::string_view(sample).substr(0, HeaderBytes + 2 * ChunkBytes));
  // Channel and file names match without regard to letter case.
  const TEvtHandle subscription = Subscribe("System", nullptr, EvtSubscribeStartAtOldestRecord);
  std::vector<uint64_t> ids;
  ASSERT_TRUE(Collect(subscription.get(), 1, ids));

  WriteFileBytes(FDir / "copy.tmp", sample);
  std::filesystem::rename(FDir / "copy.tmp", FDir / "system.EVTX");
  EXPECT_TRUE(Collect(subscription.get(), 733, ids));
  EXPECT_EQ(ids, RecordIdsOf(GrowingSample));
}

TEST_F(WinEvtTest, ChannelFileAppearingAfterSubscribingIsRead) {
  const TEvtHandle subscription = Subscribe("Microsoft-Windows-Sysmon/Operational", nullptr,
                                            EvtSubscribeStartAtOldestRecord);
  FSignal.Reset();
  EXPECT_TRUE(Drain(subscription.get()).empty());
  Write("Microsoft-Windows-Sysmon/Operational");
  EXPECT_TRUE(std::filesystem::exists(FDir / "Microsoft-Windows-Sysmon%4Operational.xml"));
  std::vector<uint64_t> ids;
  EXPECT_TRUE(Collect(subscription.get(), 1, ids));
  EXPECT_EQ(ids, (std::vector<uint64_t>{1}));
}

TEST_F(WinEvtTest, FutureEventsOnlySeesRecordsWrittenAfterSubscribing) {
  for (int i = 0; i < 3; ++i) Write("Application");
  const TEvtHandle subscription = Subscribe("Application", nullptr, EvtSubscribeToFutureEvents);
  EXPECT_TRUE(Drain(subscription.get()).empty());
  Write("Application");
  std::vector<uint64_t> ids;
  EXPECT_TRUE(Collect(subscription.get(), 1, ids));
  EXPECT_EQ(ids, (std::vector<uint64_t>{4}));
}

TEST_F(WinEvtTest, ResumingFromASavedBookmarkHasNoGapAndNoDuplicate) {
  for (int i = 0; i < 5; ++i) Write("Application");
  std::string saved;
  {
    const TEvtHandle bookmark = Own(FApi->EvtCreateBookmark(nullptr));
    EXPECT_EQ(Render(bookmark.get(), EvtRenderBookmark), "<BookmarkList>\r\n</BookmarkList>");
    const TEvtHandle subscription = Subscribe("Application", nullptr, EvtSubscribeStartAtOldestRecord);
    // One set of two, as a pass cut short by a stop request.
    EXPECT_EQ(Ids(Drain(subscription.get(), 2, bookmark.get(), 1)), (std::vector<uint64_t>{1, 2}));
    saved = Render(bookmark.get(), EvtRenderBookmark);
  }
  EXPECT_EQ(WithoutOffsets(saved), BookmarkText("Application", 2));
  FApi = std::make_unique<TWinEvt>(FDir.Path());  // a new process
  Write("Application");

  const TEvtHandle bookmark = Own(FApi->EvtCreateBookmark(saved.c_str()));
  ASSERT_NE(bookmark, nullptr);
  const TEvtHandle subscription = Subscribe("Application", nullptr, EvtSubscribeStartAfterBookmark, bookmark.get());
  EXPECT_EQ(Ids(Drain(subscription.get(), 4, bookmark.get())), (std::vector<uint64_t>{3, 4, 5, 6}));
  EXPECT_EQ(WithoutOffsets(Render(bookmark.get(), EvtRenderBookmark)), BookmarkText("Application", 6));
}

TEST_F(WinEvtTest, BookmarkOfAVanishedRecordResumesAtTheOldestRecordAfterIt) {
  // A channel whose records 1..9 are gone (a wrapped log): ids 10..12 remain.
  std::string lines;
  for (uint64_t id = 10; id <= 12; ++id) {
    TNewEvent event;
    event.Provider = "P";
    AppendOneLine(lines, RenderNewEvent(event, id));
    lines += '\n';
  }
  WriteFileBytes(FDir / "Application.xml", lines);
  const TEvtHandle bookmark = Own(FApi->EvtCreateBookmark(BookmarkText("Application", 4).c_str()));
  const TEvtHandle subscription = Subscribe("Application", nullptr, EvtSubscribeStartAfterBookmark, bookmark.get());
  EXPECT_EQ(Ids(Drain(subscription.get())), (std::vector<uint64_t>{10, 11, 12}));
}

// Channels whose ids repeat and go backwards: an .evtx file that holds
// several generations of records, and an XML channel of lines put together
// from elsewhere. A subscription cut short after any number of sets and
// resumed from its bookmark in a new process delivers the rest: together,
// every record a dump shows, in file order, each once.
TEST_F(WinEvtTest, ResumingAnywhereInChannelsWithIdsOutOfOrderDeliversEveryRecordOnce) {
  std::filesystem::copy_file(SamplesDir + "omer_ts_remoteconnmgr.evtx", FDir / "Generations.evtx");
  std::vector<std::string> generations;
  {
    TEvtxReaderOptions options;
    options.EveryRecord = true;
    TEvtxReader reader(SamplesDir + "omer_ts_remoteconnmgr.evtx", std::move(options));
    TEvtxRecord record;
    while (reader.Next(record)) generations.emplace_back(record.Xml);
  }
  ASSERT_EQ(generations.size(), 1774u);

  std::vector<std::string> forwarded;
  std::string lines;
  for (uint64_t i = 0; i < 300; ++i) {
    TNewEvent event;
    event.Provider = "P";
    event.Data = {{"Line", std::to_string(i)}};
    forwarded.push_back(RenderNewEvent(event, (i * 7) % 50 + 1));  // 1, 8, ..., 50, 7, 14, ...
    AppendOneLine(lines, forwarded.back());
    lines += '\n';
  }
  WriteFileBytes(FDir / "Forwarded.xml", lines);

  struct TCase {
    const char* Channel;
    const std::vector<std::string>* Expected;
    size_t SetsBeforeStop;
  };
  const TCase cases[] = {{"Generations", &generations, 1},  {"Generations", &generations, 9},
                         {"Generations", &generations, 30}, {"Forwarded", &forwarded, 1},
                         {"Forwarded", &forwarded, 3},      {"Forwarded", &forwarded, 5}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Channel << " stopped after " << c.SetsBeforeStop << " sets");
    std::vector<std::string> got;
    std::string saved;
    {
      FApi = std::make_unique<TWinEvt>(FDir.Path());
      const TEvtHandle bookmark = Own(FApi->EvtCreateBookmark(nullptr));
      const TEvtHandle subscription = Subscribe(c.Channel, nullptr, EvtSubscribeStartAtOldestRecord);
      got = Drain(subscription.get(), 50, bookmark.get(), c.SetsBeforeStop);
      saved = Render(bookmark.get(), EvtRenderBookmark);
    }
    FApi = std::make_unique<TWinEvt>(FDir.Path());
    const TEvtHandle bookmark = Own(FApi->EvtCreateBookmark(saved.c_str()));
    ASSERT_NE(bookmark, nullptr);
    const TEvtHandle subscription = Subscribe(c.Channel, nullptr, EvtSubscribeStartAfterBookmark, bookmark.get());
    for (std::string& xml : Drain(subscription.get(), 50)) got.push_back(std::move(xml));
    ASSERT_EQ(got.size(), c.Expected->size());
    EXPECT_TRUE(got == *c.Expected);
  }
}

TEST_F(WinEvtTest, BookmarkXmlForms) {
  struct TCase {
    const char* Xml;
    uint32_t Error;  // ERROR_SUCCESS: accepted
    const char* Rendered;
  };
  const TCase cases[] = {
      {"", ERROR_SUCCESS, "<BookmarkList>\r\n</BookmarkList>"},
      {"<BookmarkList><Bookmark Channel='Security' RecordId='2226' IsCurrent='true'/></BookmarkList>", ERROR_SUCCESS,
       "<BookmarkList>\r\n  <Bookmark Channel='Security' RecordId='2226' IsCurrent='true'/>\r\n</BookmarkList>"},
      {"\xEF\xBB\xBF<BookmarkList>\n <Bookmark Channel=\"A&amp;B\" RecordId=\"18446744073709551615\" IsCurrent=\"True\"/>"
       "\n <Bookmark Channel=\"System\" RecordId=\"7\"/></BookmarkList>",
       ERROR_SUCCESS,
       "<BookmarkList>\r\n  <Bookmark Channel='A&amp;B' RecordId='18446744073709551615' IsCurrent='true'/>\r\n"
       "  <Bookmark Channel='System' RecordId='7'/>\r\n</BookmarkList>"},
      // The place of the record in its file goes along; one that cannot be read is left out.
      {"<BookmarkList><Bookmark Channel='A' RecordId='3' Offset='4096' IsCurrent='true'/><Bookmark Channel='B' "
       "RecordId='4' Offset='-1'/></BookmarkList>",
       ERROR_SUCCESS,
       "<BookmarkList>\r\n  <Bookmark Channel='A' RecordId='3' Offset='4096' IsCurrent='true'/>\r\n"
       "  <Bookmark Channel='B' RecordId='4'/>\r\n</BookmarkList>"},
      {"not xml", ERROR_XML_PARSE_ERROR, nullptr},
      {"<BookmarkList><Bookmark Channel='A' RecordId='1'/>", ERROR_XML_PARSE_ERROR, nullptr},
      {"<Bookmarks/>", ERROR_INVALID_PARAMETER, nullptr},
      {"<BookmarkList><Bookmark Channel='A' RecordId='x'/></BookmarkList>", ERROR_INVALID_PARAMETER, nullptr},
      {"<BookmarkList><Bookmark Channel='A' RecordId='18446744073709551616'/></BookmarkList>", ERROR_INVALID_PARAMETER,
       nullptr},
      {"<BookmarkList><Bookmark RecordId='1'/></BookmarkList>", ERROR_INVALID_PARAMETER, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Xml);
    const TEvtHandle bookmark = Own(FApi->EvtCreateBookmark(c.Xml));
    if (c.Error != ERROR_SUCCESS) {
      EXPECT_EQ(bookmark, nullptr);
      EXPECT_EQ(TWinEvt::GetLastError(), c.Error);
      continue;
    }
    ASSERT_NE(bookmark, nullptr);
    EXPECT_EQ(Render(bookmark.get(), EvtRenderBookmark), c.Rendered);
  }
}

TEST_F(WinEvtTest, InvalidQueryFailsTheSubscriptionWithTheQueryError) {
  Write("Application");
  for (const char* query : {"//Data", "*[contains(EventData/Data,'x')]", "<QueryList><Query>"}) {
    SCOPED_TRACE(query);
    EXPECT_EQ(FApi->EvtSubscribe(nullptr, &FSignal, "Application", query, nullptr, nullptr, nullptr,
                                 EvtSubscribeStartAtOldestRecord),
              nullptr);
    EXPECT_EQ(TWinEvt::GetLastError(), ERROR_EVT_INVALID_QUERY);
    EXPECT_EQ(TWinEvt::SysErrorMessage(ERROR_EVT_INVALID_QUERY).rfind("The specified query is invalid. (", 0), 0u);
  }
}

TEST_F(WinEvtTest, QueryFiltersRecordsAndQueryListMergesChannelsByTime) {
  const TEvtHandle filtered = Subscribe("Application", "*[System[EventID=7]]", EvtSubscribeStartAtOldestRecord);
  const uint64_t base = 133540000000000000ull;
  Write("Application", 7, base + 10);
  Write("System", 7, base + 20);
  Write("Application", 8, base + 30);
  Write("Application", 7, base + 40);
  Write("System", 8, base + 35);
  EXPECT_EQ(Ids(Drain(filtered.get())), (std::vector<uint64_t>{1, 3}));

  const char* queryList =
      "<QueryList><Query Id='0'><Select Path='Application'>*[System[EventID=7]]</Select><Select Path='system'>*"
      "</Select></Query></QueryList>";
  const TEvtHandle bookmark = Own(FApi->EvtCreateBookmark(nullptr));
  const TEvtHandle merged = Subscribe(nullptr, queryList, EvtSubscribeStartAtOldestRecord);
  std::vector<std::string> events = Drain(merged.get(), 10, bookmark.get());
  ASSERT_EQ(events.size(), 4u);
  const char* order[] = {"Application", "System", "System", "Application"};
  for (size_t i = 0; i < events.size(); ++i)
    EXPECT_NE(events[i].find(std::string("<Channel>") + order[i] + "</Channel>"), std::string::npos) << i;
  EXPECT_EQ(WithoutOffsets(Render(bookmark.get(), EvtRenderBookmark)),
            "<BookmarkList>\r\n  <Bookmark Channel='Application' RecordId='3' IsCurrent='true'/>\r\n  <Bookmark "
            "Channel='system' RecordId='2'/>\r\n</BookmarkList>");
  // Resuming from it reads neither channel again.
  const TEvtHandle resumed = Subscribe(nullptr, queryList, EvtSubscribeStartAfterBookmark, bookmark.get());
  EXPECT_TRUE(Drain(resumed.get()).empty());
  Write("System", 9, base + 50);
  EXPECT_EQ(Ids(Drain(resumed.get())), (std::vector<uint64_t>{3}));
}

TEST_F(WinEvtTest, RendersProviderNameValuesWithTheTwoCallConvention) {
  Write("Application");
  const TEvtHandle subscription = Subscribe("Application", nullptr, EvtSubscribeStartAtOldestRecord);
  EVT_HANDLE event = nullptr;
  uint32_t returned = 0;
  ASSERT_TRUE(FApi->EvtNext(subscription.get(), 1, &event, INFINITE, 0, &returned));
  const TEvtHandle owned = Own(event);

  const char* paths[] = {"Event/System/Provider/@Name", "Event/System/Missing/@Name", "Event/System/Computer"};
  const TEvtHandle context = Own(FApi->EvtCreateRenderContext(3, paths, EvtRenderContextValues));
  ASSERT_NE(context, nullptr);
  uint32_t used = 0;
  uint32_t count = 0;
  EXPECT_FALSE(FApi->EvtRender(context.get(), event, EvtRenderEventValues, 0, nullptr, &used, &count));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<EVT_VARIANT> buffer(used / sizeof(EVT_VARIANT) + 1);
  ASSERT_TRUE(FApi->EvtRender(context.get(), event, EvtRenderEventValues, used, buffer.data(), &used, &count));
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(buffer[0].Type, EvtVarTypeString);
  EXPECT_STREQ(buffer[0].StringVal, "TestProvider");
  EXPECT_EQ(buffer[1].Type, EvtVarTypeNull);
  EXPECT_STREQ(buffer[2].StringVal, "host1");

  // No publisher metadata exists here: the subscriber renders plain XML.
  EXPECT_EQ(FApi->EvtOpenPublisherMetadata(nullptr, "TestProvider", nullptr, 0, 0), nullptr);
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_EVT_PUBLISHER_METADATA_NOT_FOUND);
  char text[16];
  EXPECT_FALSE(FApi->EvtFormatMessage(nullptr, event, 0, 0, nullptr, EvtFormatMessageXml, sizeof text, text, &used));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_EVT_MESSAGE_NOT_FOUND);
  const char* badPath[] = {"Event/System[1]"};
  EXPECT_EQ(FApi->EvtCreateRenderContext(1, badPath, EvtRenderContextValues), nullptr);
}

// A context keeps the last event's values between the size and fill calls;
// another event, an earlier one again, or a new event in a closed one's place
// must each get their own values.
TEST_F(WinEvtTest, RenderedValuesBelongToTheEventAskedFor) {
  for (uint32_t id : {11u, 22u, 33u, 44u}) Write("Application", id);
  const TEvtHandle subscription = Subscribe("Application", nullptr, EvtSubscribeStartAtOldestRecord);
  const char* paths[] = {"Event/System/EventID"};
  const TEvtHandle context = Own(FApi->EvtCreateRenderContext(1, paths, EvtRenderContextValues));
  ASSERT_NE(context, nullptr);
  const auto eventId = [&](EVT_HANDLE AEvent) -> std::string {
    uint32_t used = 0, count = 0;
    EXPECT_FALSE(FApi->EvtRender(context.get(), AEvent, EvtRenderEventValues, 0, nullptr, &used, &count));
    std::vector<EVT_VARIANT> buffer(used / sizeof(EVT_VARIANT) + 1);
    if (!FApi->EvtRender(context.get(), AEvent, EvtRenderEventValues, used, buffer.data(), &used, &count)) return "";
    return count == 1 && buffer[0].Type == EvtVarTypeString ? buffer[0].StringVal : "";
  };

  EVT_HANDLE events[2] = {};
  uint32_t returned = 0;
  ASSERT_TRUE(FApi->EvtNext(subscription.get(), 2, events, INFINITE, 0, &returned));
  ASSERT_EQ(returned, 2u);
  EXPECT_EQ(eventId(events[0]), "11");
  EXPECT_EQ(eventId(events[1]), "22");
  EXPECT_EQ(eventId(events[0]), "11");
  for (EVT_HANDLE event : events) EXPECT_TRUE(FApi->EvtClose(event));

  // Freed events: the next ones may take their addresses.
  for (const char* expected : {"33", "44"}) {
    EVT_HANDLE event = nullptr;
    ASSERT_TRUE(FApi->EvtNext(subscription.get(), 1, &event, INFINITE, 0, &returned));
    EXPECT_EQ(eventId(event), expected);
    EXPECT_TRUE(FApi->EvtClose(event));
  }
}

// Values under Event/System come from the part of the event up to its System
// element; events where that cut would mislead must give what the whole
// event gives.
TEST_F(WinEvtTest, SystemValuesMatchTheWholeEventWhereACutWouldMislead) {
  struct Case {
    const char* Xml;
    const char* Provider;  // nullptr: no value
  };
  const Case cases[] = {
      {"<Event><!-- </System> --><System><Provider Name='P1'/><EventRecordID>1</EventRecordID></System></Event>", "P1"},
      {"<Event><System/><EventData><Data><![CDATA[</System>]]></Data><Data><EventRecordID>2</EventRecordID></Data>"
       "</EventData><System><Provider Name='second'/></System></Event>",
       nullptr},
      {"<e:Event xmlns:e='urn:x'><e:System><e:Provider Name='P3'/><e:EventRecordID>3</e:EventRecordID></e:System>"
       "</e:Event><EventRecordID>3</EventRecordID>",
       "P3"},
      {"<Event><Wrapper><System><Provider Name='inner'/></System></Wrapper><System><Provider Name='P4'/>"
       "<EventRecordID>4</EventRecordID></System></Event>",
       "P4"},
      {"<Event><System><Provider Name='P5'/><EventRecordID>5</EventRecordID></System><EventData><Data>x</Data>"
       "</EventData></Event>",
       "P5"},
  };
  std::string lines;
  for (const Case& test : cases) lines += std::string(test.Xml) + "\n";
  WriteFileBytes(FDir / "Application.xml", lines);
  const TEvtHandle subscription = Subscribe("Application", nullptr, EvtSubscribeStartAtOldestRecord);
  const char* paths[] = {"Event/System/Provider/@Name"};
  const TEvtHandle context = Own(FApi->EvtCreateRenderContext(1, paths, EvtRenderContextValues));
  ASSERT_NE(context, nullptr);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.Xml);
    EVT_HANDLE event = nullptr;
    uint32_t returned = 0;
    ASSERT_TRUE(FApi->EvtNext(subscription.get(), 1, &event, INFINITE, 0, &returned));
    const TEvtHandle owned = Own(event);
    std::vector<EVT_VARIANT> buffer(16);
    uint32_t used = 0, count = 0;
    ASSERT_TRUE(FApi->EvtRender(context.get(), event, EvtRenderEventValues,
                                static_cast<uint32_t>(buffer.size() * sizeof(EVT_VARIANT)), buffer.data(), &used,
                                &count));
    ASSERT_EQ(count, 1u);
    if (test.Provider == nullptr) {
      EXPECT_EQ(buffer[0].Type, EvtVarTypeNull);
    } else {
      ASSERT_EQ(buffer[0].Type, EvtVarTypeString);
      EXPECT_STREQ(buffer[0].StringVal, test.Provider);
    }
  }
}

TEST_F(WinEvtTest, EnumeratesChannelsOfTheSessionAndNoPublishers) {
  Write("Application");
  WriteFileBytes(FDir / "Microsoft-Windows-Sysmon%4Operational.evtx", ReadFileBytes(SamplesDir + "omer_sysmon.evtx"));
  WriteFileBytes(FDir / "notes.txt", "not a channel");
  std::filesystem::create_directory(FDir / "srv01");
  WriteFileBytes(FDir / "srv01" / "Security.xml", "");

  auto names = [&](EVT_HANDLE ASession) {
    const TEvtHandle channels = Own(FApi->EvtOpenChannelEnum(ASession, 0));
    std::vector<std::string> result;
    while (true) {
      uint32_t used = 0;
      if (!FApi->EvtNextChannelPath(channels.get(), 0, nullptr, &used)) {
        if (TWinEvt::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
      }
      std::string name(used, '\0');
      EXPECT_TRUE(FApi->EvtNextChannelPath(channels.get(), used, name.data(), &used));
      result.push_back(name.substr(0, used - 1));
    }
    EXPECT_EQ(TWinEvt::GetLastError(), ERROR_NO_MORE_ITEMS);
    return result;
  };
  EXPECT_EQ(names(nullptr), (std::vector<std::string>{"Application", "Microsoft-Windows-Sysmon/Operational"}));

  EVT_RPC_LOGIN login;
  login.Server = "srv01";
  login.User = "svc";
  login.Domain = "CORP";
  const TEvtHandle remote = Own(FApi->EvtOpenSession(EvtRpcLogin, &login, 0, 0));
  ASSERT_NE(remote, nullptr);
  EXPECT_EQ(names(remote.get()), (std::vector<std::string>{"Security"}));

  for (const char* server : {"nohost", "..", "a/b"}) {
    login.Server = server;
    EXPECT_EQ(FApi->EvtOpenSession(EvtRpcLogin, &login, 0, 0), nullptr) << server;
    EXPECT_EQ(TWinEvt::GetLastError(), RPC_S_SERVER_UNAVAILABLE);
  }

  const TEvtHandle publishers = Own(FApi->EvtOpenPublisherEnum(nullptr, 0));
  uint32_t used = 0;
  EXPECT_FALSE(FApi->EvtNextPublisherId(publishers.get(), 0, nullptr, &used));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_NO_MORE_ITEMS);
}

TEST_F(WinEvtTest, RemoteSessionSubscribesToTheComputersFolder) {
  std::filesystem::create_directory(FDir / "srv01");
  TNewEvent event;
  event.Provider = "P";
  TXmlChannel::Append(FDir / "srv01" / "Security.xml", event);
  TXmlChannel::Append(FDir / "srv01" / "Security.xml", event);
  Write("Security");  // the local computer's channel of the same name

  EVT_RPC_LOGIN login;
  login.Server = "srv01";
  const TEvtHandle session = Own(FApi->EvtOpenSession(EvtRpcLogin, &login, 0, 0));
  const TEvtHandle subscription = Subscribe("Security", nullptr, EvtSubscribeStartAtOldestRecord, nullptr, session.get());
  EXPECT_EQ(Drain(subscription.get()).size(), 2u);
}

// EvtGetLogInfo of each kind of channel: the oldest record's id and the
// count by ids, so that oldest + count - 1 is the newest record's id.
TEST_F(WinEvtTest, LogInfoGivesTheOldestAndTheNewestRecordOfAChannel) {
  std::filesystem::copy_file(GrowingSample, FDir / "System.evtx");
  for (int i = 0; i < 5; ++i) Write("Application");
  const auto lineWithId = [](uint64_t AId) {
    TNewEvent event;
    event.Provider = "P";
    std::string text;
    AppendOneLine(text, RenderNewEvent(event, AId));
    return text + "\n";
  };
  const std::string line = lineWithId(9);
  const std::string earlier = lineWithId(3);
  // Ids going backwards; a last line still being written does not count.
  WriteFileBytes(FDir / "Backwards.xml", line + earlier + "<Event><System><EventRecordID>77</EventRecordID>");
  // Over 64 KiB of lines without an id after the last record.
  WriteFileBytes(FDir / "Padded.xml", line + earlier + std::string(3000, '\n') + std::string(70000, 'x') + "\n");
  WriteFileBytes(FDir / "Empty.xml", "");

  struct TCase {
    const char* Channel;
    uint64_t Oldest;
    uint64_t Count;
  };
  const TCase cases[] = {{"System", 1, 733},  {"Application", 1, 5}, {"Backwards", 3, 1},
                         {"Padded", 3, 1},    {"Empty", 0, 0},       {"NotThereYet", 0, 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Channel);
    const TEvtHandle log = Own(FApi->EvtOpenLog(nullptr, c.Channel, EvtOpenChannelPath));
    ASSERT_NE(log, nullptr) << TWinEvt::SysErrorMessage(TWinEvt::GetLastError());
    const auto figure = [&](EVT_LOG_PROPERTY_ID AProperty) {
      EVT_VARIANT value{};
      uint32_t used = 0;
      EXPECT_TRUE(FApi->EvtGetLogInfo(log.get(), AProperty, sizeof value, &value, &used));
      EXPECT_EQ(used, sizeof value);
      EXPECT_EQ(value.Type, EvtVarTypeUInt64);
      return value.UInt64Val;
    };
    EXPECT_EQ(figure(EvtLogOldestRecordNumber), c.Oldest);
    EXPECT_EQ(figure(EvtLogNumberOfLogRecords), c.Count);
  }

  // The figures are those of the file at the call.
  const TEvtHandle log = Own(FApi->EvtOpenLog(nullptr, "Application", EvtOpenChannelPath));
  EXPECT_EQ(Write("Application"), 6u);
  EVT_VARIANT value{};
  uint32_t used = 0;
  ASSERT_TRUE(FApi->EvtGetLogInfo(log.get(), EvtLogNumberOfLogRecords, sizeof value, &value, &used));
  EXPECT_EQ(value.UInt64Val, 6u);
  ASSERT_TRUE(FApi->EvtGetLogInfo(log.get(), EvtLogFileSize, sizeof value, &value, &used));
  EXPECT_EQ(value.UInt64Val, std::filesystem::file_size(FDir / "Application.xml"));
  const TEvtHandle byPath = Own(FApi->EvtOpenLog(nullptr, (FDir / "System.evtx").c_str(), EvtOpenFilePath));
  ASSERT_TRUE(FApi->EvtGetLogInfo(byPath.get(), EvtLogNumberOfLogRecords, sizeof value, &value, &used));
  EXPECT_EQ(value.UInt64Val, 733u);

  // Refusals: a short buffer (with the size needed), a property not
  // offered, a handle of another kind, a relative file path.
  EXPECT_FALSE(FApi->EvtGetLogInfo(log.get(), EvtLogNumberOfLogRecords, sizeof value - 1, &value, &used));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(used, sizeof value);
  EXPECT_FALSE(FApi->EvtGetLogInfo(log.get(), 7, sizeof value, &value, &used));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_NOT_SUPPORTED);
  const TEvtHandle bookmark = Own(FApi->EvtCreateBookmark(nullptr));
  EXPECT_FALSE(FApi->EvtGetLogInfo(bookmark.get(), EvtLogNumberOfLogRecords, sizeof value, &value, &used));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(FApi->EvtOpenLog(nullptr, "System.evtx", EvtOpenFilePath), nullptr);
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(WinEvtTest, HandlesAndArgumentsAreChecked) {
  EVT_HANDLE events[4];
  uint32_t returned = 7;
  EXPECT_FALSE(FApi->EvtNext(nullptr, 4, events, INFINITE, 0, &returned));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(returned, 0u);

  Write("Application");
  EVT_HANDLE subscription = FApi->EvtSubscribe(nullptr, &FSignal, "Application", nullptr, nullptr, nullptr, nullptr,
                                               EvtSubscribeStartAtOldestRecord);
  ASSERT_NE(subscription, nullptr);
  EXPECT_FALSE(FApi->EvtNext(subscription, 0, events, INFINITE, 0, &returned));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INVALID_PARAMETER);
  // A handle of the wrong kind, and a closed one.
  EXPECT_FALSE(FApi->EvtUpdateBookmark(subscription, subscription));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(FApi->EvtClose(subscription));
  EXPECT_FALSE(FApi->EvtClose(subscription));
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INVALID_HANDLE);

  EXPECT_EQ(FApi->EvtSubscribe(nullptr, &FSignal, "Application", nullptr, nullptr, nullptr, nullptr,
                               EvtSubscribeStartAfterBookmark),
            nullptr);
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FApi->EvtSubscribe(nullptr, &FSignal, "", nullptr, nullptr, nullptr, nullptr, EvtSubscribeToFutureEvents),
            nullptr);
  EXPECT_EQ(TWinEvt::GetLastError(), ERROR_EVT_INVALID_CHANNEL_PATH);

  // The last error belongs to the thread that failed.
  std::thread([] { EXPECT_EQ(TWinEvt::GetLastError(), ERROR_SUCCESS); }).join();
}

TEST_F(WinEvtTest, ClosingASubscriptionWhileAnotherThreadReadsIsSafe) {
  for (int i = 0; i < 200; ++i) Write("Application");
  EVT_HANDLE subscription = FApi->EvtSubscribe(nullptr, &FSignal, "Application", nullptr, nullptr, nullptr, nullptr,
                                               EvtSubscribeStartAtOldestRecord);
  std::atomic<bool> closed{false};
  std::thread reader([&] {
    EVT_HANDLE events[3];
    uint32_t returned = 0;
    while (FApi->EvtNext(subscription, 3, events, INFINITE, 0, &returned))
      for (uint32_t i = 0; i < returned; ++i) (void)FApi->EvtClose(events[i]);
    const uint32_t error = TWinEvt::GetLastError();
    EXPECT_TRUE(error == ERROR_INVALID_HANDLE || error == ERROR_NO_MORE_ITEMS) << error;
    closed = true;
  });
  EXPECT_TRUE(FApi->EvtClose(subscription));
  reader.join();
  EXPECT_TRUE(closed);
}

TEST(WinEvtLoadTest, ConcurrentLoadsShareOneInstance) {
  TWinEvt* loaded[2] = {};
  std::thread other([&] { loaded[1] = TWinEvt::Load(); });
  loaded[0] = TWinEvt::Load();
  other.join();
  EXPECT_NE(loaded[0], nullptr);
  EXPECT_EQ(loaded[0], loaded[1]);
  EXPECT_EQ(TWinEvt::Load(), loaded[0]);
}

class ChannelWatcherTest : public testing::Test {
 protected:
  test::TempDir FDir;
  std::atomic<int> FCalls{0};
};

TEST_F(ChannelWatcherTest, PollingFindsChangesWithoutInotify) {
  TChannelWatcher::TOptions options;
  options.UseInotify = false;
  options.PollInterval = std::chrono::milliseconds(5);
  TChannelWatcher watcher(TChannelStore(FDir.Path()), {"Application"}, [&] { ++FCalls; }, options);
  EXPECT_FALSE(watcher.Watching());
  const int before = FCalls.load();
  WriteFileBytes(FDir / "Application.xml", "a\n");
  EXPECT_TRUE(WaitUntil([&] { return FCalls.load() > before; }));
  const int afterCreate = FCalls.load();
  WriteFileBytes(FDir / "Application.xml", "b\n", true);
  EXPECT_TRUE(WaitUntil([&] { return FCalls.load() > afterCreate; }));
}

TEST_F(ChannelWatcherTest, FolderCreatedLaterIsWatchedOnceItExists) {
  TChannelWatcher::TOptions options;
  options.PollInterval = std::chrono::milliseconds(5);
  const std::filesystem::path root = FDir / "EventLogs";
  TChannelWatcher watcher(TChannelStore(root), {"Application", (FDir / "archive.evtx").string()}, [&] { ++FCalls; },
                          options);
  EXPECT_FALSE(watcher.Watching());
  std::filesystem::create_directory(root);
  EXPECT_TRUE(WaitUntil([&] { return watcher.Watching(); }));
  const int before = FCalls.load();
  WriteFileBytes(root / "APPLICATION.xml", "a\n");
  EXPECT_TRUE(WaitUntil([&] { return FCalls.load() > before; }));
  const int afterRoot = FCalls.load();
  WriteFileBytes(FDir / "archive.evtx", "x");
  EXPECT_TRUE(WaitUntil([&] { return FCalls.load() > afterRoot; }));
}

}  // namespace
}  // namespace zor
