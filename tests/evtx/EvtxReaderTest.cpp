// The EVTX reader over the real sample logs: Windows' own rendering, record
// counts, well-formed XML, damaged bytes, positions and growing files.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "evtx/EvtxReader.h"
#include "support/EvtxBuilder.h"
#include "support/TempDir.h"

namespace zor {
namespace {

const std::string SamplesDir = std::string(ZOR_SHARED_DIR) + "/evtx-samples/";

std::vector<uint8_t> ReadBytes(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& APath, const std::vector<uint8_t>& ABytes) {
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(ABytes.data()), static_cast<std::streamsize>(ABytes.size()));
}

struct TReadResult {
  std::vector<uint64_t> Ids;
  std::vector<uint64_t> Offsets;
  std::vector<std::string> Xml;
  std::vector<TEvtxIssue> Issues;
  bool HasIssue(TEvtxIssueKind AKind, uint64_t AOffset) const {
    return std::any_of(Issues.begin(), Issues.end(),
                       [&](const TEvtxIssue& i) { return i.Kind == AKind && i.FileOffset == AOffset; });
  }
};

TReadResult ReadAll(const std::string& APath, TEvtxReaderOptions AOptions = {}) {
  TReadResult result;
  AOptions.OnIssue = [&](const TEvtxIssue& AIssue) { result.Issues.push_back(AIssue); };
  TEvtxReader reader(APath, std::move(AOptions));
  TEvtxRecord record;
  while (reader.Next(record)) {
    result.Ids.push_back(record.RecordId);
    result.Offsets.push_back(record.FileOffset);
    result.Xml.emplace_back(record.Xml);
  }
  return result;
}

std::string IssueText(const std::vector<TEvtxIssue>& AIssues) {
  std::string text;
  for (const auto& i : AIssues) text += i.Message + "\n";
  return text;
}

TEST(EvtxReaderTest, FirstRecordsRenderExactlyAsWindows) {
  const TReadResult r = ReadAll(SamplesDir + "pyevtx_system.evtx");
  std::ifstream expected(SamplesDir + "pyevtx_system.windows.xml");
  std::string line;
  for (size_t i = 0; i < 5; ++i) {
    ASSERT_TRUE(std::getline(expected, line));
    ASSERT_LT(i, r.Xml.size());
    EXPECT_EQ(line, r.Xml[i]) << "record " << i;
  }
}

TEST(EvtxReaderTest, LegacyProfileWritesNineDigitsAndUpperCaseGuids) {
  TEvtxReaderOptions options;
  options.Profile = TEvtxRenderProfile::erpLegacy;
  const TReadResult legacy = ReadAll(SamplesDir + "omer_security.evtx", options);
  const TReadResult current = ReadAll(SamplesDir + "omer_security.evtx");
  ASSERT_FALSE(legacy.Xml.empty());
  EXPECT_NE(current.Xml[0].find("Guid='{54849625-5478-4994-a5ba-3e3b0328c30d}'"), std::string::npos) << current.Xml[0];
  EXPECT_NE(legacy.Xml[0].find("Guid='{54849625-5478-4994-A5BA-3E3B0328C30D}'"), std::string::npos) << legacy.Xml[0];
  const std::regex nine("SystemTime='\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{7}00Z'");
  const std::regex seven("SystemTime='\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{7}Z'");
  EXPECT_TRUE(std::regex_search(legacy.Xml[0], nine)) << legacy.Xml[0];
  EXPECT_TRUE(std::regex_search(current.Xml[0], seven)) << current.Xml[0];
}

struct TSample {
  const char* File;
  size_t Records;  // what a complete parser finds (the samples' evtxinfo counts)
};

const TSample Samples[] = {
    {"dbc_application_many.evtx", 2216},          {"dbc_powershell_obfuscation_many.evtx", 302},
    {"dbc_wmi_activity.evtx", 901},               {"eas_bits_client.evtx", 1537},
    {"eas_defender_1116_1117.evtx", 11},          {"eas_etw_rpc_no_channel.evtx", 415},
    {"eas_powershell_4104.evtx", 4},              {"eas_sysmon_uacme.evtx", 530},
    {"mdec_application_sqlserver.evtx", 72},      {"mdec_defender_health.evtx", 455},
    {"mdec_dns_server.evtx", 3},                  {"mdec_powershell_wmi_registry.evtx", 132},
    {"mdec_ps_pipeshell.evtx", 30},               {"mdec_security_firewall_disabled.evtx", 998},
    {"mdec_system_service_install.evtx", 733},    {"omer_application_no_crc32.evtx", 17},
    {"omer_bad_chunk_magic.evtx", 267},           {"omer_capi2.evtx", 340},
    {"omer_grouppolicy_irregular_bool.evtx", 3028}, {"omer_hello_for_business.evtx", 5},
    {"omer_msexchange_wec.evtx", 1},              {"omer_rdpcorets.evtx", 1910},
    {"omer_security.evtx", 2261},                 {"omer_security_bad_string_cache.evtx", 2261},
    {"omer_security_size_t.evtx", 636},           {"omer_shell_core.evtx", 1146},
    {"omer_sysmon.evtx", 358},                    {"omer_system.evtx", 1881},
    {"omer_system_zero_data_size.evtx", 335},     {"omer_ts_remoteconnmgr.evtx", 1774},
    {"pyevtx_dns_malformed.evtx", 5},             {"pyevtx_sysmon_issue43.evtx", 1730},
    {"pyevtx_system.evtx", 1601},                 {"sigma_taskscheduler.evtx", 1},
};

class EvtxSampleTest : public testing::TestWithParam<TSample> {};

TEST_P(EvtxSampleTest, EveryRecordIsReadAsWellFormedEventXml) {
  TEvtxReaderOptions options;
  options.EveryRecord = true;
  const TReadResult r = ReadAll(SamplesDir + GetParam().File, options);
  EXPECT_EQ(r.Ids.size(), GetParam().Records) << IssueText(r.Issues);
  for (size_t i = 0; i < r.Xml.size(); ++i) {
    std::string line;
    AppendOneLine(line, r.Xml[i]);
    ASSERT_EQ(line.find_first_of("\r\n"), std::string::npos);
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(line.data(), line.size(), pugi::parse_default, pugi::encoding_utf8);
    ASSERT_TRUE(parsed) << "record " << r.Ids[i] << ": " << parsed.description() << " at " << parsed.offset << "\n" << line;
    ASSERT_STREQ(doc.first_child().name(), "Event") << line;
    ASSERT_TRUE(doc.child("Event").child("System").child("Provider")) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, EvtxSampleTest, testing::ValuesIn(Samples),
                         [](const testing::TestParamInfo<TSample>& AInfo) {
                           std::string name = AInfo.param.File;
                           name = name.substr(0, name.find('.'));
                           return name;
                         });

TEST(EvtxReaderTest, FollowingModeDeliversIdsInIncreasingOrderOnce) {
  // A recovered file whose chunks hold identifiers from several generations.
  const TReadResult r = ReadAll(SamplesDir + "omer_ts_remoteconnmgr.evtx");
  ASSERT_FALSE(r.Ids.empty());
  EXPECT_TRUE(std::is_sorted(r.Ids.begin(), r.Ids.end()));
  EXPECT_EQ(std::adjacent_find(r.Ids.begin(), r.Ids.end()), r.Ids.end());
}

TEST(EvtxReaderTest, MissingOrForeignFileIsAFileError) {
  test::TempDir dir;
  EXPECT_THROW(TEvtxReader((dir / "missing.evtx").string()), EEvtxFileError);
  WriteBytes(dir / "text.evtx", std::vector<uint8_t>(8192, 'x'));
  EXPECT_THROW(TEvtxReader((dir / "text.evtx").string()), EEvtxFileError);
  WriteBytes(dir / "short.evtx", {'E', 'l', 'f', 'F', 'i', 'l', 'e', 0});
  EXPECT_THROW(TEvtxReader((dir / "short.evtx").string()), EEvtxFileError);
  EXPECT_THROW(TEvtxReader(dir.Path().string()), EEvtxFileError);
  // A reader that fails to open leaves no file descriptor behind.
  auto openFiles = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
  };
  const auto before = openFiles();
  for (int i = 0; i < 50; ++i) EXPECT_THROW(TEvtxReader((dir / "text.evtx").string()), EEvtxFileError);
  EXPECT_EQ(openFiles(), before);
}

// Damaged copies of a clean multi-chunk sample (LevelDB style: exact bytes).
class EvtxDamageTest : public testing::Test {
 protected:
  void SetUp() override {
    FBytes = ReadBytes(SamplesDir + "pyevtx_system.evtx");
    ASSERT_GT(FBytes.size(), 4096u + 3 * 65536u);
    FClean = ReadAll(SamplesDir + "pyevtx_system.evtx");
    ASSERT_TRUE(FClean.Issues.empty()) << IssueText(FClean.Issues);
  }
  uint8_t* Chunk(size_t AIndex) { return FBytes.data() + 4096 + AIndex * 65536; }
  static uint64_t ChunkOffset(size_t AIndex) { return 4096 + AIndex * 65536; }
  size_t CleanCountIn(size_t AIndex) const {
    return static_cast<size_t>(std::count_if(FClean.Offsets.begin(), FClean.Offsets.end(), [&](uint64_t o) {
      return o >= ChunkOffset(AIndex) && o < ChunkOffset(AIndex + 1);
    }));
  }
  TReadResult Read(TEvtxReaderOptions AOptions = {}) {
    const auto path = FDir / "damaged.evtx";
    WriteBytes(path, FBytes);
    return ReadAll(path.string(), std::move(AOptions));
  }
  // Offset of the ANth record (0-based) of chunk AIndex, from the clean read.
  uint64_t RecordOffset(size_t AIndex, size_t ANth) const {
    size_t seen = 0;
    for (uint64_t o : FClean.Offsets) {
      if (o >= ChunkOffset(AIndex) && o < ChunkOffset(AIndex + 1) && seen++ == ANth) return o;
    }
    return 0;
  }

  test::TempDir FDir;
  std::vector<uint8_t> FBytes;
  TReadResult FClean;
};

TEST_F(EvtxDamageTest, BadChunkSignatureSkipsOnlyThatChunk) {
  Chunk(1)[3] ^= 0x20;
  const TReadResult r = Read();
  EXPECT_TRUE(r.HasIssue(TEvtxIssueKind::eikChunkSkipped, ChunkOffset(1))) << IssueText(r.Issues);
  EXPECT_EQ(r.Ids.size(), FClean.Ids.size() - CleanCountIn(1));
  EXPECT_EQ(r.Ids.back(), FClean.Ids.back());
}

TEST_F(EvtxDamageTest, ChecksumMismatchesAreReportedAndRecordsStillRead) {
  struct TCase {
    const char* Name;
    size_t Offset;  // in chunk 0
    bool FixHeader;
    const char* Message;
  } cases[] = {
      {"records checksum", 0x34, true, "records checksum"},
      {"header checksum", 0x40, false, "header checksum"},
  };
  const std::vector<uint8_t> clean = FBytes;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FBytes = clean;
    Chunk(0)[c.Offset] ^= 0x01;
    if (c.FixHeader) test::PutU32(Chunk(0) + 0x7C, Crc32(Chunk(0) + 0x80, 0x180, Crc32(Chunk(0), 0x78)));
    const TReadResult r = Read();
    ASSERT_TRUE(r.HasIssue(TEvtxIssueKind::eikChecksum, ChunkOffset(0))) << IssueText(r.Issues);
    EXPECT_NE(IssueText(r.Issues).find(c.Message), std::string::npos) << IssueText(r.Issues);
    EXPECT_EQ(r.Xml, FClean.Xml);
    TEvtxReaderOptions unchecked;
    unchecked.VerifyChecksums = false;
    EXPECT_TRUE(Read(unchecked).Issues.empty());
  }
}

TEST_F(EvtxDamageTest, DamagedRecordHeaderEndsTheChunkWalkOnly) {
  const uint64_t third = RecordOffset(0, 2);
  ASSERT_NE(third, 0u);
  const uint32_t size = test::GetU32(FBytes.data() + third + 4);
  FBytes[third + size - 4] ^= 0x08;  // the size copy
  test::FixChunkChecksums(Chunk(0));
  const TReadResult r = Read();
  EXPECT_TRUE(r.HasIssue(TEvtxIssueKind::eikRecordsCut, third)) << IssueText(r.Issues);
  EXPECT_EQ(r.Ids.size(), FClean.Ids.size() - CleanCountIn(0) + 2);
  EXPECT_EQ(r.Ids[0], FClean.Ids[0]);
  EXPECT_EQ(r.Ids[2], FClean.Ids[CleanCountIn(0)]);
}

TEST_F(EvtxDamageTest, BadOffsetsInsideBinaryXmlSkipTheRecordOnly) {
  // First record of chunk 1: fragment header (4), instance token (2), template id (4),
  // then the definition offset; the definition follows inline, its body starts
  // 24 bytes later with a fragment header and the root element.
  const uint64_t record = RecordOffset(1, 0);
  const size_t definitionOffset = record + 24 + 4 + 2 + 4;
  const size_t rootNameOffset = definitionOffset + 4 + 24 + 4 + 1 + 2 + 4;
  struct TCase {
    const char* Name;
    size_t At;
    uint32_t Value;
    bool SharedTemplate;  // the damage is in a definition later records of the chunk use too
  } cases[] = {
      {"template definition past the chunk", definitionOffset, 0xFFFFFF00u, false},
      {"template definition at the end of the chunk", definitionOffset, 65530u, false},
      {"element name past the chunk", rootNameOffset, 0x7FFFFFF0u, true},
      {"element name at the end of the chunk", rootNameOffset, 65528u, true},
  };
  const std::vector<uint8_t> clean = FBytes;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FBytes = clean;
    test::PutU32(FBytes.data() + c.At, c.Value);
    test::FixChunkChecksums(Chunk(1));
    const TReadResult r = Read();
    ASSERT_FALSE(r.Issues.empty());
    if (!c.SharedTemplate) {
      EXPECT_EQ(r.Issues.size(), 1u) << IssueText(r.Issues);
    }
    for (const TEvtxIssue& issue : r.Issues) {
      EXPECT_EQ(issue.Kind, TEvtxIssueKind::eikRecordSkipped) << issue.Message;
      EXPECT_GE(issue.FileOffset, ChunkOffset(1));
      EXPECT_LT(issue.FileOffset, ChunkOffset(2));
    }
    EXPECT_EQ(r.Issues[0].RecordId, FClean.Ids[CleanCountIn(0)]);
    EXPECT_EQ(r.Ids.size(), FClean.Ids.size() - r.Issues.size());
    EXPECT_EQ(r.Ids.back(), FClean.Ids.back());
  }
}

TEST_F(EvtxDamageTest, TruncatedFileReadsUpToTheCut) {
  const uint64_t cut = RecordOffset(1, 10) + 7;
  FBytes.resize(cut);
  const TReadResult r = Read();
  EXPECT_TRUE(r.HasIssue(TEvtxIssueKind::eikRecordsCut, ChunkOffset(1))) << IssueText(r.Issues);
  EXPECT_EQ(r.Ids.size(), CleanCountIn(0) + 10);
}

TEST_F(EvtxDamageTest, WrappedLogIsReadOldestFirst) {
  // Move the first chunk to the slot after the others, as a circular log leaves it.
  size_t used = 0;
  while (CleanCountIn(used) > 0) ++used;
  ASSERT_GE(used, 3u);
  std::vector<uint8_t> first(Chunk(0), Chunk(0) + 65536);
  std::copy(Chunk(1), Chunk(used), Chunk(0));
  std::copy(first.begin(), first.end(), Chunk(used - 1));
  const TReadResult r = Read();
  EXPECT_EQ(r.Ids, FClean.Ids);
}

TEST_F(EvtxDamageTest, StartsAfterAGivenRecord) {
  const uint64_t after = FClean.Ids[CleanCountIn(0) + CleanCountIn(1) + 3];
  TEvtxReaderOptions options;
  options.StartAfterRecordId = after;
  const TReadResult r = Read(options);
  ASSERT_FALSE(r.Ids.empty());
  EXPECT_EQ(r.Ids.front(), after + 1);
  EXPECT_EQ(r.Ids.back(), FClean.Ids.back());

  const auto path = FDir / "damaged.evtx";
  TEvtxReader reader(path.string());
  reader.SeekAfter(FClean.Ids[5]);
  TEvtxRecord record;
  ASSERT_TRUE(reader.Next(record));
  EXPECT_EQ(record.RecordId, FClean.Ids[6]);
  EXPECT_EQ(record.Xml, FClean.Xml[6]);
}

TEST_F(EvtxDamageTest, RefreshContinuesAGrowingFile) {
  const auto path = FDir / "growing.evtx";
  // First the file holds two chunks; then the rest of the log arrives.
  const std::vector<uint8_t> full = FBytes;
  std::vector<uint8_t> partial(full.begin(), full.begin() + 4096 + 2 * 65536);
  WriteBytes(path, partial);
  TEvtxReader reader(path.string());
  std::vector<uint64_t> ids;
  TEvtxRecord record;
  while (reader.Next(record)) ids.push_back(record.RecordId);
  ASSERT_EQ(ids.size(), CleanCountIn(0) + CleanCountIn(1));
  EXPECT_FALSE(reader.Next(record));

  // Replaced by a new file (a new inode), as a copy of the grown log would be.
  std::filesystem::remove(path);
  WriteBytes(path, full);
  reader.Refresh();
  while (reader.Next(record)) ids.push_back(record.RecordId);
  EXPECT_EQ(ids, FClean.Ids);
  EXPECT_EQ(reader.LastRecordId(), FClean.Ids.back());

  // A vanished file is a file error; the position survives it.
  std::filesystem::remove(path);
  EXPECT_THROW(reader.Refresh(), EEvtxFileError);
  EXPECT_EQ(reader.LastRecordId(), FClean.Ids.back());
}

// The dump command: one record per line, the count on standard error.
TEST(EvtxReaderTest, DumpWritesOneRecordPerLine) {
  test::TempDir dir;
  auto dump = [&](const std::string& AFile) {
    const std::string command = std::string(ZOR_BINARY) + " dump '" + AFile + "' > '" + (dir / "out").string() +
                                "' 2> '" + (dir / "err").string() + "'";
    return std::system(command.c_str());
  };
  auto lines = [&](const char* AName) {
    std::ifstream in(dir / AName);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  };
  ASSERT_EQ(dump(SamplesDir + "dbc_powershell_obfuscation_many.evtx"), 0);
  const std::vector<std::string> out = lines("out");
  EXPECT_EQ(out.size(), 302u);
  EXPECT_GT(std::count_if(out.begin(), out.end(),
                          [](const std::string& l) { return l.find("&#13;&#10;") != std::string::npos; }),
            100)
      << "script blocks span lines";
  EXPECT_EQ(lines("err"), std::vector<std::string>{"302 records"});

  ASSERT_EQ(dump(SamplesDir + "pyevtx_system.evtx"), 0);
  std::ifstream windows(SamplesDir + "pyevtx_system.windows.xml");
  const std::vector<std::string> system = lines("out");
  ASSERT_EQ(system.size(), 1601u);
  std::string line;
  for (size_t i = 0; std::getline(windows, line); ++i) EXPECT_EQ(system[i], line);

  EXPECT_NE(dump(SamplesDir + "MANIFEST.md"), 0);
  ASSERT_FALSE(lines("err").empty());
  EXPECT_NE(lines("err")[0].find("not an EVTX file"), std::string::npos) << lines("err")[0];
}

TEST(EvtxReaderTest, AppendOneLineWritesLineBreaksAsReferences) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"<a>1\r\n2\n</a>\r", "<a>1&#13;&#10;2&#10;</a>&#13;"},
      {"\n\n\r\r<a/>", "&#10;&#10;&#13;&#13;<a/>"},
      {"<a>\n</a>\n\r", "<a>&#10;</a>&#10;&#13;"},
      {"<a/>", "<a/>"},
      {"", ""},
      {std::string_view(), ""},  // no pointer at all
  };
  for (const auto& [xml, expected] : cases) {
    std::string out = "x";
    AppendOneLine(out, xml);
    EXPECT_EQ(out, "x" + std::string(expected)) << xml;
    EXPECT_EQ(HasLineBreak(xml), xml != expected) << xml;
  }
}

}  // namespace
}  // namespace zor
