// A loopback TCP sink for the whole-pipeline benchmark: accepts any number of
// connections on 127.0.0.1, counts LF-terminated lines across all of them and,
// when the wanted number has arrived, prints one result line:
//
//   lines=N bytes=B connections=C start=T0 first_byte=T1 last_line=T2 from_first_byte_s=.. from_start_s=..
//
// With --relp it is a RELP receiver instead: each "syslog" command counts as
// one line (its data, followed by LF, is what --capture writes) and is
// acknowledged at once ("200 OK"); "open" is answered with the offer of the
// "syslog" command, "close" with an acknowledgement and the end of the
// connection.
//
// T0/T1/T2 are wall-clock (CLOCK_REALTIME) seconds since the epoch, so that a
// script can compare them with its own start time of another process.
//
// usage: bench_line_sink --lines N [--port P] [--port-file F] [--capture F]
//                        [--linger] [--idle-timeout S] [--progress] [--relp]
//   --port 0 (default) binds an ephemeral port; --port-file receives it once
//   the socket listens. --capture writes every whole line received to F (the
//   lines of one connection stay whole and in order). --linger keeps reading
//   (and discarding) after N lines until SIGTERM/SIGINT, so that the sender
//   never sees a refused connection. --idle-timeout gives up (exit status 2)
//   when no byte has arrived for S seconds, printing what it has.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ToolOptions.h"

namespace {

constexpr size_t ReceiveBytes = 4 << 20;
constexpr int SocketBufferBytes = 8 << 20;

volatile sig_atomic_t GStop = 0;

void OnSignal(int) { GStop = 1; }

double Now() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

[[noreturn]] void Fail(const char* AWhat) {
  std::fprintf(stderr, "line_sink: %s: %s\n", AWhat, std::strerror(errno));
  std::exit(1);
}

size_t CountLines(const char* AData, size_t ASize) {
  size_t count = 0;
  const char* end = AData + ASize;
  for (const char* at = AData; (at = static_cast<const char*>(std::memchr(at, '\n', end - at))) != nullptr; ++at)
    ++count;
  return count;
}

struct TOptions {
  uint64_t Lines = 0;
  int Port = 0;
  std::string PortFile;
  std::string Capture;
  bool Linger = false;
  double IdleTimeout = 0;
  bool Progress = false;
  bool Relp = false;
};

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  zor::bench::TToolOptions("line_sink",
                           "line_sink --lines N [--port P] [--port-file F] [--capture F] [--linger] "
                           "[--idle-timeout S] [--progress] [--relp]")
      .Value("--lines", [&](const char* AValue) { options.Lines = std::strtoull(AValue, nullptr, 10); })
      .Value("--port", [&](const char* AValue) { options.Port = std::atoi(AValue); })
      .Value("--port-file", [&](const char* AValue) { options.PortFile = AValue; })
      .Value("--capture", [&](const char* AValue) { options.Capture = AValue; })
      .Flag("--linger", options.Linger)
      .Value("--idle-timeout", [&](const char* AValue) { options.IdleTimeout = std::atof(AValue); })
      .Flag("--progress", options.Progress)
      .Flag("--relp", options.Relp)
      .Parse(argc, argv, [&] { return options.Lines != 0; });
  return options;
}

int Listen(int APort) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // Set before listen so that accepted sockets inherit a big window.
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &SocketBufferBytes, sizeof SocketBufferBytes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(APort));
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
  if (listen(fd, 512) != 0) Fail("listen");
  return fd;
}

uint16_t BoundPort(int AFd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(AFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
  return ntohs(address.sin_port);
}

// Writes the whole lines of each connection to one file; a line's tail that
// has not arrived yet waits in its connection's pending text.
class TCapture {
 public:
  explicit TCapture(const std::string& AFile) {
    if (AFile.empty()) return;
    FFile = std::fopen(AFile.c_str(), "wb");
    if (FFile == nullptr) Fail("cannot open the capture file");
    std::setvbuf(FFile, nullptr, _IOFBF, 1 << 20);
  }
  ~TCapture() {
    if (FFile != nullptr) std::fclose(FFile);
  }
  bool Active() const { return FFile != nullptr; }

  void Add(int AConnection, const char* AData, size_t ASize) {
    std::string& pending = FPending[AConnection];
    const char* lastLf = static_cast<const char*>(memrchr(AData, '\n', ASize));
    if (lastLf == nullptr) {
      pending.append(AData, ASize);
      return;
    }
    const size_t whole = static_cast<size_t>(lastLf - AData) + 1;
    if (!pending.empty()) {
      Write(pending.data(), pending.size());
      pending.clear();
    }
    Write(AData, whole);
    pending.append(AData + whole, ASize - whole);
  }

  void Close(int AConnection) { FPending.erase(AConnection); }

 private:
  void Write(const char* AData, size_t ASize) {
    if (std::fwrite(AData, 1, ASize, FFile) != ASize) Fail("cannot write the capture file");
  }

  std::FILE* FFile = nullptr;
  std::unordered_map<int, std::string> FPending;
};


// Writes all of AText to the non-blocking socket AFd, waiting for room when
// it is full (answers are small and the client reads them while it sends).
// False when the connection failed.
bool SendAll(int AFd, std::string_view AText) {
  while (!AText.empty()) {
    const ssize_t sent = send(AFd, AText.data(), AText.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      AText.remove_prefix(static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd wait{AFd, POLLOUT, 0};
      if (poll(&wait, 1, 5000) > 0) continue;
    }
    return false;
  }
  return true;
}

// The RELP receiving side of the connections: frames are "TXNR COMMAND
// DATALEN[ DATA]\n"; a frame's tail that has not arrived yet waits in its
// connection's pending bytes.
class TRelpReceiver {
 public:
  // What one piece of received bytes held.
  struct TResult {
    // "syslog" commands.
    uint64_t Messages = 0;
    // The connection is over: closed by the client, or its bytes are not RELP.
    bool Ended = false;
  };

  // Takes the bytes received on AConnection, answers every whole command and
  // hands each message's data to AOnMessage.
  template <class TOnMessage>
  TResult Receive(int AConnection, const char* AData, size_t ASize, TOnMessage&& AOnMessage) {
    TResult result;
    std::string& pending = FPending[AConnection];
    pending.append(AData, ASize);
    std::string answers;
    size_t at = 0;
    while (true) {
      std::string_view txnr, command, data;
      const size_t next = Frame(pending, at, txnr, command, data);
      if (next == 0) break;
      if (next == std::string::npos) {
        std::fprintf(stderr, "line_sink: a connection sent bytes that are not RELP; closing it\n");
        result.Ended = true;
        break;
      }
      at = next;
      if (command == "syslog") {
        ++result.Messages;
        AOnMessage(data);
        Answer(answers, txnr, "200 OK");
      } else if (command == "open") {
        Answer(answers, txnr, "200 OK\nrelp_version=0\nrelp_software=line_sink\ncommands=syslog");
      } else if (command == "close") {
        Answer(answers, txnr, "200 OK");
        result.Ended = true;
        break;
      } else {
        Answer(answers, txnr, "500 unknown command");
      }
    }
    if (!SendAll(AConnection, answers)) result.Ended = true;
    pending.erase(0, at);
    return result;
  }

  void Close(int AConnection) { FPending.erase(AConnection); }

 private:
  static void Answer(std::string& AOut, std::string_view ATxnr, std::string_view AText) {
    AOut.append(ATxnr).append(" rsp ").append(std::to_string(AText.size())).append(" ").append(AText).append("\n");
  }

  // The frame starting at AFrom in AText: the offset after it, 0 when it is
  // not whole yet, npos when it is not a frame.
  static size_t Frame(std::string_view AText, size_t AFrom, std::string_view& ATxnr, std::string_view& ACommand,
                      std::string_view& AData) {
    const auto field = [&](size_t& AAt, std::string_view& AField) -> int {
      const size_t end = AText.find_first_of(" \n", AAt);
      if (end == std::string_view::npos) return AText.size() - AAt > 64 ? -1 : 0;
      AField = AText.substr(AAt, end - AAt);
      AAt = end;
      return 1;
    };
    size_t at = AFrom;
    std::string_view length;
    for (std::string_view* part : {&ATxnr, &ACommand, &length}) {
      const int got = field(at, *part);
      if (got <= 0) return got == 0 ? 0 : std::string::npos;
      if (part->empty()) return std::string::npos;
      if (part != &length && AText[at++] != ' ') return std::string::npos;
    }
    size_t size = 0;
    for (const char c : length) {
      if (c < '0' || c > '9' || size > (1u << 30)) return std::string::npos;
      size = size * 10 + static_cast<size_t>(c - '0');
    }
    // DATALEN, then " DATA" when there is data, then the trailer.
    if (size > 0) {
      if (at >= AText.size()) return 0;
      if (AText[at++] != ' ') return std::string::npos;
    }
    if (AText.size() - at < size + 1) return 0;
    AData = AText.substr(at, size);
    if (AText[at + size] != '\n') return std::string::npos;
    return at + size + 1;
  }

  std::unordered_map<int, std::string> FPending;
};

}  // namespace

int main(int argc, char** argv) {
  const TOptions options = ParseOptions(argc, argv);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const int listener = Listen(options.Port);
  const uint16_t port = BoundPort(listener);
  if (!options.PortFile.empty()) {
    // Written under another name first, so a reader never sees half of it.
    const std::string temporary = options.PortFile + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) Fail("cannot write the port file");
    std::fprintf(file, "%u\n", port);
    std::fclose(file);
    if (std::rename(temporary.c_str(), options.PortFile.c_str()) != 0) Fail("cannot rename the port file");
  }

  const int poller = epoll_create1(EPOLL_CLOEXEC);
  if (poller < 0) Fail("epoll_create1");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = listener;
  if (epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event) != 0) Fail("epoll_ctl");

  TCapture capture(options.Capture);
  TRelpReceiver relp;
  std::vector<char> buffer(ReceiveBytes);
  const double start = Now();
  double firstByte = 0, lastLine = 0, lastActivity = start, lastProgress = start;
  uint64_t lines = 0, bytes = 0, connections = 0;
  bool done = false;
  epoll_event ready[64];

  auto report = [&](FILE* AOut) {
    const double end = lastLine > 0 ? lastLine : Now();
    std::fprintf(AOut,
                 "lines=%llu bytes=%llu connections=%llu start=%.6f first_byte=%.6f last_line=%.6f "
                 "from_first_byte_s=%.6f from_start_s=%.6f\n",
                 static_cast<unsigned long long>(lines), static_cast<unsigned long long>(bytes),
                 static_cast<unsigned long long>(connections), start, firstByte, end,
                 firstByte > 0 ? end - firstByte : 0.0, end - start);
    std::fflush(AOut);
  };

  while (!GStop) {
    const int count = epoll_wait(poller, ready, 64, 200);
    if (count < 0) {
      if (errno == EINTR) continue;
      Fail("epoll_wait");
    }
    const double now = Now();
    for (int i = 0; i < count; ++i) {
      const int fd = ready[i].data.fd;
      if (fd == listener) {
        while (true) {
          const int connection = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (connection < 0) break;
          ++connections;
          epoll_event add{};
          add.events = EPOLLIN | EPOLLRDHUP;
          add.data.fd = connection;
          if (epoll_ctl(poller, EPOLL_CTL_ADD, connection, &add) != 0) Fail("epoll_ctl");
        }
        continue;
      }
      // Drains the socket; a short read means it is empty for now.
      while (true) {
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got > 0) {
          lastActivity = now;
          // A RELP client waits for its answers: they go on after the count.
          if (done && !options.Relp) {
            if (static_cast<size_t>(got) < buffer.size()) break;
            continue;
          }
          if (firstByte == 0) firstByte = Now();
          bytes += static_cast<uint64_t>(got);
          size_t found = 0;
          bool ended = false;
          if (options.Relp) {
            const TRelpReceiver::TResult result =
                relp.Receive(fd, buffer.data(), static_cast<size_t>(got), [&](std::string_view AData) {
                  if (!capture.Active()) return;
                  capture.Add(fd, AData.data(), AData.size());
                  capture.Add(fd, "\n", 1);
                });
            found = result.Messages;
            ended = result.Ended;
          } else {
            found = CountLines(buffer.data(), static_cast<size_t>(got));
            if (capture.Active()) capture.Add(fd, buffer.data(), static_cast<size_t>(got));
          }
          if (found > 0) {
            lines += found;
            if (lines >= options.Lines && !done) {
              lastLine = Now();
              done = true;
              report(stdout);
              if (!options.Linger) return 0;
            }
          }
          if (ended) {
            epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
            capture.Close(fd);
            relp.Close(fd);
            close(fd);
            break;
          }
          if (static_cast<size_t>(got) < buffer.size()) break;
          continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (got < 0 && errno == EINTR) continue;
        // Closed by the peer or failed.
        epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
        capture.Close(fd);
        relp.Close(fd);
        close(fd);
        break;
      }
    }
    if (options.Progress && now - lastProgress >= 1.0) {
      std::fprintf(stderr, "line_sink: %llu lines, %llu bytes, %llu connections\n",
                   static_cast<unsigned long long>(lines), static_cast<unsigned long long>(bytes),
                   static_cast<unsigned long long>(connections));
      lastProgress = now;
    }
    if (!done && options.IdleTimeout > 0 && now - lastActivity > options.IdleTimeout) {
      std::fprintf(stderr, "line_sink: no data for %.0f s; giving up at %llu of %llu lines\n", options.IdleTimeout,
                   static_cast<unsigned long long>(lines), static_cast<unsigned long long>(options.Lines));
      report(stdout);
      return 2;
    }
  }
  if (!done) {
    report(stdout);
    return 2;
  }
  return 0;
}
