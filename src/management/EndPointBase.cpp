#include "management/EndPointBase.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <array>
#include <cctype>
#include <chrono>

#include "management/AsciiCase.h"
#include "management/CertFiles.h"
#include "support/FileLogger.h"
#include "support/JSONConfig.h"
#include "support/Log.h"
#include "support/Utilities.h"

namespace zor {

namespace {

constexpr const char* Realm = "Enter User name and Password";


// Text from a client, fit for one log line.
std::string Printable(std::string_view AText) {
  std::string result;
  for (char c : AText.substr(0, 256)) result += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  return result;
}

// Equal texts, in a time that depends on neither text's content nor length:
// the digests are compared, not the texts.
bool SameSecret(const std::string& AFirst, const std::string& ASecond) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> first{};
  std::array<unsigned char, SHA256_DIGEST_LENGTH> second{};
  SHA256(reinterpret_cast<const unsigned char*>(AFirst.data()), AFirst.size(), first.data());
  SHA256(reinterpret_cast<const unsigned char*>(ASecond.data()), ASecond.size(), second.data());
  return CRYPTO_memcmp(first.data(), second.data(), first.size()) == 0;
}

bool ChangesSomething(const std::string& AMethod) {
  return AMethod == "PUT" || AMethod == "POST" || AMethod == "DELETE";
}

// "Basic <base64 of user:password>"; false when the header is not that.
bool ParseBasic(const std::string& AHeader, std::string& AUserName, std::string& APassword) {
  if (AHeader.size() < 6 || UpperAscii(AHeader.substr(0, 6)) != "BASIC ") return false;
  std::string encoded = AHeader.substr(6);
  while (!encoded.empty() && encoded.front() == ' ') encoded.erase(0, 1);
  while (!encoded.empty() && encoded.back() == ' ') encoded.pop_back();
  if (encoded.empty() || encoded.size() % 4 != 0 || encoded.size() > 8192) return false;
  std::string decoded(encoded.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                     reinterpret_cast<const unsigned char*>(encoded.data()),
                                     static_cast<int>(encoded.size()));
  if (length < 0) return false;
  // EVP_DecodeBlock counts the bytes that the padding stands for.
  size_t size = static_cast<size_t>(length);
  for (size_t i = encoded.size(); i > 0 && encoded[i - 1] == '='; --i) --size;
  decoded.resize(size);
  const size_t colon = decoded.find(':');
  if (colon == std::string::npos) return false;
  AUserName = decoded.substr(0, colon);
  APassword = decoded.substr(colon + 1);
  return true;
}

void SplitTarget(const std::string& ATarget, std::string& AURI, std::vector<std::string>& AParams) {
  const size_t question = ATarget.find('?');
  AURI = ATarget.substr(0, question);
  if (question == std::string::npos) return;
  size_t start = question + 1;
  while (start <= ATarget.size()) {
    const size_t end = std::min(ATarget.find('&', start), ATarget.size());
    if (end > start) AParams.push_back(ATarget.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

TEndPointAccess DecideAccess(bool ACheckCredentials, const std::string& AUserName, const std::string& APassword,
                             const std::string& AMethod, bool AClientIsLoopback, bool AHasAuthorization,
                             const std::string& AGivenUserName, const std::string& AGivenPassword) {
  if (!ACheckCredentials) {
    return ChangesSomething(AMethod) && !AClientIsLoopback ? TEndPointAccess::eaForbidden : TEndPointAccess::eaAllowed;
  }
  if (!AHasAuthorization) return TEndPointAccess::eaNoAuthInfo;
  // Both are compared whatever the first gives, so the time tells nothing.
  const bool userOk = SameSecret(AGivenUserName, AUserName);
  const bool passwordOk = SameSecret(AGivenPassword, APassword);
  if (!userOk) return TEndPointAccess::eaBadUserName;
  if (!passwordOk) return TEndPointAccess::eaBadPassword;
  return TEndPointAccess::eaAllowed;
}

TEndPointBase::TEndPointBase(const std::string& AIP, uint16_t APort, const std::string& AProtocol,
                             const std::string& ACertFile, const std::string& AKeyFile,
                             const std::string& ARootCertFile, const std::string& AUserName,
                             const std::string& APassword, const std::string& AClientCAFile,
                             const TEndPointLimits& ALimits)
    : FIP(AIP),
      FPort(APort),
      FProtocol(AProtocol),
      FHttps(UpperAscii(AProtocol) == "HTTPS"),
      FUserName(AUserName),
      FPassword(APassword),
      // Over plain HTTP too, as soon as a user name is configured.
      FCheckCredentials(FHttps || JSONConfig::IsNotBlank(AUserName)),
      FLimits(ALimits) {
  if (FHttps) {
    FCertFile = LocateCertFile(ACertFile);
    FKeyFile = LocateCertFile(AKeyFile);
    FRootCertFile = LocateCertFile(ARootCertFile);
    LogInfo("Cert File = %s", FCertFile.c_str());
    LogInfo("Key File = %s", FKeyFile.c_str());
    LogInfo("Root Cert File = %s", FRootCertFile.c_str());
    if (!AClientCAFile.empty()) {
      FClientCAFile = LocateCertFile(AClientCAFile);
      LogInfo("Client CA File = %s", FClientCAFile.c_str());
      // A configured file that is missing must not turn verification off.
      if (FClientCAFile.empty()) FClientCAFile = AClientCAFile;
    }
  }
  // Credentials are checked once the head has arrived, before any body is read.
  FHandlers.Screen = [this](const THttpRequest& ARequest, THttpAnswer& AAnswer) {
    return Authorised(ARequest, AAnswer);
  };
  FHandlers.Handle = [this](const THttpRequest& ARequest, THttpAnswer& AAnswer) { Route(ARequest, AAnswer); };
}

TEndPointBase::~TEndPointBase() { Stop(); }

void TEndPointBase::HandleGet(const TEndPointRequest&, TEndPointResponse&) {}
void TEndPointBase::HandlePut(const TEndPointRequest&, TEndPointResponse&) {}
void TEndPointBase::HandlePost(const TEndPointRequest&, TEndPointResponse&) {}
void TEndPointBase::HandleDelete(const TEndPointRequest&, TEndPointResponse&) {}

bool TEndPointBase::Start() {
  if (Started()) return true;
  try {
    if (FHttps) FTls = std::make_unique<TTlsServerContext>(FCertFile, FKeyFile, FRootCertFile, FClientCAFile);
    FListener = std::make_unique<TTcpListener>(FIP, FPort);
  } catch (const std::exception& error) {
    FTls.reset();
    LogFatal(TUtilities::Format("Exception starting REST Endpoint: %s", error.what()));
    return false;
  }
  LogInfo("[EndPoint] Listening on %s:%d", FIP.c_str(), static_cast<int>(FListener->Port()));
  if (!FCheckCredentials && !IsLoopbackAddress(FIP)) {
    TFileLogger::Warn(
        "[EndPoint] The endpoint on %s:%d checks no credentials: changes (PUT, POST, DELETE) are taken from "
        "loopback clients only. Set \"userName\" and \"password\" to manage it from elsewhere.",
        FIP.c_str(), static_cast<int>(FListener->Port()));
  }
  {
    TCriticalSectionGuard guard(FLock);
    FStopping = false;
  }
  FStop.Reset();
  for (size_t i = 0; i < FLimits.MaxConnections; ++i) FServers.emplace_back([this] { ServeLoop(); });
  FAcceptThread = std::thread([this] { AcceptLoop(); });
  return true;
}

void TEndPointBase::Stop() {
  if (!Started()) return;
  FStop.Set();
  {
    TCriticalSectionGuard guard(FLock);
    FStopping = true;
    FWaiting.clear();
    // Ends every wait for a request; an answer being made or written still
    // goes out (a change answers before the reconfiguration it asked for
    // stops this endpoint), and then its connection closes.
    for (TTcpConnection* connection : FServing) connection->StopReading();
  }
  FArrived.notify_all();
  if (FAcceptThread.joinable()) FAcceptThread.join();
  for (std::thread& server : FServers) server.join();
  FServers.clear();
  FListener.reset();
  FTls.reset();
}

void TEndPointBase::AcceptLoop() {
  for (;;) {
    std::unique_ptr<TTcpConnection> connection;
    try {
      connection = FListener->Accept(FStop);
    } catch (const std::exception& error) {
      LogError("[EndPoint] Accepting connections ended: %s", error.what());
      return;
    }
    if (!connection) return;
    TCriticalSectionGuard guard(FLock);
    if (FStopping) return;
    // Beyond the waiting room a connection is closed at once: the client
    // sees a reset and may try again, and the server keeps its bounds.
    if (FWaiting.size() >= FLimits.MaxWaitingConnections) continue;
    FWaiting.push_back(std::move(connection));
    FArrived.notify_one();
  }
}

bool TEndPointBase::OthersWaiting() {
  TCriticalSectionGuard guard(FLock);
  return !FWaiting.empty() || FStopping;
}

void TEndPointBase::ServeLoop() {
  for (;;) {
    std::unique_ptr<TTcpConnection> connection;
    {
      TCriticalSectionGuard guard(FLock);
      while (!FStopping && FWaiting.empty()) FArrived.wait(FLock);
      if (FStopping) return;
      connection = std::move(FWaiting.front());
      FWaiting.pop_front();
      FServing.push_back(connection.get());
    }
    try {
      THttpConnection http(*connection, FTls ? FTls->Handle() : nullptr, FLimits);
      http.Serve(FHandlers, [this] { return OthersWaiting(); });
    } catch (const std::exception& error) {
      LogError("[EndPoint] Error serving %s: %s", connection->PeerAddress().c_str(), error.what());
    }
    TCriticalSectionGuard guard(FLock);
    std::erase(FServing, connection.get());
  }
}

bool TEndPointBase::Authorised(const THttpRequest& ARequest, THttpAnswer& AAnswer) const {
  const std::string& client = ARequest.ClientAddress;
  const std::string* authorization = ARequest.Header("Authorization");
  std::string userName;
  std::string password;
  if (authorization != nullptr) (void)ParseBasic(*authorization, userName, password);
  const bool hasAuthorization = authorization != nullptr;
  const TEndPointAccess access = DecideAccess(FCheckCredentials, FUserName, FPassword, ARequest.Method,
                                              IsLoopbackAddress(client), hasAuthorization, userName, password);
  switch (access) {
    case TEndPointAccess::eaAllowed:
      return true;
    case TEndPointAccess::eaNoAuthInfo:
      LogError("No AUTH Info From %s", client.c_str());
      break;
    case TEndPointAccess::eaBadUserName:
      LogError("Bad User Name %s From %s", Printable(userName).c_str(), client.c_str());
      break;
    case TEndPointAccess::eaBadPassword:
      LogError("Bad Password From %s", client.c_str());
      break;
    case TEndPointAccess::eaForbidden:
      LogError("[EndPoint] Refused %s command %s from %s: without credentials only loopback clients may change",
               Printable(ARequest.Method).c_str(), Printable(ARequest.Target.substr(0, ARequest.Target.find('?'))).c_str(),
               client.c_str());
      AAnswer.Status = 403;
      return false;
  }
  AAnswer.Status = 401;
  AAnswer.Headers.emplace_back("WWW-Authenticate", std::string("Basic realm=\"") + Realm + "\"");
  return false;
}

void TEndPointBase::Route(const THttpRequest& ARequest, THttpAnswer& AAnswer) {
  TEndPointRequest request;
  request.Method = ARequest.Method;
  SplitTarget(ARequest.Target, request.URI, request.Params);
  request.Body = ARequest.Body;
  request.ClientAddress = ARequest.ClientAddress;
  // GET, HEAD and POST take the first way, every other method the second;
  // they differ in what they log and in the text of a failure.
  const bool first = request.Method == "GET" || request.Method == "HEAD" || request.Method == "POST";
  const std::string uri = Printable(request.URI);
  if (first)
    LogDebug("[EndPoint] Got %s command %s from %s", request.Method.c_str(), uri.c_str(), request.ClientAddress.c_str());
  else
    LogDebug("[EndPoint] Got new %s command %s from %s", request.Method.c_str(), uri.c_str(),
             request.ClientAddress.c_str());

  TEndPointResponse response;
  try {
    if (request.Method == "GET") {
      HandleGet(request, response);
    } else if (request.Method == "POST") {
      HandlePost(request, response);
    } else if (request.Method == "PUT") {
      HandlePut(request, response);
    } else if (request.Method == "DELETE") {
      HandleDelete(request, response);
    } else if (request.Method == "HEAD" || request.Method == "OPTIONS" || request.Method == "TRACE") {
      // The default success answer.
    } else {
      LogDebug(first ? "[EndPoint] Got %s Command [%s]" : "Got %s Command [%s]", request.Method.c_str(), uri.c_str());
      response.Status = 404;
    }
  } catch (const std::exception& error) {
    const std::string reason =
        first ? TUtilities::Format("[EndPoint] Error processing %s: %s", request.Method.c_str(), error.what())
              : TUtilities::Format("Exception occurred prcessing Endpoint command %s: %s", request.Method.c_str(),
                                   error.what());
    response = TEndPointResponse();
    response.Status = 500;
    response.Body = reason;
    AAnswer.Reason = reason;
  }
  AAnswer.Status = response.Status;
  AAnswer.Body = std::move(response.Body);
  if (!AAnswer.Body.empty())
    AAnswer.ContentType = response.ContentType.empty() ? "text/plain; charset=utf-8" : response.ContentType;
}

}  // namespace zor
