// The event log store: channel file names, lookup and listing, and XML
// channels written and read concurrently.
#include "evtx/ChannelStore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <thread>

#include "evtx/EvtxReader.h"
#include "evtx/XmlChannel.h"
#include "support/TempDir.h"

namespace zor {
namespace {

void WriteText(const std::filesystem::path& APath, std::string_view AText, bool AAppend = false) {
  std::ofstream out(APath, std::ios::binary | (AAppend ? std::ios::app : std::ios::trunc));
  out << AText;
}

std::string LineOf(uint64_t ARecordId, const std::string& AValue = "v") {
  TNewEvent event;
  event.Provider = "P";
  event.Data = {{"A", AValue}};
  std::string line;
  AppendOneLine(line, RenderNewEvent(event, ARecordId));
  return line + "\n";
}

// The ids of the next records (at most AMax) from where ASource stands.
std::vector<uint64_t> ReadIds(IRecordSource& ASource, size_t AMax = 1000) {
  std::vector<TChannelRecord> records;
  ASource.Read(AMax, records);
  std::vector<uint64_t> ids;
  for (const TChannelRecord& record : records) ids.push_back(record.RecordId);
  return ids;
}

TEST(ChannelStoreTest, ChannelNamesMapToFileNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"Application", "Application"},
      {"Windows PowerShell", "Windows PowerShell"},
      {"Microsoft-Windows-Sysmon/Operational", "Microsoft-Windows-Sysmon%4Operational"},
      {"A/B/C", "A%4B%4C"},
  };
  for (const auto& [channel, stem] : cases) {
    SCOPED_TRACE(channel);
    EXPECT_EQ(TChannelStore::FileStem(channel), stem);
    EXPECT_EQ(TChannelStore::ChannelOf(std::string(stem) + ".evtx"), channel);
    EXPECT_EQ(TChannelStore::ChannelOf(std::string(stem) + ".XML"), channel);
  }
}

TEST(ChannelStoreTest, LocatesListsAndRejects) {
  test::TempDir dir;
  const TChannelStore store(dir.Path());
  WriteText(dir / "security.EVTX", "");
  WriteText(dir / "Security.xml", "");
  WriteText(dir / "Microsoft-Windows-Sysmon%4Operational.xml", "");
  WriteText(dir / "readme.txt", "");
  std::filesystem::create_directory(dir / "srv01.xml");  // a folder is not a channel

  const auto security = store.Locate("SECURITY");
  EXPECT_TRUE(security.Exists);
  EXPECT_EQ(security.Kind, TChannelStore::TChannelKind::ckEvtx);
  EXPECT_EQ(security.File, dir / "security.EVTX");
  const auto sysmon = store.Locate("Microsoft-Windows-Sysmon/Operational");
  EXPECT_EQ(sysmon.Kind, TChannelStore::TChannelKind::ckXml);
  EXPECT_TRUE(sysmon.Exists);
  const auto missing = store.Locate("Application");
  EXPECT_FALSE(missing.Exists);
  EXPECT_EQ(missing.File, dir / "Application.xml");
  const auto absolute = store.Locate((dir / "archive.evtx").string());
  EXPECT_EQ(absolute.Kind, TChannelStore::TChannelKind::ckEvtx);
  EXPECT_FALSE(absolute.Exists);

  EXPECT_EQ(store.Channels(), (std::vector<std::string>{"Microsoft-Windows-Sysmon/Operational", "Security"}));
  EXPECT_THROW((void)TChannelStore(dir / "none").Channels(), EChannelError);
  EXPECT_THROW((void)store.Locate(""), EChannelError);
  EXPECT_THROW((void)store.Locate(".."), EChannelError);
  EXPECT_THROW((void)store.Locate(std::string_view("a\0b", 3)), EChannelError);
  EXPECT_THROW((void)store.ForComputer(".."), EChannelError);
  EXPECT_THROW((void)store.ForComputer("a/b"), EChannelError);
  EXPECT_EQ(store.ForComputer("srv01").Root(), dir / "srv01");
}

TEST(ChannelStoreTest, NewEventRendersAsWindowsDoes) {
  TNewEvent event;
  event.Channel = "Microsoft-Windows-Test/Operational";
  event.Provider = "Test & <Provider>";
  event.EventId = 4624;
  event.Level = 2;
  event.Data = {{"Name's", "a<b & \"c\"\r\nd"}, {"", "unnamed"}};
  event.Computer = "ws01.corp.example";
  event.TimeCreated = 133537608001234567ull;  // 2024-03-01T10:00:00.1234567Z
  event.ProcessId = 812;
  event.ThreadId = 5120;
  EXPECT_EQ(RenderNewEvent(event, 1000),
            "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='Test &amp; "
            "&lt;Provider&gt;'/><EventID>4624</EventID><Version>0</Version><Level>2</Level><Task>0</Task>"
            "<Opcode>0</Opcode><Keywords>0x80000000000000</Keywords><TimeCreated "
            "SystemTime='2024-03-01T10:00:00.1234567Z'/><EventRecordID>1000</EventRecordID><Correlation/><Execution "
            "ProcessID='812' ThreadID='5120'/><Channel>Microsoft-Windows-Test/Operational</Channel>"
            "<Computer>ws01.corp.example</Computer><Security/></System><EventData><Data Name='Name&apos;s'>a&lt;b "
            "&amp; \"c\"\r\nd</Data><Data>unnamed</Data></EventData></Event>");
  event.EventId = 65536;
  EXPECT_THROW((void)RenderNewEvent(event, 1), EChannelError);
  event.EventId = 1;
  event.Provider.clear();
  EXPECT_THROW((void)RenderNewEvent(event, 1), EChannelError);
}

TEST(ChannelStoreTest, ConcurrentWritersGetDistinctIdsAndWholeLines) {
  test::TempDir dir;
  const auto file = dir / "Application.xml";
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w)
    writers.emplace_back([&, w] {
      TNewEvent event;
      event.Provider = "Writer" + std::to_string(w);
      event.Data = {{"Text", std::string(3000, 'x') + "\r\n" + std::string(3000, 'y')}};
      for (int i = 0; i < 25; ++i) TXmlChannel::Append(file, event);
    });
  for (std::thread& writer : writers) writer.join();

  std::ifstream in(file);
  std::string line;
  size_t lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    EXPECT_TRUE(line.starts_with("<Event ") && line.ends_with("</Event>"));
    EXPECT_NE(line.find("&#13;&#10;"), std::string::npos);
  }
  EXPECT_EQ(lines, 100u);
  const auto source = OpenXmlSource(file);
  std::vector<TChannelRecord> records;
  ASSERT_EQ(source->Read(1000, records), 100u);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].RecordId, i + 1);
    EXPECT_NE(records[i].Xml.find("x\r\ny"), std::string::npos);
  }
  EXPECT_EQ(source->StartAtEnd(), records.back().Place());
}

TEST(ChannelStoreTest, XmlSourceFollowsGrowthReplacementAndDamage) {
  test::TempDir dir;
  const auto file = dir / "Application.xml";
  const auto source = OpenXmlSource(file);
  EXPECT_TRUE(ReadIds(*source).empty());  // missing file: no records

  WriteText(file, LineOf(1) + LineOf(2) + LineOf(3));
  EXPECT_EQ(ReadIds(*source, 2), (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{3}));

  // A line still being written waits until its line end comes.
  const std::string fourth = LineOf(4);
  WriteText(file, fourth.substr(0, 50), true);
  EXPECT_TRUE(ReadIds(*source).empty());
  WriteText(file, fourth.substr(50), true);
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{4}));

  // Damage: a blank line, a line that is no event, an over-long line; reading goes on after them.
  WriteText(file, "\n<garbage/>\n" + std::string(17 * 1024 * 1024, 'z') + "\n" + LineOf(5), true);
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{5}));

  // Replaced by a shorter file with later ids (a wrapped log): read on at the oldest record after 5.
  WriteText(dir / "new.xml", LineOf(7) + LineOf(8));
  std::filesystem::rename(dir / "new.xml", file);
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{7, 8}));

  // Replaced by a longer copy of itself: only the new line.
  WriteText(dir / "new.xml", LineOf(7) + LineOf(8) + LineOf(8, "again"));
  std::filesystem::rename(dir / "new.xml", file);
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{8}));

  // Written by hand: CRLF line ends and no line end after the last event.
  WriteText(file, LineOf(9).insert(LineOf(9).size() - 1, "\r") + LineOf(10).substr(0, LineOf(10).size() - 1));
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{9, 10}));
  // A writer appending after such a file does not glue its line to the last one.
  TNewEvent event;
  event.Provider = "P";
  EXPECT_EQ(TXmlChannel::Append(file, event), 11u);
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{11}));
}

// Lines put together from several places: ids repeat and go backwards. Every
// line is read once in file order, and a place is found again by its offset,
// or by its id alone (a bookmark without offset) as the first line with it.
TEST(ChannelStoreTest, XmlSourceKeepsItsPlaceWhateverTheIds) {
  test::TempDir dir;
  const auto file = dir / "Forwarded.xml";
  const std::vector<uint64_t> ids = {5, 3, 5, 9, 1, 5, 2};
  std::string text;
  std::vector<uint64_t> offsets;
  for (uint64_t id : ids) {
    offsets.push_back(text.size());
    text += LineOf(id);
  }
  WriteText(file, text);

  const auto source = OpenXmlSource(file);
  EXPECT_EQ(ReadIds(*source, 3), (std::vector<uint64_t>{5, 3, 5}));
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{9, 1, 5, 2}));
  EXPECT_TRUE(ReadIds(*source).empty());

  struct TCase {
    const char* Name;
    TRecordPlace After;
    std::vector<uint64_t> Expected;
  };
  const TCase cases[] = {
      {"the second 5 at its place", {5, offsets[2]}, {9, 1, 5, 2}},
      {"the last 5 at its place", {5, offsets[5]}, {2}},
      {"5 without offset: the first 5", {5, std::nullopt}, {3, 5, 9, 1, 5, 2}},
      {"an offset that holds another id: by id", {1, offsets[2]}, {5, 3, 5, 9, 1, 5, 2}},
      {"an id no line has: at the first greater", {8, std::nullopt}, {9, 1, 5, 2}},
      {"beyond every id", {10, std::nullopt}, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    source->StartAfter(c.After);
    EXPECT_EQ(ReadIds(*source), c.Expected);
  }
  source->StartAtOldest();
  EXPECT_EQ(ReadIds(*source).size(), ids.size());
  EXPECT_EQ(source->StartAtEnd(), (TRecordPlace{2, offsets.back()}));
  WriteText(file, LineOf(5), true);
  EXPECT_EQ(ReadIds(*source), (std::vector<uint64_t>{5}));
}

}  // namespace
}  // namespace zor
