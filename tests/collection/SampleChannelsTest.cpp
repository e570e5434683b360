// Real channels through the whole collection layer: every sample log placed in
// an event log root, read by a subscriber, turned into BSD and IETF lines and
// beat documents by the processor, then read again after a restart. Each
// record must come out once per receiver, in channel order, with its header
// fields taken from the record.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beats/LogBeat.h"
#include "collection/BookmarkFile.h"
#include "collection/EventLogMessageProcessor.h"
#include "collection/EventLogSubscriber.h"
#include "evtx/ChannelStore.h"
#include "evtx/EvtxReader.h"
#include "support/Json.h"
#include "support/ScopedTimeZone.h"
#include "support/EventFixtures.h"
#include "support/SanitizedBuild.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/IETFSysLogMessage.h"

namespace zor {
namespace {

using test::WaitUntil;

const std::string SamplesDir = std::string(ZOR_SHARED_DIR) + "/evtx-samples/";

// Events with these ids are dropped by every reader of this file.
const char* const Exclusion = "<EventID( Qualifiers='\\d+')?>(4624|7036|4103)</EventID>";
bool IsExcludedId(int32_t AId) { return AId == 4624 || AId == 7036 || AId == 4103; }

constexpr uint16_t BsdPort = 514;
constexpr uint16_t IetfPort = 6514;

// One record as the channel holds it, with the fields its messages are built
// from read straight from its XML.
struct TRecord {
  uint64_t ChannelId = 0;  // the record's position in the channel (what bookmarks hold)
  std::string Xml;
  std::string Provider;
  std::string Computer;
  std::string Channel;
  std::string SystemTime;
  std::string RecordNumber;  // EventRecordID as written
  int32_t EventId = -1;
  int32_t Level = -1;
  int32_t ProcessId = -1;
};

int32_t DecimalOrMinusOne(const char* AText) {
  const std::string_view text(AText);
  int32_t value = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty() ? value : -1;
}

TRecord RecordOf(uint64_t AChannelId, std::string AXml) {
  TRecord r;
  r.ChannelId = AChannelId;
  r.Xml = std::move(AXml);
  pugi::xml_document document;
  EXPECT_TRUE(document.load_buffer(r.Xml.data(), r.Xml.size())) << r.Xml;
  const pugi::xml_node system = document.child("Event").child("System");
  r.Provider = system.child("Provider").attribute("Name").as_string();
  r.Computer = system.child("Computer").text().as_string();
  r.Channel = system.child("Channel").text().as_string();
  r.SystemTime = system.child("TimeCreated").attribute("SystemTime").as_string();
  r.RecordNumber = system.child("EventRecordID").text().as_string();
  r.EventId = DecimalOrMinusOne(system.child("EventID").text().as_string());
  r.Level = DecimalOrMinusOne(system.child("Level").text().as_string());
  r.ProcessId = DecimalOrMinusOne(system.child("Execution").attribute("ProcessID").as_string());
  return r;
}

// The records of a sample as a channel delivers them: every record, in file
// order (what a dump shows), whatever their ids.
std::vector<TRecord> ReadSample(const std::string& AFile) {
  std::vector<TRecord> records;
  TEvtxReaderOptions options;
  options.EveryRecord = true;
  TEvtxReader reader(SamplesDir + AFile, std::move(options));
  TEvtxRecord record;
  while (reader.Next(record)) records.push_back(RecordOf(record.RecordId, std::string(record.Xml)));
  return records;
}

// The times a message may show for a record: its time in whole milliseconds,
// cut or rounded.
std::vector<int64_t> CandidateMilliseconds(const std::string& ASystemTime) {
  std::tm tm{};
  char rest[32] = {};
  if (std::sscanf(ASystemTime.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%31s", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec, rest) < 6)
    return {};
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  const int64_t seconds = timegm(&tm);
  double fraction = 0;
  if (rest[0] == '.') fraction = std::strtod(rest, nullptr);
  const int64_t cut = seconds * 1000 + static_cast<int64_t>(std::floor(fraction * 1000));
  const int64_t rounded = seconds * 1000 + std::llround(fraction * 1000);
  return cut == rounded ? std::vector<int64_t>{cut} : std::vector<int64_t>{cut, rounded};
}

std::string BsdTime(int64_t AMilliseconds) {
  static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const time_t seconds = static_cast<time_t>(AMilliseconds / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%s %2d %02d:%02d:%02d", Months[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text;
}

std::string IsoTime(int64_t AMilliseconds) {
  const time_t seconds = static_cast<time_t>(AMilliseconds / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(AMilliseconds % 1000));
  return text;
}

TSyslogSeverity SeverityOfLevel(int32_t ALevel) {
  switch (ALevel) {
    case 1: return TSyslogSeverity::slCritical;
    case 2: return TSyslogSeverity::slError;
    case 3: return TSyslogSeverity::slWarning;
    case 5: return TSyslogSeverity::slInformational;
    default: return TSyslogSeverity::slNotice;
  }
}

const char* LevelName(int32_t ALevel) {
  switch (ALevel) {
    case 1: return "Critical";
    case 2: return "Error";
    case 3: return "Warning";
    case 4: return "Information";
    default: return "Verbose";
  }
}

std::string WithoutBlanks(std::string AText) {
  std::erase(AText, ' ');
  return AText;
}

// The text with every CR, LF and blank removed: what a record's XML and its
// stripped form have in common.
std::string Squeezed(const std::string& AText) {
  std::string result;
  result.reserve(AText.size());
  for (const char c : AText)
    if (c != '\r' && c != '\n' && c != ' ') result += c;
  return result;
}

// What one reader run produced, receiver by receiver, in queue order.
struct TOutput {
  std::vector<std::unique_ptr<TBaseSysLogMessage>> Bsd;
  std::vector<std::unique_ptr<TBaseSysLogMessage>> Ietf;
  std::vector<std::unique_ptr<TLogBeat>> Beats;
};

// The reader settings of one run over one channel.
struct TRunSettings {
  int32_t Threads = 1;
  int32_t BatchSize = 100;
  bool DeriveSeverity = false;
  bool StripNewLines = false;
};

constexpr TSyslogFacility Facility = TSyslogFacility::sfLocalUseThree;
constexpr TSyslogSeverity DefaultSeverity = TSyslogSeverity::slWarning;

// An event that no channel holds, pushed through the processor after a run:
// once it has come out for every receiver (behind the run's last batch, as the
// processor keeps batch order), the run's output is complete.
const std::string BarrierEvent =
    "<Event><System><Provider Name='Barrier'/><EventID>1</EventID><Level>4</Level>"
    "<TimeCreated SystemTime='2020-01-01T00:00:00.0000000Z'/><EventRecordID>1</EventRecordID>"
    "<Computer>barrier.invalid</Computer></System></Event>";

// An event log root with one channel, the processor, and the reader with a BSD
// receiver, an IETF receiver and a beat receiver. The time zone is fixed to
// one with daylight saving time for the life of the object (no other thread
// runs when it is set or restored).
class TChannelRun {
 public:
  TChannelRun(std::string AChannel, const TRunSettings& ASettings)
      : FChannel(std::move(AChannel)), FSettings(ASettings), FApi(FRoot.Path()) {
    FReader.SetName(FChannel);
    FReader.SetPath(FChannel);
    FReader.SetBatchSize(ASettings.BatchSize);
    FReader.SetStartAtBeginning(true);
    FReader.SetDefaultFacility(Facility);
    FReader.SetDefaultSeverity(DefaultSeverity);
    FReader.SetDeriveSeverity(ASettings.DeriveSeverity);
    FReader.SetStripNewLines(ASettings.StripNewLines);
    FReader.SetParse(false);
    FReader.SetRawLogOnly(false);
    FReader.ExclusionRegex() = {Exclusion};
    FReader.SyslogReceivers().Add(test::SyslogReceiverAt("bsd.example", BsdPort, 0));
    FReader.SyslogReceivers().Add(test::SyslogReceiverAt("ietf.example", IetfPort, 1));
    auto beat = std::make_unique<TBeatReceiver>();
    beat->SetHost("es.example");
    beat->SetPort(9200);
    FReader.BeatReceivers().Add(std::move(beat));
  }

  std::filesystem::path ChannelFile(const char* AExtension) const {
    return FRoot / (TChannelStore::FileStem(FChannel) + AExtension);
  }
  TBookmarkFile Bookmark() const { return TBookmarkFile(FBookmarks.Path(), FChannel); }
  const TRunSettings& Settings() const { return FSettings; }

  // A start of the service: a processor of its own, which resumes from the
  // bookmark file.
  void Start() {
    FProcessor = std::make_unique<TEventLogMessageProcessor>(FSettings.Threads);
    FSubscriber = std::make_unique<TEventLogSubscriber>(FProcessor.get(), FReader, FBookmarks.Path().string(), &FApi);
    ASSERT_TRUE(FSubscriber->ThreadStart(false, INFINITE));
  }
  // The end of that service: what its receivers took is saved.
  void Stop() {
    if (FSubscriber) {
      EXPECT_TRUE(FSubscriber->ThreadStop(true, INFINITE));
    }
    FSubscriber.reset();
    FProcessor.reset();
  }
  [[nodiscard]] testing::AssertionResult WaitForFirstPass() const {
    return WaitUntil([&] { return FSubscriber->PassCount() > 0; });
  }

  // The channel position the saved bookmark holds (0: none yet).
  uint64_t BookmarkedId() const {
    const auto text = Bookmark().Load();
    if (!text) return 0;
    const size_t at = text->find("RecordId='");
    if (at == std::string::npos) return 0;
    return std::strtoull(text->c_str() + at + 10, nullptr, 10);
  }

  [[nodiscard]] testing::AssertionResult WaitForBookmark(uint64_t AChannelId) const {
    return WaitUntil([&] { return BookmarkedId() == AChannelId; }, std::chrono::seconds(120),
                     "bookmark at record " + std::to_string(AChannelId));
  }

  // Everything the processor has put out since the last call, each item
  // taken as its receiver would: the barrier event has come out for every
  // receiver and each receiver has at least AAtLeast items.
  TOutput Collect(size_t AAtLeast) {
    auto barrier = std::make_unique<TProcessingBatch>(FReader);
    barrier->EventList().push_back(BarrierEvent);
    FProcessor->SignalledMessageQueue().Enqueue(std::move(barrier));
    TOutput output;
    int seen = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
          for (auto& message : FProcessor->OutboundSyslogQueue().DequeueAll()) {
            message->Receipt().Taken();
            if (message->MessageContent() == BarrierEvent) {
              ++seen;
              continue;
            }
            (message->DestinationPort() == BsdPort ? output.Bsd : output.Ietf).push_back(std::move(message));
          }
          for (auto& document : FProcessor->OutboundBeatQueue().DequeueAll()) {
            document->Receipt().Taken();
            if (document->IdentityText().starts_with("barrier.invalid\n")) {
              ++seen;
              continue;
            }
            output.Beats.push_back(std::move(document));
          }
          return seen == 3 && output.Bsd.size() >= AAtLeast && output.Ietf.size() >= AAtLeast &&
                 output.Beats.size() >= AAtLeast;
        },
        std::chrono::seconds(120), "barrier event through every receiver"));
    return output;
  }

 private:
  test::ScopedTimeZone FZone{"CET-1CEST,M3.5.0,M10.5.0/3"};
  const std::string FChannel;
  const TRunSettings FSettings;
  test::TempDir FRoot;
  test::TempDir FBookmarks;
  TWinEvt FApi;
  std::unique_ptr<TEventLogMessageProcessor> FProcessor;
  TCollectionInterface FReader;
  std::unique_ptr<TEventLogSubscriber> FSubscriber;
};

// Pairs each output item with the record it was made from, checking that
// every expected record is there exactly once and in channel order (the
// processor keeps batch order however many threads it has).
template <typename TItem, typename TItemKey, typename TRecordKey>
std::vector<size_t> Match(const std::vector<TItem>& AItems, const std::vector<const TRecord*>& AExpected,
                          TItemKey AItemKey, TRecordKey ARecordKey, const char* AWhat) {
  SCOPED_TRACE(AWhat);
  std::vector<size_t> pairing;
  EXPECT_EQ(AItems.size(), AExpected.size());
  if (AItems.size() != AExpected.size()) return pairing;
  for (size_t i = 0; i < AItems.size(); ++i) {
    if (AItemKey(AItems[i]) != ARecordKey(*AExpected[i])) {
      ADD_FAILURE() << "item " << i << " is not record " << AExpected[i]->ChannelId;
      return {};
    }
    pairing.push_back(i);
  }
  return pairing;
}

// The run's output is exactly the expected records, once per receiver, each
// message and document built from its record.
void ExpectOutput(const TOutput& AOutput, const std::vector<const TRecord*>& AExpected, const TRunSettings& ASettings) {
  const auto textKey = [&](const std::unique_ptr<TBaseSysLogMessage>& AMessage) {
    return ASettings.StripNewLines ? Squeezed(AMessage->MessageContent()) : AMessage->MessageContent();
  };
  const auto recordTextKey = [&](const TRecord& ARecord) {
    return ASettings.StripNewLines ? Squeezed(ARecord.Xml) : ARecord.Xml;
  };

  for (const bool ietf : {false, true}) {
    const auto& messages = ietf ? AOutput.Ietf : AOutput.Bsd;
    const auto pairing = Match(messages, AExpected, textKey, recordTextKey, ietf ? "IETF" : "BSD");
    if (pairing.size() != messages.size()) return;
    for (size_t i = 0; i < messages.size(); ++i) {
      const TBaseSysLogMessage& message = *messages[i];
      const TRecord& r = *AExpected[pairing[i]];
      SCOPED_TRACE(testing::Message() << (ietf ? "IETF" : "BSD") << " record " << r.ChannelId);
      ASSERT_EQ(dynamic_cast<const TIETFSysLogMessage*>(&message) != nullptr, ietf);
      ASSERT_EQ(message.DestinationHost(), ietf ? "ietf.example" : "bsd.example");
      if (ASettings.StripNewLines) {
        ASSERT_EQ(message.MessageContent().find_first_of("\r\n"), std::string::npos);
      }
      const TSyslogSeverity severity = ASettings.DeriveSeverity ? SeverityOfLevel(r.Level) : DefaultSeverity;
      const std::string pri = "<" + std::to_string(static_cast<int>(Facility) * 8 + static_cast<int>(severity)) + ">";
      const std::string tag = WithoutBlanks(r.Provider);
      std::string tail;  // what follows the time stamp
      if (ietf)
        tail = " " + r.Computer + " " + tag + " " + (r.ProcessId > 0 ? std::to_string(r.ProcessId) : "-") + " - - ";
      else
        tail = " " + r.Computer + " " + tag + (r.ProcessId >= 0 ? "[" + std::to_string(r.ProcessId) + "]" : "") + ": ";
      tail += message.MessageContent();
      const std::string line = message.EncodedMessage();
      const auto times = CandidateMilliseconds(r.SystemTime);
      ASSERT_FALSE(times.empty()) << r.SystemTime;
      std::vector<std::string> lines;
      for (const int64_t time : times)
        lines.push_back(pri + (ietf ? "1 " + IsoTime(time) : BsdTime(time)) + tail);
      ASSERT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line.substr(0, 200) << "\nexpected\n"
                                                                         << lines.front().substr(0, 200);
    }
  }

  const auto beatKey = [](const std::unique_ptr<TLogBeat>& ADocument) {
    const TJSONValue json = Json::ParseObject(ADocument->AsJSONString());
    return json.value("record_number", std::string()) + "|" + json.value("computer_name", std::string()) + "|" +
           json.value("source_name", std::string()) + "|" + std::to_string(json.value("event_id", 0)) + "|" +
           json.value("log_name", std::string());
  };
  const auto recordBeatKey = [](const TRecord& ARecord) {
    return ARecord.RecordNumber + "|" + ARecord.Computer + "|" + ARecord.Provider + "|" +
           std::to_string(ARecord.EventId) + "|" + ARecord.Channel;
  };
  const auto pairing = Match(AOutput.Beats, AExpected, beatKey, recordBeatKey, "beat");
  if (pairing.size() != AOutput.Beats.size()) return;
  for (size_t i = 0; i < AOutput.Beats.size(); ++i) {
    const TLogBeat& document = *AOutput.Beats[i];
    const TRecord& r = *AExpected[pairing[i]];
    SCOPED_TRACE(testing::Message() << "beat record " << r.ChannelId);
    ASSERT_EQ(document.DestinationHost(), "es.example");
    ASSERT_EQ(document.DestinationPort(), 9200);
    const TJSONValue json = Json::ParseObject(document.AsJSONString());
    ASSERT_TRUE(json.contains("@timestamp") && json["@timestamp"].is_string());
    ASSERT_EQ(TUtilities::DateTimeToISOTimestampString(document.LogDate()), json["@timestamp"].get<std::string>());
    std::vector<std::string> times;
    for (const int64_t time : CandidateMilliseconds(r.SystemTime)) times.push_back(IsoTime(time));
    ASSERT_NE(std::find(times.begin(), times.end(), json["@timestamp"].get<std::string>()), times.end())
        << json["@timestamp"] << " for " << r.SystemTime;
    ASSERT_EQ(json.value("event_id", -2), r.EventId);
    ASSERT_EQ(json.value("record_number", std::string("?")), r.RecordNumber);
    ASSERT_EQ(json.value("log_name", std::string("?")), r.Channel);
    ASSERT_EQ(json.value("computer_name", std::string("?")), r.Computer);
    ASSERT_EQ(json.value("source_name", std::string("?")), r.Provider);
    ASSERT_EQ(json.value("process_id", -2), r.ProcessId);
    ASSERT_EQ(json.value("level", std::string("?")), LevelName(r.Level));
    ASSERT_EQ(json.value("type", std::string("?")), "wineventlog");
  }
}

std::vector<const TRecord*> NotExcluded(const std::vector<TRecord>& ARecords, size_t AFrom = 0,
                                        size_t ATo = SIZE_MAX) {
  std::vector<const TRecord*> kept;
  for (size_t i = AFrom; i < std::min(ATo, ARecords.size()); ++i)
    if (!IsExcludedId(ARecords[i].EventId)) kept.push_back(&ARecords[i]);
  return kept;
}

std::vector<std::string> SampleFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(SamplesDir)) {
    if (entry.path().extension() != ".evtx") continue;
#ifdef ZOR_SANITIZED_BUILD
    // Instrumented builds read the smaller logs only; the large ones add time, not paths.
    if (entry.file_size() > 1200000) continue;
#endif
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class SampleChannelsTest : public testing::TestWithParam<std::string> {
 protected:
  // Each sample gets other reader settings, so that every combination is seen
  // over the set: one or two processing threads, small and large batches,
  // derived or fixed severity, line breaks kept or stripped.
  static TRunSettings SettingsFor(const std::string& AFile) {
    const auto files = SampleFiles();
    const size_t index = static_cast<size_t>(std::find(files.begin(), files.end(), AFile) - files.begin());
    TRunSettings settings;
    settings.Threads = index % 2 == 0 ? 1 : 2;
    settings.BatchSize = index % 3 == 0 ? 7 : index % 3 == 1 ? 100 : 1000;
    settings.DeriveSeverity = index % 4 < 2;
    settings.StripNewLines = index % 5 < 2;
    return settings;
  }
};

TEST_P(SampleChannelsTest, EveryRecordOncePerReceiverAndNothingAgainAfterRestart) {
  const std::string file = GetParam();
  const std::vector<TRecord> records = ReadSample(file);
  ASSERT_FALSE(records.empty());
  const auto expected = NotExcluded(records);
  RecordProperty("records", static_cast<int>(records.size()));
  RecordProperty("excluded", static_cast<int>(records.size() - expected.size()));

  // The channel is named after the sample, below a provider-like prefix.
  const std::string channel = "Samples/" + file.substr(0, file.size() - 5);
  TChannelRun run(channel, SettingsFor(file));
  std::filesystem::copy_file(SamplesDir + file, run.ChannelFile(".evtx"));

  run.Start();
  const TOutput first = run.Collect(expected.size());
  ASSERT_TRUE(run.WaitForBookmark(records.back().ChannelId));
  run.Stop();
  ExpectOutput(first, expected, run.Settings());

  // A restart with the same bookmark reads nothing again.
  run.Start();
  ASSERT_TRUE(run.WaitForFirstPass());
  const TOutput second = run.Collect(0);
  run.Stop();
  EXPECT_EQ(run.BookmarkedId(), records.back().ChannelId);
  EXPECT_TRUE(second.Bsd.empty() && second.Ietf.empty() && second.Beats.empty())
      << second.Bsd.size() << " BSD, " << second.Ietf.size() << " IETF, " << second.Beats.size() << " beat";
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleChannelsTest, testing::ValuesIn(SampleFiles()),
                         [](const testing::TestParamInfo<std::string>& AInfo) {
                           return AInfo.param.substr(0, AInfo.param.find('.'));
                         });


// A channel that grows: records of a sample are appended while the reader is
// stopped and while it runs, and each run delivers exactly the new ones.
TEST(SampleXmlChannelTest, RestartAndGrowthDeliverExactlyTheNewRecords) {
  // Records whose XML holds no line-break references of its own (those would
  // come back as line breaks from the channel file).
  std::vector<TRecord> records;
  for (TRecord& r : ReadSample("pyevtx_system.evtx")) {
    if (r.Xml.find("&#1") != std::string::npos) continue;
    r.ChannelId = std::strtoull(r.RecordNumber.c_str(), nullptr, 10);
    if (!records.empty()) {
      ASSERT_GT(r.ChannelId, records.back().ChannelId);
    }
    records.push_back(std::move(r));
    if (records.size() == 180) break;
  }
  ASSERT_EQ(records.size(), 180u);

  TRunSettings settings;
  settings.Threads = 1;
  settings.BatchSize = 16;
  settings.DeriveSeverity = true;
  settings.StripNewLines = false;
  TChannelRun run("System/Growing", settings);
  const auto append = [&](size_t AFrom, size_t ATo) {
    std::ofstream out(run.ChannelFile(".xml"), std::ios::binary | std::ios::app);
    for (size_t i = AFrom; i < ATo; ++i) out << test::XmlChannelLine(records[i].Xml) << "\r\n";
  };

  append(0, 90);
  run.Start();
  ExpectOutput(run.Collect(NotExcluded(records, 0, 90).size()), NotExcluded(records, 0, 90), settings);
  ASSERT_TRUE(run.WaitForBookmark(records[89].ChannelId));
  run.Stop();

  append(90, 150);
  run.Start();
  ExpectOutput(run.Collect(NotExcluded(records, 90, 150).size()), NotExcluded(records, 90, 150), settings);
  ASSERT_TRUE(run.WaitForBookmark(records[149].ChannelId));

  append(150, 180);
  ExpectOutput(run.Collect(NotExcluded(records, 150, 180).size()), NotExcluded(records, 150, 180), settings);
  ASSERT_TRUE(run.WaitForBookmark(records[179].ChannelId));
  run.Stop();
  EXPECT_LT(NotExcluded(records).size(), records.size()) << "the exclusion should drop some of these records";
}

// Events put together from elsewhere: lines whose ids repeat and go
// backwards. Each run delivers exactly the lines written since the last one,
// in line order, and a restart reads nothing again.
TEST(SampleXmlChannelTest, IdsThatRepeatAndGoBackwardsAreDeliveredOnceAcrossRestarts) {
  std::vector<TRecord> records;
  for (TRecord& r : ReadSample("pyevtx_system.evtx")) {
    if (r.Xml.find("&#1") != std::string::npos) continue;
    records.push_back(std::move(r));
    if (records.size() == 80) break;
  }
  ASSERT_EQ(records.size(), 80u);
  // Lines 0..79, the first 40 again, then 79 down to 40.
  std::vector<const TRecord*> lines;
  for (size_t i = 0; i < 80; ++i) lines.push_back(&records[i]);
  for (size_t i = 0; i < 40; ++i) lines.push_back(&records[i]);
  for (size_t i = 80; i-- > 40;) lines.push_back(&records[i]);
  const auto kept = [&](size_t AFrom, size_t ATo) {
    std::vector<const TRecord*> result;
    for (size_t i = AFrom; i < ATo; ++i)
      if (!IsExcludedId(lines[i]->EventId)) result.push_back(lines[i]);
    return result;
  };

  TRunSettings settings;
  settings.Threads = 2;
  settings.BatchSize = 16;
  TChannelRun run("Forwarded/Mixed", settings);
  const auto append = [&](size_t AFrom, size_t ATo) {
    std::ofstream out(run.ChannelFile(".xml"), std::ios::binary | std::ios::app);
    for (size_t i = AFrom; i < ATo; ++i) out << test::XmlChannelLine(lines[i]->Xml) << "\n";
  };

  append(0, 120);
  run.Start();
  const TOutput first = run.Collect(kept(0, 120).size());
  run.Stop();
  ExpectOutput(first, kept(0, 120), settings);

  append(120, 160);
  run.Start();
  const TOutput second = run.Collect(kept(120, 160).size());
  ExpectOutput(second, kept(120, 160), settings);
  run.Stop();

  const std::string bookmark = *run.Bookmark().Load();
  ASSERT_NE(bookmark.find(" Offset='"), std::string::npos) << bookmark;
  run.Start();
  ASSERT_TRUE(run.WaitForFirstPass());
  const TOutput third = run.Collect(0);
  run.Stop();
  EXPECT_EQ(run.Bookmark().Load(), bookmark);
  EXPECT_TRUE(third.Bsd.empty() && third.Ietf.empty() && third.Beats.empty());
}

}  // namespace
}  // namespace zor
