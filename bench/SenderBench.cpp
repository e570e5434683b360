// Throughput of one sender flush: 10,000 BSD messages of about 1.5 KB each,
// handed over in one batch, framed (TCP, LF) and written to a receiver on the
// loopback that reads and discards everything. Building the messages is not
// timed; an iteration ends when the sender counts them all as sent.
// Also the framer alone on the same text.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "syslog/BSDSysLogMessage.h"
#include "syslog/SysLogSender.h"
#include "syslog/SyslogFramer.h"

namespace {

constexpr int FlushMessages = 10000;

// A TCP listener on 127.0.0.1 whose thread accepts connections and drains
// them.
class TDiscardSink {
 public:
  TDiscardSink() {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(FListen, 16) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("discard sink: cannot listen");
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { Run(); });
  }
  ~TDiscardSink() {
    FStop = true;
    FThread.join();
    ::close(FListen);
  }
  uint16_t Port() const { return FPort; }

 private:
  void Run() {
    std::vector<pollfd> fds{{FListen, POLLIN, 0}};
    std::vector<char> buffer(1 << 18);
    while (!FStop) {
      if (poll(fds.data(), fds.size(), 50) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) fds.push_back({fd, POLLIN, 0});
      }
      for (size_t i = 1; i < fds.size();) {
        if (fds[i].revents != 0 && ::read(fds[i].fd, buffer.data(), buffer.size()) <= 0) {
          ::close(fds[i].fd);
          fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
          continue;
        }
        ++i;
      }
    }
    for (size_t i = 1; i < fds.size(); ++i) ::close(fds[i].fd);
  }

  int FListen = -1;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// About 1.5 KB of event text, plain ASCII as most event records are.
std::string EventText(int AIndex) {
  std::string text = "An account was successfully logged on. Record " + std::to_string(AIndex) + ".";
  while (text.size() < 1400)
    text += " Subject: Security ID: S-1-5-21-3623811015-3361044348-30300820-1013 Account Name: j.doe"
            " Account Domain: CORP Logon ID: 0x5A3F21C Logon Type: 3";
  return text;
}

zor::TSysLogSender::TMessageList Batch() {
  zor::TSysLogSender::TMessageList batch;
  batch.reserve(FlushMessages);
  for (int i = 0; i < FlushMessages; ++i) {
    auto message = std::make_unique<zor::TBSDSysLogMessage>();
    message->SetPriority(4 * 8 + 6);
    message->SetHost("WS-0042.corp.example.com");
    message->SetProcess("Microsoft-Windows-Security-Auditing");
    message->SetProcessID(652);
    message->SetTimeStamp(zor::TUtilities::EncodeDateTime(2024, 3, 5, 7, 8, 9, 12));
    message->SetMessageContent(EventText(i));
    batch.push_back(std::move(message));
  }
  return batch;
}

// range(0): 1 keeps the connection open between flushes (Persistent).
void BM_SenderFlushTcpLf(benchmark::State& AState) {
  TDiscardSink sink;
  zor::TSyslogSenderOptions options;
  options.Persistent = AState.range(0) != 0;
  zor::TSysLogSender sender("127.0.0.1", sink.Port(), zor::TSysLogTransport::sltTCP,
                            zor::TSyslogDelimiter::sdlLineFeed, "bench", options);
  if (!sender.ThreadStart(false, zor::INFINITE)) {
    AState.SkipWithError("sender thread did not start");
    return;
  }
  uint64_t target = 0;
  for (auto _ : AState) {
    AState.PauseTiming();
    auto batch = Batch();
    target += FlushMessages;
    AState.ResumeTiming();
    sender.AddMessageBatch(std::move(batch));
    while (sender.Counts().Sent < target) {
      if (sender.Counts().FailedAttempts != 0) {
        AState.SkipWithError("send failed");
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }
  (void)sender.ThreadStop(true, zor::INFINITE);
  AState.SetItemsProcessed(AState.iterations() * FlushMessages);
}
BENCHMARK(BM_SenderFlushTcpLf)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameTcpLf(benchmark::State& AState) {
  const zor::TSyslogFramer framer(
      zor::TSyslogFramer::TOptions{zor::TSysLogTransport::sltTCP, zor::TSyslogDelimiter::sdlLineFeed});
  const std::string text = EventText(1);
  size_t bytes = 0;
  for (auto _ : AState) {
    const std::string framed = framer.Frame(text, "", false);
    bytes += framed.size();
    benchmark::DoNotOptimize(framed.data());
  }
  AState.SetItemsProcessed(AState.iterations());
  AState.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_FrameTcpLf);

}  // namespace
