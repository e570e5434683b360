#include "management/HttpConnection.h"

#include <openssl/err.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "management/AsciiCase.h"
#include "support/SocketBio.h"

namespace zor {

namespace {

using TClock = TTcpConnection::TClock;

const char* StandardReason(int AStatus) {
  switch (AStatus) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    default: return "Unknown";
  }
}

// The byte source and sink of one connection, and the hooks of its timing.
struct TIO {
  std::function<ssize_t(char*, size_t)> Read;        // count, 0 at the end, -1 on failure
  std::function<bool(std::string_view)> Write;       // true when all went out
  std::function<bool()> WaitForNext;                 // a kept-alive connection's next request arrives
  std::function<void()> StartRequest;                // a request's time starts
};

// Reads a request's head and body through a buffer.
class TRequestReader {
 public:
  enum class TResult : uint8_t { rrRequest, rrEnd, rrBad, rrTooLarge, rrHeadTooLarge, rrChunked };

  TRequestReader(TIO& AIO, const TEndPointLimits& ALimits) : FIO(AIO), FLimits(ALimits) {}

  [[nodiscard]] bool Buffered() const { return FStart < FBuffer.size(); }

  TResult ReadHead(THttpRequest& ARequest, size_t& ABodyLength) {
    std::string line;
    // Blank lines before a request are passed over (RFC 9112 2.2).
    do {
      const int got = ReadLine(line);
      if (got < 0) return got == -2 ? TResult::rrHeadTooLarge : TResult::rrEnd;
    } while (line.empty());
    const size_t first = line.find(' ');
    const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos) return TResult::rrBad;
    ARequest.Method = line.substr(0, first);
    ARequest.Target = line.substr(first + 1, second - first - 1);
    ARequest.Version = line.substr(second + 1);
    if (ARequest.Method.empty() || !std::all_of(ARequest.Method.begin(), ARequest.Method.end(), [](char c) {
          return std::isupper(static_cast<unsigned char>(c)) != 0;
        }))
      return TResult::rrBad;
    if (ARequest.Target.empty() || ARequest.Target.front() != '/') return TResult::rrBad;
    if (ARequest.Version != "HTTP/1.1" && ARequest.Version != "HTTP/1.0") return TResult::rrBad;

    for (;;) {
      const int got = ReadLine(line);
      if (got == -2) return TResult::rrHeadTooLarge;
      if (got < 0) return TResult::rrBad;
      if (line.empty()) break;
      if (ARequest.Headers.size() == FLimits.MaxHeaders) return TResult::rrHeadTooLarge;
      const size_t colon = line.find(':');
      if (colon == 0 || colon == std::string::npos || line.find_first_of(" \t") < colon) return TResult::rrBad;
      const size_t valueStart = line.find_first_not_of(" \t", colon + 1);
      const size_t valueEnd = line.find_last_not_of(" \t");
      ARequest.Headers.emplace_back(line.substr(0, colon), valueStart == std::string::npos || valueEnd < valueStart
                                                               ? std::string()
                                                               : line.substr(valueStart, valueEnd - valueStart + 1));
    }
    if (ARequest.Header("Transfer-Encoding") != nullptr) return TResult::rrChunked;
    ABodyLength = 0;
    bool seen = false;
    for (const auto& [name, value] : ARequest.Headers) {
      if (UpperAscii(name) != "CONTENT-LENGTH") continue;
      if (value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string::npos)
        return TResult::rrBad;
      const size_t length = std::stoull(value);
      if (seen && length != ABodyLength) return TResult::rrBad;
      seen = true;
      ABodyLength = length;
    }
    return ABodyLength > FLimits.MaxBodyBytes ? TResult::rrTooLarge : TResult::rrRequest;
  }

  bool ReadBody(size_t ALength, std::string& ABody) {
    ABody.clear();
    ABody.reserve(ALength);
    while (ABody.size() < ALength) {
      if (!Buffered() && !Fill()) return false;
      const size_t take = std::min(ALength - ABody.size(), FBuffer.size() - FStart);
      ABody.append(FBuffer, FStart, take);
      FStart += take;
    }
    return true;
  }

 private:
  // One line without its end: 0, -1 at the end of data, -2 when too long.
  int ReadLine(std::string& ALine) {
    ALine.clear();
    for (;;) {
      const size_t end = FBuffer.find('\n', FStart);
      const size_t available = (end == std::string::npos ? FBuffer.size() : end) - FStart;
      if (ALine.size() + available > FLimits.MaxLineBytes) return -2;
      ALine.append(FBuffer, FStart, available);
      if (end != std::string::npos) {
        FStart = end + 1;
        if (!ALine.empty() && ALine.back() == '\r') ALine.pop_back();
        return 0;
      }
      FStart = FBuffer.size();
      if (!Fill()) return -1;
    }
  }

  bool Fill() {
    if (FStart > 0) {
      FBuffer.erase(0, FStart);
      FStart = 0;
    }
    char chunk[16384];
    const ssize_t count = FIO.Read(chunk, sizeof chunk);
    if (count <= 0) return false;
    FBuffer.append(chunk, static_cast<size_t>(count));
    return true;
  }

  TIO& FIO;
  const TEndPointLimits& FLimits;
  std::string FBuffer;
  size_t FStart = 0;
};

std::string AnswerBytes(const THttpRequest& ARequest, const THttpAnswer& AAnswer, bool AClose) {
  std::string reason = AAnswer.Reason.empty() ? StandardReason(AAnswer.Status) : AAnswer.Reason;
  // The reason goes on the status line: no line breaks or other controls.
  std::erase_if(reason, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  std::string bytes = "HTTP/1.1 " + std::to_string(AAnswer.Status) + " " + reason + "\r\n";
  if (!AAnswer.ContentType.empty()) bytes += "Content-Type: " + AAnswer.ContentType + "\r\n";
  for (const auto& [name, value] : AAnswer.Headers) bytes += name + ": " + value + "\r\n";
  bytes += "Content-Length: " + std::to_string(AAnswer.Body.size()) + "\r\n";
  bytes += AClose ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
  if (ARequest.Method != "HEAD") bytes += AAnswer.Body;
  return bytes;
}

// Serves requests until the connection or the limits end.
void ServeRequests(TIO& AIO, const THttpHandlers& AHandlers, const TEndPointLimits& ALimits,
                   const std::string& AClientAddress, const std::function<bool()>& AOthersWaiting) {
  TRequestReader reader(AIO, ALimits);
  for (size_t count = 0; count < ALimits.MaxRequestsPerConnection; ++count) {
    if (count > 0 && !reader.Buffered() && !AIO.WaitForNext()) return;
    AIO.StartRequest();
    THttpRequest request;
    request.ClientAddress = AClientAddress;
    size_t bodyLength = 0;
    THttpAnswer answer;
    bool close = count + 1 == ALimits.MaxRequestsPerConnection || AOthersWaiting();
    switch (reader.ReadHead(request, bodyLength)) {
      case TRequestReader::TResult::rrEnd:
        return;
      case TRequestReader::TResult::rrBad:
        answer.Status = 400;
        close = true;
        break;
      case TRequestReader::TResult::rrTooLarge:
        answer.Status = 413;
        close = true;
        break;
      case TRequestReader::TResult::rrHeadTooLarge:
        answer.Status = 431;
        close = true;
        break;
      case TRequestReader::TResult::rrChunked:
        answer.Status = 411;
        close = true;
        break;
      case TRequestReader::TResult::rrRequest: {
        const std::string* connection = request.Header("Connection");
        const std::string option = connection ? UpperAscii(*connection) : std::string();
        if (request.Version == "HTTP/1.0" ? option != "KEEP-ALIVE" : option == "CLOSE") close = true;
        if (!AHandlers.Screen(request, answer)) {
          // The body of a refused request is never read.
          if (bodyLength > 0) close = true;
          break;
        }
        if (bodyLength > 0) {
          const std::string* expect = request.Header("Expect");
          if (expect != nullptr && UpperAscii(*expect) == "100-CONTINUE" && !AIO.Write("HTTP/1.1 100 Continue\r\n\r\n"))
            return;
          if (!reader.ReadBody(bodyLength, request.Body)) return;
        }
        AHandlers.Handle(request, answer);
        break;
      }
    }
    if (!AIO.Write(AnswerBytes(request, answer, close)) || close) return;
  }
}

}  // namespace

const std::string* THttpRequest::Header(std::string_view AName) const {
  const std::string name = UpperAscii(std::string(AName));
  for (const auto& [key, value] : Headers)
    if (UpperAscii(key) == name) return &value;
  return nullptr;
}

// The bytes of a connection: plain or TLS over a non-blocking socket, every
// read bounded by the deadline of the current request, every write by the
// write time-out.
class THttpConnection::TStream {
 public:
  TStream(TTcpConnection& AConnection, SSL* ASsl, const TEndPointLimits& ALimits)
      : FConnection(AConnection), FSsl(ASsl), FLimits(ALimits) {}

  void StartRequest() { FReadDeadline = TClock::now() + FLimits.RequestTimeout; }

  bool WaitForNext() {
    return (FSsl != nullptr && SSL_pending(FSsl) > 0) ||
           FConnection.WaitReadable(TClock::now() + FLimits.KeepAliveTimeout);
  }

  ssize_t Read(char* ABuffer, size_t ASize) {
    if (FSsl == nullptr) return FConnection.Read(ABuffer, ASize, FReadDeadline);
    const int size = static_cast<int>(std::min<size_t>(ASize, 1 << 30));
    for (;;) {
      const int count = SSL_read(FSsl, ABuffer, size);
      if (count > 0) return count;
      switch (SSL_get_error(FSsl, count)) {
        case SSL_ERROR_WANT_READ:
          if (!FConnection.WaitReadable(FReadDeadline)) return -1;
          break;
        case SSL_ERROR_WANT_WRITE:
          if (!FConnection.WaitWritable(FReadDeadline)) return -1;
          break;
        case SSL_ERROR_ZERO_RETURN:
          return 0;
        default:
          ERR_clear_error();
          return -1;
      }
    }
  }

  bool Write(std::string_view AData) {
    const auto deadline = TClock::now() + FLimits.WriteTimeout;
    if (FSsl == nullptr) return FConnection.Write(AData.data(), AData.size(), deadline) == static_cast<ssize_t>(AData.size());
    size_t written = 0;
    while (written < AData.size()) {
      const int size = static_cast<int>(std::min<size_t>(AData.size() - written, 1 << 30));
      const int count = SSL_write(FSsl, AData.data() + written, size);
      if (count > 0) {
        written += static_cast<size_t>(count);
        continue;
      }
      const int error = SSL_get_error(FSsl, count);
      if (error == SSL_ERROR_WANT_WRITE) {
        if (!FConnection.WaitWritable(deadline)) return false;
      } else if (error == SSL_ERROR_WANT_READ) {
        if (!FConnection.WaitReadable(deadline)) return false;
      } else {
        ERR_clear_error();
        return false;
      }
    }
    return true;
  }

 private:
  TTcpConnection& FConnection;
  SSL* const FSsl;
  const TEndPointLimits& FLimits;
  TClock::time_point FReadDeadline = TClock::now();
};

THttpConnection::THttpConnection(TTcpConnection& AConnection, SSL_CTX* ATls, const TEndPointLimits& ALimits)
    : FConnection(AConnection), FTls(ATls), FLimits(ALimits) {}

THttpConnection::~THttpConnection() {
  if (FSsl != nullptr) {
    (void)SSL_shutdown(FSsl);  // one close notify, not waited for
    SSL_free(FSsl);
    ERR_clear_error();
  }
}

bool THttpConnection::Handshake() {
  FSsl = SSL_new(FTls);
  if (FSsl == nullptr) return false;
  // Not SSL_set_fd: a client that goes away while its answer is written must
  // not end the service with SIGPIPE.
  BIO* bio = NewSocketBio(FConnection.Handle());
  if (bio == nullptr) return false;
  SSL_set_bio(FSsl, bio, bio);
  const auto deadline = TClock::now() + FLimits.RequestTimeout;
  for (;;) {
    const int result = SSL_accept(FSsl);
    if (result == 1) return true;
    const int error = SSL_get_error(FSsl, result);
    if (error == SSL_ERROR_WANT_READ) {
      if (!FConnection.WaitReadable(deadline)) return false;
    } else if (error == SSL_ERROR_WANT_WRITE) {
      if (!FConnection.WaitWritable(deadline)) return false;
    } else {
      ERR_clear_error();
      return false;
    }
  }
}

void THttpConnection::Serve(const THttpHandlers& AHandlers, const std::function<bool()>& AOthersWaiting) {
  if (FTls != nullptr && !Handshake()) return;
  TStream stream(FConnection, FSsl, FLimits);
  TIO io{[&](char* ABuffer, size_t ASize) { return stream.Read(ABuffer, ASize); },
         [&](std::string_view AData) { return stream.Write(AData); }, [&] { return stream.WaitForNext(); },
         [&] { stream.StartRequest(); }};
  ServeRequests(io, AHandlers, FLimits, FConnection.PeerAddress(), AOthersWaiting);
}

std::string THttpConnection::ServeBytes(const THttpHandlers& AHandlers, std::string_view ARequest,
                                        const std::string& AClientAddress, const TEndPointLimits& ALimits) {
  size_t position = 0;
  std::string answers;
  TIO io{[&](char* ABuffer, size_t ASize) {
           const size_t count = std::min(ASize, ARequest.size() - position);
           // An empty request's pointer may be null, which memcpy must not see.
           if (count != 0) std::memcpy(ABuffer, ARequest.data() + position, count);
           position += count;
           return static_cast<ssize_t>(count);
         },
         [&](std::string_view AData) {
           answers += AData;
           return true;
         },
         [&] { return position < ARequest.size(); }, [] {}};
  ServeRequests(io, AHandlers, ALimits, AClientAddress, [] { return false; });
  return answers;
}

}  // namespace zor
