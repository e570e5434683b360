// Cost of building one outgoing item: the encoded BSD and IETF syslog lines,
// and the compact JSON text of a winlogbeat document for a Security logon
// event (4624, tests/data/beats/security-4624.json).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>

#include "beats/WinLogBeat.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/IETFSysLogMessage.h"

namespace {

const char* const LogonText =
    "An account was successfully logged on. Subject: Security ID: S-1-0-0 Account Name: - Account Domain: - "
    "Logon ID: 0x0 Logon Type: 3 New Logon: Security ID: S-1-5-21-3623811015-3361044348-30300820-1013 "
    "Account Name: j.doe Account Domain: CORP Logon ID: 0x5A3F21C";

template <class TMessage>
void Fill(TMessage& AMessage) {
  AMessage.SetPriority(4 * 8 + 6);
  AMessage.SetHost("WS-0042.corp.example.com");
  AMessage.SetProcess("Microsoft-Windows-Security-Auditing");
  AMessage.SetProcessID(652);
  AMessage.SetMessageContent(LogonText);
}

void BM_BSDEncodedMessage(benchmark::State& AState) {
  zor::TBSDSysLogMessage message;
  Fill(message);
  message.SetTimeStamp(zor::TUtilities::EncodeDateTime(2024, 3, 5, 7, 8, 9, 12));
  size_t bytes = 0;
  for (auto _ : AState) {
    const std::string line = message.EncodedMessage();
    bytes += line.size();
    benchmark::DoNotOptimize(line.data());
  }
  AState.SetItemsProcessed(AState.iterations());
  AState.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_BSDEncodedMessage);

void BM_IETFEncodedMessage(benchmark::State& AState) {
  zor::TIETFSysLogMessage message;
  Fill(message);
  message.SetTimeStamp(zor::TUtilities::EncodeDateTime(2024, 3, 5, 7, 8, 9, 12));
  message.SetUTCOffset(std::chrono::hours(1));
  message.StructuredData().SetEncodedData(R"([win@32473 EventID="4624" Channel="Security" RecordID="1185712"])");
  size_t bytes = 0;
  for (auto _ : AState) {
    const std::string line = message.EncodedMessage();
    bytes += line.size();
    benchmark::DoNotOptimize(line.data());
  }
  AState.SetItemsProcessed(AState.iterations());
  AState.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_IETFEncodedMessage);

void BM_WinLogBeatAsJSONString(benchmark::State& AState) {
  std::ifstream in(std::string(ZOR_TEST_DATA_DIR) + "/beats/security-4624.json", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  zor::TWinLogBeat beat;
  beat.SetAsJSONString(text);
  size_t bytes = 0;
  for (auto _ : AState) {
    const std::string json = beat.AsJSONString();
    bytes += json.size();
    benchmark::DoNotOptimize(json.data());
  }
  AState.SetItemsProcessed(AState.iterations());
  AState.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_WinLogBeatAsJSONString);

}  // namespace
