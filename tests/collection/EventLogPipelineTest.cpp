// The processor and the subscriber: one parse per event for every receiver,
// bad events skipped on both paths, and a subscriber over an XML channel that
// resumes after a restart after the last record every receiver took.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "beats/LogBeat.h"
#include "collection/BookmarkFile.h"
#include "collection/EventLogMessageProcessor.h"
#include "collection/EventLogSubscriber.h"
#include "delivery/AckBatch.h"
#include "delivery/AckWindow.h"
#include "evtx/XmlChannel.h"
#include "platform/Event.h"
#include "support/EventFixtures.h"
#include "support/FileLogger.h"
#include "support/TextFile.h"
#include "support/SanitizedBuild.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/IETFSysLogMessage.h"

namespace zor {
namespace {

using test::WaitUntil;

TCollectionInterface ReaderWithReceivers() {
  TCollectionInterface reader;
  reader.SetName("R1");
  reader.SyslogReceivers().Add(test::SyslogReceiverAt("bsd.example", 514, 0));
  reader.SyslogReceivers().Add(test::SyslogReceiverAt("ietf.example", 6514, 1));
  auto beat = std::make_unique<TBeatReceiver>();
  beat->SetHost("es.example");
  beat->SetPort(9200);
  reader.BeatReceivers().Add(std::move(beat));
  return reader;
}

// Appends ACount events to the XML channel AChannel of the event log root ARoot.
void AppendEvents(const std::filesystem::path& ARoot, const std::string& AChannel, int ACount) {
  for (int i = 0; i < ACount; ++i) {
    TNewEvent event;
    event.Channel = AChannel;
    event.Provider = "TestProvider";
    event.EventId = 100;
    event.Computer = "host1";
    event.TimeCreated = 133540000000000000ull;
    (void)TXmlChannel::Append(ARoot / (TChannelStore::FileStem(AChannel) + ".xml"), event);
  }
}

// Takes every set the readers handed in and is done with each, as a
// processing thread would be: a reader waits while too many of its sets are
// on their way.
TProcessingBatchQueue::TItemList TakeSets(TEventLogMessageProcessor& AProcessor) {
  TProcessingBatchQueue::TItemList sets = AProcessor.SignalledMessageQueue().DequeueAll();
  for (const auto& set : sets)
    if (set->AckBatch()) set->AckBatch()->Acknowledge();
  return sets;
}

// A reader may have one batch for each processing thread and one more on
// its way; only the oldest batch taken by every receiver makes room for the
// next, and the senders' flush count of records is always allowed.
TEST(EventLogMessageProcessorTest, AReaderWaitsWhileAThreadCountAndOneOfItsBatchesAreOnTheirWay) {
  TEvent stopped;
  stopped.Set();  // WaitForRoom answers at once: room now, or none
  for (const int32_t threads : {1, 2, 4}) {
    SCOPED_TRACE(threads);
    TEventLogMessageProcessor processor(threads);
    const size_t allowed = static_cast<size_t>(threads) + 1;
    auto window = std::make_shared<TAckWindow>();
    std::vector<std::shared_ptr<TAckBatch>> batches;
    for (size_t i = 0; i < allowed; ++i) {
      EXPECT_TRUE(processor.WaitForRoom(stopped, window.get())) << "batch " << i;
      batches.push_back(window->Open("p" + std::to_string(i), i, 10));
    }
    EXPECT_FALSE(processor.WaitForRoom(stopped, window.get()));
    EXPECT_TRUE(processor.WaitForRoom(stopped, std::make_shared<TAckWindow>().get())) << "another reader";
    batches.back()->Acknowledge();
    EXPECT_FALSE(processor.WaitForRoom(stopped, window.get())) << "the oldest is still on its way";
    batches.front()->Acknowledge();
    EXPECT_TRUE(processor.WaitForRoom(stopped, window.get()));

    while (processor.WaitForRoom(stopped, window.get())) batches.push_back(window->Open("q", 0, 10));
    EXPECT_EQ(window->PendingBatches(), allowed);
    processor.SetFlushCount(10 * allowed + 1);
    EXPECT_TRUE(processor.WaitForRoom(stopped, window.get())) << "fewer records than the senders gather";
  }
}

// A disk that stalls while a reader's position is saved: the reader goes on
// until two batches' worth of its records were taken by every receiver and
// are not yet saved, then waits until the new position is in place (not for
// the folder's flush after it).
TEST(EventLogMessageProcessorTest, AReaderWaitsForASlowSaveOnceTwoBatchesOfItsTakenRecordsAreUnsaved) {
  test::TempDir dir;
  TEvent flushing;
  TEvent fileFlushed;
  TEvent folderFlushed;
  const TBookmarkFile file(dir.Path(), "App", TFileReplacer([&](TFileReplacer::TStep AStep) {
                             if (AStep == TFileReplacer::TStep::rsFlush) {
                               flushing.Set();
                               (void)fileFlushed.WaitFor(INFINITE);
                             }
                             if (AStep == TFileReplacer::TStep::rsFlushFolder) (void)folderFlushed.WaitFor(INFINITE);
                             return 0;
                           }));
  const auto at = [](int ARecord) {
    return std::optional<std::string>("<BookmarkList><Bookmark RecordId='" + std::to_string(ARecord) + "'/>");
  };
  TEventLogMessageProcessor processor(2);
  const std::shared_ptr<TAckWindow> window = processor.Bookmarks().WindowOf(file, 10);
  TEvent stopped;
  stopped.Set();  // WaitForRoom answers at once: room now, or none
  window->Open(*at(10), 10, 10)->Acknowledge();
  EXPECT_TRUE(WaitUntil([&] { return flushing.IsSet(); })) << "its save stalls";
  EXPECT_TRUE(processor.WaitForRoom(stopped, window.get())) << "one batch unsaved";
  window->Open(*at(20), 20, 10)->Acknowledge();
  EXPECT_FALSE(processor.WaitForRoom(stopped, window.get())) << "two batches unsaved";

  TEvent running;
  fileFlushed.Set();
  EXPECT_TRUE(processor.WaitForRoom(running, window.get()));
  EXPECT_EQ(file.Load(), at(10)) << "in place, its folder not yet flushed";
  folderFlushed.Set();
  EXPECT_TRUE(WaitUntil([&] { return file.Load() == at(20); }));
}

TEST(EventLogMessageProcessorTest, OneBadEventAmongTenIsSkippedOnEveryPath) {
  const std::string good = test::ReadEventFixture("security_4624.xml");
  TEventLogMessageProcessor processor(0);
  EXPECT_EQ(processor.ThreadCount(), 0);
  TProcessingThread thread(0, &processor.SignalledMessageQueue(), &processor.OutboundSyslogQueue(),
                           &processor.OutboundBeatQueue());
  auto batch = std::make_unique<TProcessingBatch>(ReaderWithReceivers());
  for (int i = 0; i < 10; ++i) batch->EventList().push_back(i == 4 ? "<Event><System>" : good);
  processor.SignalledMessageQueue().Enqueue(std::move(batch));
  thread.ProcessQueuedBatches();

  const auto messages = processor.OutboundSyslogQueue().DequeueAll();
  ASSERT_EQ(messages.size(), 18u);
  for (size_t i = 0; i < 9; ++i) {
    // The event's text reaches every receiver whole, the first as a copy and
    // the last as the text the batch handed over.
    EXPECT_EQ(messages[i]->MessageContent(), good);
    EXPECT_EQ(messages[9 + i]->MessageContent(), good);
    EXPECT_NE(dynamic_cast<TBSDSysLogMessage*>(messages[i].get()), nullptr);
    EXPECT_EQ(messages[i]->DestinationHost(), "bsd.example");
    EXPECT_NE(dynamic_cast<TIETFSysLogMessage*>(messages[9 + i].get()), nullptr);
    EXPECT_EQ(messages[9 + i]->DestinationPort(), 6514);
  }
  const auto documents = processor.OutboundBeatQueue().DequeueAll();
  ASSERT_EQ(documents.size(), 9u);
  for (const auto& document : documents) {
    EXPECT_EQ(document->DestinationHost(), "es.example");
    EXPECT_EQ(document->AsJSONString(), test::ReadEventFixture("security_4624.beat.json"));
  }
}

// The processing thread fills one document event after event and queues its
// text: nothing of an event may stay in the document of the next, and every
// beat receiver gets the same text with its own routing.
TEST(EventLogMessageProcessorTest, SuccessiveEventsGiveTheirOwnDocumentsToEveryBeatReceiver) {
  const std::vector<std::string> names = {"security_4624", "scm_7036_rendered", "sysmon_1"};
  TEventLogMessageProcessor processor(0);
  TProcessingThread thread(0, &processor.SignalledMessageQueue(), &processor.OutboundSyslogQueue(),
                           &processor.OutboundBeatQueue());
  TCollectionInterface reader;
  for (const uint16_t port : {9200, 9201}) {
    auto receiver = std::make_unique<TBeatReceiver>();
    receiver->SetHost("es.example");
    receiver->SetPort(port);
    reader.BeatReceivers().Add(std::move(receiver));
  }
  auto batch = std::make_unique<TProcessingBatch>(reader);
  for (int round = 0; round < 2; ++round)
    for (const auto& name : names) batch->EventList().push_back(test::ReadEventFixture(name + ".xml"));
  processor.SignalledMessageQueue().Enqueue(std::move(batch));
  thread.ProcessQueuedBatches();

  const auto documents = processor.OutboundBeatQueue().DequeueAll();
  ASSERT_EQ(documents.size(), 12u);
  for (size_t i = 0; i < documents.size(); ++i) {
    const size_t receiver = i / 6, event = i % 6;
    const TLogBeat& document = *documents[i];
    SCOPED_TRACE(testing::Message() << "receiver " << receiver << ", event " << event);
    const std::string golden = test::ReadEventFixture(names[event % 3] + ".beat.json");
    EXPECT_EQ(document.AsJSONString(), golden);
    EXPECT_EQ(document.DestinationPort(), 9200 + receiver);
    const TJSONValue json = Json::ParseObject(golden);
    EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(document.LogDate()), json["@timestamp"].get<std::string>());
    EXPECT_EQ(document.IdentityText(), json["computer_name"].get<std::string>() + "\n" +
                                           json["log_name"].get<std::string>() + "\n" +
                                           json["record_number"].get<std::string>() + "\n");
  }
}

TEST(EventLogMessageProcessorTest, WithoutThreadsBatchesWaitInTheInboundQueue) {
  TEventLogMessageProcessor processor(0);
  processor.SignalledMessageQueue().Enqueue(std::make_unique<TProcessingBatch>(ReaderWithReceivers()));
  EXPECT_EQ(processor.SignalledMessageQueue().Count(), 1u);
  EXPECT_EQ(processor.OutboundSyslogQueue().Count(), 0u);
}

// Everything the processor has put out for the receivers; with
// AAcknowledge, every item counts as taken by its receiver.
size_t TakeOutput(TEventLogMessageProcessor& AProcessor, bool AAcknowledge,
                  std::vector<std::unique_ptr<TBaseSysLogMessage>>* AMessages = nullptr) {
  size_t count = 0;
  for (auto& m : AProcessor.OutboundSyslogQueue().DequeueAll()) {
    if (AAcknowledge) m->Receipt().Taken();
    if (AMessages) AMessages->push_back(std::move(m));
    ++count;
  }
  for (auto& d : AProcessor.OutboundBeatQueue().DequeueAll()) {
    if (AAcknowledge) d->Receipt().Taken();
    ++count;
  }
  return count;
}

// Each run is a process of its own (a processor of its own): the next one
// resumes after the last record every receiver took, and reads again what
// was read but not taken.
TEST(EventLogSubscriberTest, ARestartResumesAfterTheLastRecordTakenByEveryReceiver) {
  for (const bool acknowledged : {true, false}) {
    SCOPED_TRACE(acknowledged ? "taken" : "not taken");
    test::TempDir root;
    test::TempDir bookmarks;
    TWinEvt api(root.Path());
    const auto write = [&](int ACount) { AppendEvents(root.Path(), "Test/Operational", ACount); };
    TCollectionInterface reader = ReaderWithReceivers();
    reader.SetPath("Test/Operational");
    reader.SetBatchSize(3);
    reader.SetStartAtBeginning(true);
    const auto run = [&](size_t AExpected) {
      std::vector<std::unique_ptr<TBaseSysLogMessage>> got;
      TEventLogMessageProcessor processor(1);
      // Every set may be on its way at once, as for senders that gather
      // more items than the channel holds: nothing taken holds nothing back.
      processor.SetFlushCount(1000);
      TEventLogSubscriber subscriber(&processor, reader, bookmarks.Path().string(), &api);
      EXPECT_TRUE(subscriber.ThreadStart(false, INFINITE));
      size_t items = 0;
      EXPECT_TRUE(WaitUntil([&] {
        items += TakeOutput(processor, acknowledged, &got);
        return items >= 3 * AExpected;
      }));
      EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
      items += TakeOutput(processor, acknowledged, &got);
      EXPECT_EQ(items, 3 * AExpected);
      EXPECT_EQ(subscriber.BookmarkFileName().filename(), "Test%4Operational.xml");
      return got;
    };
    write(7);
    run(7);
    write(4);
    const auto second = run(acknowledged ? 4 : 11);
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second.front()->MessageContent().find(acknowledged ? "<EventRecordID>8</EventRecordID>"
                                                                 : "<EventRecordID>1</EventRecordID>"),
              std::string::npos);
  }
}

// A syslog-only reader whose query parses each event takes the System values
// of that parse on with the text: its messages are the ones a reader without
// a query makes of the same events, also where line breaks were stripped
// from a value after the query read it.
TEST(EventLogSubscriberTest, AQueryGivesTheMessagesAReaderWithoutOneGivesItsEvents) {
  test::TempDir root;
  TWinEvt api(root.Path());
  constexpr int Events = 8;
  for (int i = 0; i < Events; ++i) {
    TNewEvent event;
    event.Channel = "Test/Operational";
    event.Provider = "Test Provider";
    event.EventId = i % 2 == 0 ? 100 : 200;
    event.Level = 1 + static_cast<uint32_t>(i) % 4;
    event.Computer = i == 2 ? "host\r\n2" : i == 4 ? "host\n4" : "host" + std::to_string(i);
    event.TimeCreated = 133540000000000000ull + static_cast<uint64_t>(i) * 12'340'000ull;
    event.ProcessId = 10 + static_cast<uint32_t>(i);
    (void)TXmlChannel::Append(root.Path() / "Test%4Operational.xml", event);
  }
  const auto lines = [&](const std::string& AQuery, size_t AExpected) {
    test::TempDir bookmarks;
    TCollectionInterface reader;
    reader.SetName("R1");
    reader.SetPath("Test/Operational");
    reader.SetStartAtBeginning(true);
    reader.SetBatchSize(100);
    reader.SetSelectionDetail(AQuery);
    reader.SetStripNewLines(true);
    reader.SetDeriveSeverity(true);
    reader.SyslogReceivers().Add(test::SyslogReceiverAt("bsd.example", 514, 0));
    reader.SyslogReceivers().Add(test::SyslogReceiverAt("ietf.example", 6514, 1));
    std::vector<std::unique_ptr<TBaseSysLogMessage>> got;
    TEventLogMessageProcessor processor(1);
    TEventLogSubscriber subscriber(&processor, reader, bookmarks.Path().string(), &api);
    EXPECT_TRUE(subscriber.ThreadStart(false, INFINITE));
    EXPECT_TRUE(WaitUntil([&] {
      TakeOutput(processor, true, &got);
      return got.size() >= 2 * AExpected;
    }));
    EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
    TakeOutput(processor, true, &got);
    std::vector<std::string> result;
    for (const auto& message : got) result.push_back(message->EncodedMessage());
    std::sort(result.begin(), result.end());
    return result;
  };
  std::vector<std::string> selected;
  for (std::string& line : lines("", Events))
    if (line.find("<EventID>100</EventID>") != std::string::npos) selected.push_back(std::move(line));
  ASSERT_EQ(selected.size(), Events);  // half the events, each to both receivers
  EXPECT_EQ(lines("*[System[EventID=100]]", Events / 2), selected);
  // The stripped values are the ones sent.
  for (const std::string& line : selected) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
}

// Within one process, a reader started again (a reconfiguration) goes on
// after the last record read, even before its receivers have taken it: those
// records are still on their way.
TEST(EventLogSubscriberTest, AReaderStartedAgainInTheSameProcessGoesOnAfterTheLastRecordRead) {
  test::TempDir root;
  test::TempDir bookmarks;
  TWinEvt api(root.Path());
  AppendEvents(root.Path(), "App", 5);
  TCollectionInterface reader = ReaderWithReceivers();
  reader.SetPath("App");
  reader.SetBatchSize(2);
  reader.SetStartAtBeginning(true);
  TEventLogMessageProcessor processor(1);
  processor.SetFlushCount(1000);  // the sets not taken hold nothing back
  size_t items = 0;
  for (int start = 0; start < 2; ++start) {
    TEventLogSubscriber subscriber(&processor, reader, bookmarks.Path().string(), &api);
    ASSERT_TRUE(subscriber.ThreadStart(false, INFINITE));
    EXPECT_TRUE(WaitUntil([&] { return subscriber.PassCount() > 0; }));
    EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
  }
  EXPECT_TRUE(WaitUntil([&] {
    items += TakeOutput(processor, false);
    return items >= 15;
  }));
  EXPECT_EQ(items, 15u);
  EXPECT_FALSE(TBookmarkFile(bookmarks.Path(), "App").Load()) << "nothing taken, nothing saved";
}

// A channel with a large backlog before the start is read whole, in line
// order, by the first pass: no new event has to wake the reader again. Its
// ids repeat every 4,999 lines, as in events put together from elsewhere.
TEST(EventLogSubscriberTest, BacklogPresentBeforeTheStartIsReadWholeWithoutNewEvents) {
#ifdef ZOR_SANITIZED_BUILD
  constexpr size_t Count = 100'000;  // the instrumented build takes the same paths with fewer lines
#else
  constexpr size_t Count = 1'000'000;
#endif
  test::TempDir root;
  test::TempDir bookmarks;
  {
    std::ofstream out(root / "Backlog.xml", std::ios::binary);
    for (size_t i = 0; i < Count; ++i)
      out << "<Event><System><Provider Name='P'/><EventID>1</EventID><TimeCreated "
             "SystemTime='2024-01-01T00:00:00.0000000Z'/><EventRecordID>"
          << i % 4999 + 1 << "</EventRecordID><Computer>h</Computer></System><EventData><Data>" << i
          << "</Data></EventData></Event>\n";
  }
  TWinEvt api(root.Path());
  TCollectionInterface reader;
  reader.SetName("Backlog");
  reader.SetPath("Backlog");
  reader.SetBatchSize(1000);
  reader.SetStartAtBeginning(true);
  TEventLogMessageProcessor processor(0);  // the test takes the batches itself
  TEventLogSubscriber subscriber(&processor, reader, bookmarks.Path().string(), &api);
  ASSERT_TRUE(subscriber.ThreadStart(false, INFINITE));

  size_t next = 0;  // the line each event should come from
  size_t outOfOrder = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        for (const auto& batch : TakeSets(processor))
          for (const std::string& xml : batch->EventList()) {
            const size_t at = xml.find("<Data>");
            size_t line = SIZE_MAX;
            if (at != std::string::npos) std::from_chars(xml.data() + at + 6, xml.data() + xml.size(), line);
            if (line != next) ++outOfOrder;
            ++next;
          }
        return next >= Count;
      },
      std::chrono::seconds(600), std::to_string(Count) + " events"));
  EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
  for (const auto& batch : TakeSets(processor)) next += batch->EventList().size();
  EXPECT_EQ(next, Count);
  EXPECT_EQ(outOfOrder, 0u);
}

// A reader held back by its processor shows the records of its channel it
// has not read yet, at its start and after each set it hands in, and 0 once
// it has read everything.
TEST(EventLogSubscriberTest, RecordsBehindFollowTheBacklogDownToZero) {
  test::TempDir root;
  test::TempDir bookmarks;
  TWinEvt api(root.Path());
  const auto write = [&](int ACount) { AppendEvents(root.Path(), "Backlog", ACount); };
  TCollectionInterface reader;
  reader.SetName("Backlog");
  reader.SetPath("Backlog");
  reader.SetBatchSize(10);
  reader.SetStartAtBeginning(true);
  // Without processing threads the inbound queue takes 4 sets; the reader
  // waits for room before handing in a fifth. (The senders' flush count
  // above the channel leaves the limit on its own sets on their way aside.)
  TEventLogMessageProcessor processor(0);
  processor.SetFlushCount(1000);
  const auto fill = [&](size_t ASets) {
    for (size_t i = 0; i < ASets; ++i)
      processor.SignalledMessageQueue().Enqueue(std::make_unique<TProcessingBatch>(reader));
  };
  // Takes the sets until AEvents events came and the reader shows 0 behind.
  const auto drainToZero = [&](const TReaderCounters& ACounters, size_t AEvents) {
    size_t events = 0;
    return WaitUntil([&] {
      for (const auto& batch : TakeSets(processor)) events += batch->EventList().size();
      return events == AEvents && ACounters.RecordsBehind.load() == 0;
    }) << ACounters.RecordsBehind.load() << " behind after " << events << " events";
  };

  write(100);
  {
    TEventLogSubscriber subscriber(&processor, reader, bookmarks.Path().string(), &api);
    const TReaderCounters& counters = subscriber.Counters();
    ASSERT_TRUE(subscriber.ThreadStart(false, INFINITE));
    EXPECT_TRUE(WaitUntil([&] { return counters.Batches.load() == 4 && counters.RecordsBehind.load() == 60; }))
        << counters.RecordsBehind.load() << " behind after " << counters.Batches.load() << " sets";
    EXPECT_TRUE(drainToZero(counters, 100));
    EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
  }

  // Restarted with 25 new records while the queue is full: they show before
  // the first set is read, counted after the saved position.
  write(25);
  fill(4);
  TEventLogSubscriber subscriber(&processor, reader, bookmarks.Path().string(), &api);
  const TReaderCounters& counters = subscriber.Counters();
  ASSERT_TRUE(subscriber.ThreadStart(false, INFINITE));
  EXPECT_TRUE(WaitUntil([&] { return counters.RecordsBehind.load() == 25; }));
  EXPECT_EQ(counters.RecordsRead.load(), 0u);
  EXPECT_TRUE(drainToZero(counters, 25));
  EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
}

TEST(EventLogSubscriberTest, ExpressionThatDoesNotCompileFailsTheConstructor) {
  TCollectionInterface reader = ReaderWithReceivers();
  reader.ExclusionRegex().push_back("(unclosed");
  TEventLogMessageProcessor processor(0);
  test::TempDir dir;
  TWinEvt api(dir.Path());
  EXPECT_THROW(TEventLogSubscriber(&processor, reader, dir.Path().string(), &api), ERegularExpressionError);
}


TEST(BookmarkFileTest, EveryChannelGetsAFileDirectlyInTheFolder) {
  EXPECT_EQ(TBookmarkFile::FileNameOf("Application"), "Application.xml");
  EXPECT_EQ(TBookmarkFile::FileNameOf("Microsoft-Windows-Sysmon/Operational"),
            "Microsoft-Windows-Sysmon%4Operational.xml");
  EXPECT_EQ(TBookmarkFile::FileNameOf("..\\..\\x"), "..%5C..%5Cx.xml");
  EXPECT_EQ(TBookmarkFile::FileNameOf("../../etc/x"), "..%4..%4etc%4x.xml");
}

// Bookmark files the API cannot use: reading starts at the oldest record, so
// nothing written while the service was down is skipped. A file that cannot
// be read counts as none. Either is left as it is until a new position has
// been taken by every receiver.
TEST(EventLogSubscriberTest, UnusableBookmarkFilesResumeAtTheOldestRecord) {
  struct TCase {
    const char* Name;
    std::string Text;
    size_t Expected;  // records delivered out of 3 (startAtBeginning false)
    bool Unreadable = false;
  };
  const std::vector<TCase> cases = {
      {"empty", "", 0},  // no bookmark: future events only
      {"unreadable", "", 0, true},
      {"truncated", "<BookmarkList>\r\n  <Bookmark Channel='App' RecordId='2' IsCur", 3},
      {"not xml", "garbage", 3},
      {"vanished record", "<BookmarkList><Bookmark Channel='App' RecordId='0' IsCurrent='true'/></BookmarkList>", 3},
      {"after record 2", "<BookmarkList><Bookmark Channel='App' RecordId='2' IsCurrent='true'/></BookmarkList>", 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TempDir root;
    test::TempDir bookmarks;
    TWinEvt api(root.Path());
    for (int i = 0; i < 3; ++i) {
      TNewEvent event;
      event.Provider = "P";
      (void)TXmlChannel::Append(root / "App.xml", event);
    }
    const TBookmarkFile file(bookmarks.Path(), "App");
    file.Save(c.Text);
    // Larger than any bookmark file may be: reading it fails.
    if (c.Unreadable) std::filesystem::resize_file(file.FileName(), TextFile::MaxTextFileSize + 1);
    const auto size = std::filesystem::file_size(file.FileName());
    TCollectionInterface reader = ReaderWithReceivers();
    reader.SetPath("App");
    reader.SetBatchSize(10);
    reader.SetStartAtBeginning(false);
    {
      TEventLogMessageProcessor processor(1);
      TEventLogSubscriber subscriber(&processor, reader, bookmarks.Path().string(), &api);
      ASSERT_TRUE(subscriber.ThreadStart(false, INFINITE));
      EXPECT_TRUE(WaitUntil([&] { return subscriber.PassCount() > 0; }));
      EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
      size_t items = 0;
      EXPECT_TRUE(WaitUntil([&] {
        items += TakeOutput(processor, true);
        return items >= 3 * c.Expected;
      }));
      EXPECT_EQ(items, 3 * c.Expected);
    }
    if (c.Expected == 0) {
      EXPECT_EQ(std::filesystem::file_size(file.FileName()), size) << "the file is left alone";
    } else {
      const auto text = file.Load();
      ASSERT_TRUE(text);
      EXPECT_NE(text->find("RecordId='3'"), std::string::npos) << *text;
    }
  }
}

// The log wrapped while the reader was stopped: records 3 to 5 are gone.
TEST(EventLogSubscriberTest, ABookmarkedRecordThatIsGoneIsWarnedAboutWithTheRecordsLost) {
  test::TempDir root;
  test::TempDir bookmarks;
  test::TempDir logs;
  TFileLogger::SetLogFolder(logs.Path().string());
  TFileLogger::SetFileLogLevel(LOG_INFO);
  {
    std::ofstream out(root / "Wrapped.xml", std::ios::binary);
    for (int id = 6; id <= 8; ++id)
      out << "<Event><System><Provider Name='P'/><EventID>1</EventID><TimeCreated "
             "SystemTime='2024-01-01T00:00:00.0000000Z'/><EventRecordID>"
          << id << "</EventRecordID><Computer>h</Computer></System></Event>\n";
  }
  TBookmarkFile(bookmarks.Path(), "Wrapped")
      .Save("<BookmarkList><Bookmark Channel='Wrapped' RecordId='2' IsCurrent='true'/></BookmarkList>");
  TWinEvt api(root.Path());
  TCollectionInterface reader = ReaderWithReceivers();
  reader.SetName("W");
  reader.SetPath("Wrapped");
  reader.SetBatchSize(10);
  TEventLogMessageProcessor processor(1);
  TEventLogSubscriber subscriber(&processor, reader, bookmarks.Path().string(), &api);
  ASSERT_TRUE(subscriber.ThreadStart(false, INFINITE));
  size_t items = 0;
  EXPECT_TRUE(WaitUntil([&] {
    items += TakeOutput(processor, true);
    return items >= 9;
  }));
  EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
  EXPECT_TRUE(WaitUntil([&] {
    for (const std::string& line : TFileLogger::CurrentLogFileContents())
      if (line.find(" WARN  - [W]Bookmarked record 2 is no longer in Wrapped: records 3 to 5 were lost (3); "
                    "resuming at record 6") != std::string::npos)
        return true;
    return false;
  }));
}

}  // namespace
}  // namespace zor
