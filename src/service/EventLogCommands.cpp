// The channels and write-event commands: the event log root seen from the
// command line.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "evtx/ChannelStore.h"
#include "evtx/XmlChannel.h"
#include "platform/HostIdentity.h"
#include "platform/ServicePaths.h"
#include "platform/ThreadId.h"
#include "service/ProgramOptions.h"

namespace zor {

std::string EventLogRootOf(const TProgramOptions& AOptions) {
  TPathOverrides overrides;
  overrides.ProgramData = AOptions.ProgramData;
  overrides.EventLogDir = AOptions.EventLogDir;
  return ResolveServicePaths(overrides).EventLogDir;
}

namespace {

uint64_t FileTimeNow() {
  // 100 ns ticks between 1601-01-01 and 1970-01-01.
  constexpr uint64_t EpochDifference = 116444736000000000ull;
  const auto ticks = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>>(
      std::chrono::system_clock::now().time_since_epoch());
  return EpochDifference + static_cast<uint64_t>(ticks.count());
}

std::string HostName() {
  int error = 0;
  return THostIdentity::HostName(error).value_or("localhost");
}

}  // namespace

int RunChannels(const TProgramOptions& AOptions) {
  try {
    std::string text;
    for (const std::string& channel : TChannelStore(EventLogRootOf(AOptions)).Channels()) text += channel + "\n";
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "channels: cannot write to standard output\n");
      return 1;
    }
  } catch (const EZorError& e) {
    std::fprintf(stderr, "channels: %s\n", e.what());
    return 1;
  }
  return 0;
}

int RunWriteEvent(const TProgramOptions& AOptions, const TWriteEventArgs& AArgs) {
  try {
    const TChannelStore store(EventLogRootOf(AOptions));
    const TChannelStore::TLocation location = store.Locate(AArgs.Channel);
    if (location.Kind != TChannelStore::TChannelKind::ckXml)
      throw EChannelError("channel " + AArgs.Channel + " is the .evtx file " + location.File.string() +
                          "; only XML channels can be written");
    TNewEvent event;
    event.Channel = AArgs.Channel.front() == '/' ? TChannelStore::ChannelOf(location.File.filename().string())
                                                 : AArgs.Channel;
    event.Provider = AArgs.Provider;
    event.EventId = AArgs.EventId;
    event.Level = AArgs.Level;
    for (const std::string& item : AArgs.Data) {
      const size_t equals = item.find('=');
      if (equals == std::string::npos) throw EChannelError("--data expects NAME=VALUE, not '" + item + "'");
      event.Data.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    }
    event.Computer = AArgs.Computer.empty() ? HostName() : AArgs.Computer;
    event.TimeCreated = FileTimeNow();
    event.ProcessId = GetCurrentProcessId();
    event.ThreadId = GetCurrentThreadId();
    // Checks the event before the folder is made, so a bad event leaves no trace.
    (void)RenderNewEvent(event, 1);
    std::error_code error;
    std::filesystem::create_directories(location.File.parent_path(), error);
    if (error)
      throw EChannelError("cannot create the folder " + location.File.parent_path().string() + ": " + error.message());
    (void)TXmlChannel::Append(location.File, event);
  } catch (const EZorError& e) {
    std::fprintf(stderr, "write-event: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace zor
