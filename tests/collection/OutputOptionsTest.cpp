// The reader options that shape what leaves the collection layer, each seen
// on the whole path: events written to a channel file, read and filtered by a
// subscriber, turned into messages by a processing thread for one BSD and one
// IETF receiver.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collection/BookmarkFile.h"
#include "collection/EventLogMessageProcessor.h"
#include "collection/EventLogSubscriber.h"
#include "evtx/ChannelStore.h"
#include "support/ScopedTimeZone.h"
#include "support/EventFixtures.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/IETFSysLogMessage.h"

namespace zor {
namespace {

using test::WaitUntil;

// Four events as the channel renders them; line breaks inside values are real
// CR/LF characters here (the channel file stores them as character references).
std::string ServiceEvent() {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
         "<Provider Name='Service Control Manager' Guid='{555908d1-a6d7-4695-8e1e-26931d2012f4}'/>"
         "<EventID Qualifiers='16384'>7036</EventID><Level>4</Level>"
         "<TimeCreated SystemTime='2023-05-22T14:43:53.1670895Z'/><EventRecordID>1</EventRecordID>"
         "<Execution ProcessID='776' ThreadID='5788'/><Channel>Options/Test</Channel><Computer>srv01</Computer>"
         "</System><EventData><Data Name='param1'>Windows Update</Data><Data Name='param2'>running</Data></EventData>"
         "<RenderingInfo Culture='en-US'><Message>The Windows Update service entered the running state.</Message>"
         "<Level>Information</Level></RenderingInfo></Event>";
}

std::string CrashEvent(const std::string& ADetail) {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
         "<Provider Name='Application Error'/><EventID>1000</EventID><Level>2</Level>"
         "<TimeCreated SystemTime='2024-01-09T03:04:05.5000000Z'/><EventRecordID>2</EventRecordID>"
         "<Execution ProcessID='4242' ThreadID='1'/><Channel>Options/Test</Channel><Computer>ws7</Computer>"
         "</System><EventData><Data Name='Detail'>" +
         ADetail + "</Data></EventData></Event>";
}

std::string DiskEvent(const std::string& AMessage) {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
         "<Provider Name='Disk'/><EventID>11</EventID><Level>1</Level>"
         "<TimeCreated SystemTime='2022-11-30T23:59:59.9990000Z'/><EventRecordID>3</EventRecordID>"
         "<Execution ProcessID='0' ThreadID='0'/><Channel>Options/Test</Channel><Computer>fs1.corp.example</Computer>"
         "</System><RenderingInfo Culture='en-US'><Message>" +
         AMessage + "</Message><Level>Critical</Level></RenderingInfo></Event>";
}

std::string KernelEvent() {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
         "<Provider Name='Microsoft-Windows-Kernel-General'/><EventID>16</EventID><Level>5</Level>"
         "<TimeCreated SystemTime='2021-03-14T07:30:00.0000000Z'/><EventRecordID>4</EventRecordID>"
         "<Channel>Options/Test</Channel><Computer>k1</Computer></System></Event>";
}

const std::string CrashDetail = "first line\r\nsecond line\nthird\rend";
const std::string DiskMessage = "Disk failure.\r\nReplace it.";

// Each event as written and as it reads once stripNewLines has removed its
// line breaks.
const std::vector<std::string> RawEvents = {ServiceEvent(), CrashEvent(CrashDetail), DiskEvent(DiskMessage),
                                            KernelEvent()};
const std::vector<std::string> FlatEvents = {ServiceEvent(), CrashEvent("first line second linethirdend"),
                                             DiskEvent("Disk failure. Replace it."), KernelEvent()};

// What follows the PRI of each event's line: the event's UTC time as written
// (the BSD time stamp is local, yet shows the UTC wall-clock time whatever the
// zone), host, tag and process id; a process id 0 is shown by BSD but is "-"
// in IETF, a missing one leaves out the brackets.
const std::vector<std::string> BsdHeaders = {
    "May 22 14:43:53 srv01 ServiceControlManager[776]: ", "Jan  9 03:04:05 ws7 ApplicationError[4242]: ",
    "Nov 30 23:59:59 fs1.corp.example Disk[0]: ", "Mar 14 07:30:00 k1 Microsoft-Windows-Kernel-General: "};
const std::vector<std::string> IetfHeaders = {
    "1 2023-05-22T14:43:53.167Z srv01 ServiceControlManager 776 - - ",
    "1 2024-01-09T03:04:05.500Z ws7 ApplicationError 4242 - - ",
    "1 2022-11-30T23:59:59.999Z fs1.corp.example Disk - - - ",
    "1 2021-03-14T07:30:00.000Z k1 Microsoft-Windows-Kernel-General - - - "};

constexpr const char* Raw = "$RAW";    // the event's XML with its line breaks
constexpr const char* Flat = "$FLAT";  // the event's XML without them

struct TOutput {
  size_t Event;      // index into RawEvents
  int Pri;           // ignored for text-only messages
  std::string Text;  // Raw, Flat or the literal message text
};

struct TOptionCase {
  const char* Name;
  std::function<void(TCollectionInterface&)> Configure;
  bool TextOnly;  // both receivers get bare BSD text
  std::vector<TOutput> Expected;
};

// Facility local0 (16): PRI 128 + severity.
constexpr int Pri(TSyslogSeverity ASeverity) { return 16 * 8 + static_cast<int>(ASeverity); }
constexpr int Warning = Pri(TSyslogSeverity::slWarning);

std::vector<TOutput> All(const char* AText, int APri = Warning) {
  return {{0, APri, AText}, {1, APri, AText}, {2, APri, AText}, {3, APri, AText}};
}

const std::vector<TOptionCase> OptionCases = {
    {"Defaults", nullptr, false, All(Raw)},
    {"StripNewLines", [](TCollectionInterface& AReader) { AReader.SetStripNewLines(true); }, false, All(Flat)},
    // The rendered message where the event carries one; the parser turns the
    // CR LF inside it into one LF, as XML readers do.
    {"Parse", [](TCollectionInterface& AReader) { AReader.SetParse(true); }, false,
     {{0, Warning, "The Windows Update service entered the running state."},
      {1, Warning, Raw},
      {2, Warning, "Disk failure.\nReplace it."},
      {3, Warning, Raw}}},
    {"ParseAfterStripNewLines",
     [](TCollectionInterface& AReader) {
       AReader.SetParse(true);
       AReader.SetStripNewLines(true);
     },
     false,
     {{0, Warning, "The Windows Update service entered the running state."},
      {1, Warning, Flat},
      {2, Warning, "Disk failure. Replace it."},
      {3, Warning, Flat}}},
    // Levels 4, 2, 1 and 5.
    {"DeriveSeverity", [](TCollectionInterface& AReader) { AReader.SetDeriveSeverity(true); }, false,
     {{0, Pri(TSyslogSeverity::slNotice), Raw},
      {1, Pri(TSyslogSeverity::slError), Raw},
      {2, Pri(TSyslogSeverity::slCritical), Raw},
      {3, Pri(TSyslogSeverity::slInformational), Raw}}},
    {"DefaultSeverityWhenNotDerived",
     [](TCollectionInterface& AReader) { AReader.SetDefaultSeverity(TSyslogSeverity::slAlert); }, false,
     All(Raw, Pri(TSyslogSeverity::slAlert))},
    {"DerivedSeverityIgnoresTheDefault",
     [](TCollectionInterface& AReader) {
       AReader.SetDeriveSeverity(true);
       AReader.SetDefaultSeverity(TSyslogSeverity::slAlert);
     },
     false,
     {{0, Pri(TSyslogSeverity::slNotice), Raw},
      {1, Pri(TSyslogSeverity::slError), Raw},
      {2, Pri(TSyslogSeverity::slCritical), Raw},
      {3, Pri(TSyslogSeverity::slInformational), Raw}}},
    {"RawLogOnly",
     [](TCollectionInterface& AReader) {
       AReader.SetRawLogOnly(true);
       AReader.SetDeriveSeverity(true);
     },
     true, All(Raw)},
    {"RawLogOnlyParsedAndStripped",
     [](TCollectionInterface& AReader) {
       AReader.SetRawLogOnly(true);
       AReader.SetParse(true);
       AReader.SetStripNewLines(true);
     },
     true,
     {{0, 0, "The Windows Update service entered the running state."},
      {1, 0, Flat},
      {2, 0, "Disk failure. Replace it."},
      {3, 0, Flat}}},
    {"ExclusionDropsEveryMatch",
     [](TCollectionInterface& AReader) {
       AReader.ExclusionRegex() = {"<EventID Qualifiers='\\d+'>7036</EventID>", "<Level>1</Level>"};
     },
     false, {{1, Warning, Raw}, {3, Warning, Raw}}},
    // Exclusions look at the event before its line breaks are stripped.
    {"ExclusionMatchesTheUnstrippedEvent",
     [](TCollectionInterface& AReader) {
       AReader.SetStripNewLines(true);
       AReader.ExclusionRegex() = {"first line\\r\\nsecond"};
     },
     false, {{0, Warning, Flat}, {2, Warning, Flat}, {3, Warning, Flat}}},
    {"ExclusionDoesNotSeeTheStrippedEvent",
     [](TCollectionInterface& AReader) {
       AReader.SetStripNewLines(true);
       AReader.ExclusionRegex() = {"first line second line"};
     },
     false, All(Flat)},
    // Case-sensitive, and a blank line in the list drops nothing.
    {"ExclusionIsCaseSensitiveAndIgnoresEmptyLines",
     [](TCollectionInterface& AReader) { AReader.ExclusionRegex() = {"", "<level>2</level>", "Kernel-General'"}; },
     false, {{0, Warning, Raw}, {1, Warning, Raw}, {2, Warning, Raw}}},
    {"ExclusionOfEverything", [](TCollectionInterface& AReader) { AReader.ExclusionRegex() = {"<Event"}; }, false,
     {}},
};

// One fixture: a channel of the four events in an event log root, a reader
// with a BSD and an IETF receiver, a subscriber that reads the channel once,
// and a processing thread driven from the test so that every batch is turned
// into messages before they are looked at. The time zone is one with daylight
// saving time, set while no other thread runs.
class OutputOptionsTest : public testing::TestWithParam<TOptionCase> {
 protected:
  static constexpr const char* Channel = "Options/Test";

  void SetUp() override {
    std::ofstream file(FRoot / (TChannelStore::FileStem(Channel) + ".xml"), std::ios::binary);
    for (const std::string& event : RawEvents) file << test::XmlChannelLine(event) << "\r\n";
  }


  TCollectionInterface Reader() const {
    TCollectionInterface reader;
    reader.SetName("options");
    reader.SetPath(Channel);
    reader.SetBatchSize(3);  // two batches for four events
    reader.SetStartAtBeginning(true);
    reader.SetDefaultFacility(TSyslogFacility::sfLocalUseZero);
    reader.SetDefaultSeverity(TSyslogSeverity::slWarning);
    reader.SetDeriveSeverity(false);
    reader.SetParse(false);
    reader.SetRawLogOnly(false);
    reader.SetStripNewLines(false);
    reader.SyslogReceivers().Add(test::SyslogReceiverAt("bsd.example", 514, 0));
    reader.SyslogReceivers().Add(test::SyslogReceiverAt("ietf.example", 6514, 1));
    return reader;
  }

  // Every message the reader's options produce for the channel.
  std::vector<std::unique_ptr<TBaseSysLogMessage>> Run(const TCollectionInterface& AReader) {
    TWinEvt api(FRoot.Path());
    TEventLogMessageProcessor processor(0);
    {
      TEventLogSubscriber subscriber(&processor, AReader, FBookmarks.Path().string(), &api);
      EXPECT_TRUE(subscriber.ThreadStart(false, INFINITE));
      EXPECT_TRUE(WaitUntil([&] { return subscriber.PassCount() > 0; }));
      EXPECT_TRUE(subscriber.ThreadStop(true, INFINITE));
    }
    EXPECT_EQ(processor.SignalledMessageQueue().Count(), 2u);
    TProcessingThread thread(0, &processor.SignalledMessageQueue(), &processor.OutboundSyslogQueue(),
                             &processor.OutboundBeatQueue());
    thread.ProcessQueuedBatches();
    return processor.OutboundSyslogQueue().DequeueAll();
  }

  test::ScopedTimeZone FZone{"EST5EDT,M3.2.0,M11.1.0"};
  test::TempDir FRoot;
  test::TempDir FBookmarks;
};

TEST_P(OutputOptionsTest, ShapesTheMessagesOfBothReceivers) {
  const TOptionCase& c = GetParam();
  TCollectionInterface reader = Reader();
  if (c.Configure) c.Configure(reader);
  const auto messages = Run(reader);

  // Per batch, the BSD receiver's list comes before the IETF receiver's.
  std::vector<const TBaseSysLogMessage*> bsd;
  std::vector<const TBaseSysLogMessage*> ietf;
  for (const auto& message : messages) (message->DestinationPort() == 514 ? bsd : ietf).push_back(message.get());
  ASSERT_EQ(bsd.size(), c.Expected.size());
  ASSERT_EQ(ietf.size(), c.Expected.size());

  for (size_t i = 0; i < c.Expected.size(); ++i) {
    const TOutput& expected = c.Expected[i];
    SCOPED_TRACE("event " + std::to_string(expected.Event + 1));
    std::string text = expected.Text;
    if (text == Raw) text = RawEvents[expected.Event];
    if (text == Flat) text = FlatEvents[expected.Event];
    const std::string pri = "<" + std::to_string(expected.Pri) + ">";

    EXPECT_EQ(bsd[i]->DestinationHost(), "bsd.example");
    EXPECT_EQ(ietf[i]->DestinationHost(), "ietf.example");
    ASSERT_NE(dynamic_cast<const TBSDSysLogMessage*>(bsd[i]), nullptr);
    EXPECT_EQ(dynamic_cast<const TIETFSysLogMessage*>(ietf[i]) != nullptr, !c.TextOnly);
    EXPECT_EQ(bsd[i]->MessageContent(), text);
    EXPECT_EQ(ietf[i]->MessageContent(), text);
    if (c.TextOnly) {
      EXPECT_TRUE(bsd[i]->SendMessageOnly());
      EXPECT_TRUE(ietf[i]->SendMessageOnly());
      continue;
    }
    EXPECT_FALSE(bsd[i]->SendMessageOnly());
    EXPECT_EQ(static_cast<int>(bsd[i]->Severity()), expected.Pri % 8);
    EXPECT_EQ(static_cast<int>(ietf[i]->Severity()), expected.Pri % 8);
    EXPECT_EQ(bsd[i]->EncodedMessage(), pri + BsdHeaders[expected.Event] + text);
    EXPECT_EQ(ietf[i]->EncodedMessage(), pri + IetfHeaders[expected.Event] + text);
  }
}

INSTANTIATE_TEST_SUITE_P(Options, OutputOptionsTest, testing::ValuesIn(OptionCases),
                         [](const testing::TestParamInfo<TOptionCase>& AInfo) { return std::string(AInfo.param.Name); });

}  // namespace
}  // namespace zor
