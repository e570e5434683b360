#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "beats/HttpResponse.h"
#include "platform/Event.h"

namespace zor {

// Settings of an endpoint client beyond the endpoint and its credentials.
struct TEndpointClientOptions {
  // Limit of establishing the connection (TCP and the TLS handshake).
  uint32_t ConnectTimeoutMs = 10000;
  // Limit of a whole request, from its start to the last byte of the answer.
  uint32_t RequestTimeoutMs = 60000;
  // Verify the server's certificate and host name. Off by default: existing
  // set-ups talk to endpoints with self-made certificates.
  bool VerifyCertificate = false;
  // With VerifyCertificate: a PEM file of trusted certificates; empty means the
  // system's trust store.
  std::string CAFile;
  // When set, a request in progress gives up (as a failed transfer) soon
  // after this event is signalled, so its owner can stop without waiting
  // for a slow peer. Borrowed; must outlive the client.
  TEvent* AbortEvent = nullptr;
};

// The one HTTP client of the service, bound to one endpoint and one resource
// path. It adds the authorisation (Basic, or Bearer when a token is given),
// speaks TLS 1.2 unless the endpoint starts with "http://" (in any letter
// case), performs a request and keeps the status code, the status line and
// the full URL for the caller. It never throws: a failure shows only in the
// status (-1 and an empty status line when no status line arrived; the HTTP
// status otherwise) and in LastError().
//
// The connection stays open between requests (HTTP keep-alive), so a caller
// that sends a series of requests to one endpoint keeps one client and pays
// the TCP and TLS handshakes once. No proxy is used (the environment's proxy
// settings are ignored), redirects are reported, not followed, and only http
// and https are spoken.
//
// Owned and used by one thread at a time; no lock. Destroying the client
// closes its connection.
class TEndpointClient {
 public:
  // AEndpoint carries the scheme and host ("https://es.example"); no scheme is
  // added (an endpoint without one is reached over TLS). With a port,
  // FEndpointURL is "endpoint:port". FullURL is FEndpointURL + "/" + AResource.
  TEndpointClient(const std::string& AEndpoint, uint16_t APort, const std::string& AToken,
                  const std::string& AResource, const TEndpointClientOptions& AOptions = {});
  TEndpointClient(const std::string& AEndpoint, const std::string& AToken, const std::string& AResource,
                  const TEndpointClientOptions& AOptions = {});
  TEndpointClient(const std::string& AEndpoint, uint16_t APort, const std::string& AUserName,
                  const std::string& APassword, const std::string& AResource,
                  const TEndpointClientOptions& AOptions = {});
  TEndpointClient(const std::string& AEndpoint, const std::string& AUserName, const std::string& APassword,
                  const std::string& AResource, const TEndpointClientOptions& AOptions = {});
  ~TEndpointClient();
  TEndpointClient(const TEndpointClient&) = delete;
  TEndpointClient& operator=(const TEndpointClient&) = delete;

  // Status code of the last request; -1 when no status line was received.
  [[nodiscard]] int ResponseCode() const { return FResponse.StatusCode(); }
  [[nodiscard]] int StatusCode() const { return FResponse.StatusCode(); }
  // Status line of the last response ("HTTP/1.1 200 OK"); empty when none.
  [[nodiscard]] const std::string& ResponseText() const { return FResponse.StatusLine(); }
  [[nodiscard]] const std::string& StatusText() const { return FResponse.StatusLine(); }
  [[nodiscard]] const std::string& FullURL() const { return FFullURL; }
  [[nodiscard]] const std::string& EndpointURL() const { return FEndpointURL; }
  // Why the last request failed: the transport's message, or the status line
  // of a status of 400 or above; empty after a request that succeeded.
  [[nodiscard]] const std::string& LastError() const { return FLastError; }
  // Whether the connection is TLS (decided at construction).
  [[nodiscard]] bool UsesTLS() const { return FUsesTLS; }

  // Each request has a form on FullURL and a form on "FEndpointURL/AResource".
  // The forms with AAccept and AContentType set both headers first; they stay
  // set for later requests. Until set, requests carry "Accept: */*" and bodies
  // "Content-Type: application/json". Bodies are sent as the bytes given.

  // The status code.
  int Head();
  int Head(const std::string& AResource);
  // The body as UTF-8 text; on failure (no answer, or a status of 400 or
  // above) LastError() instead.
  std::string Get();
  std::string Get(const std::string& AResource);
  void Put(std::string_view AContents);
  void Put(const std::string& AResource, std::string_view AContents);
  void Put(std::string_view AContents, const std::string& AAccept, const std::string& AContentType);
  void Put(const std::string& AResource, std::string_view AContents, const std::string& AAccept,
           const std::string& AContentType);
  // The body as UTF-8 text, whatever the status; empty when none arrived.
  std::string Post(std::string_view AContents);
  std::string Post(const std::string& AResource, std::string_view AContents);
  std::string Post(std::string_view AContents, const std::string& AAccept, const std::string& AContentType);
  std::string Post(const std::string& AResource, std::string_view AContents, const std::string& AAccept,
                   const std::string& AContentType);
  // The body as UTF-8 text, whatever the status; empty when none arrived.
  std::string Delete();
  std::string Delete(const std::string& AResource);

  // The body of the last response as UTF-8 text (also after Head and Put).
  [[nodiscard]] std::string ResponseBody() const { return FResponse.BodyText(); }

 private:
  enum class TMethod : uint8_t { hmHead, hmGet, hmPut, hmPost, hmDelete };
  struct TCurl;

  void Init(const std::string& AEndpoint, const std::string& APortPart, const std::string& AResource,
            const std::string& AAuthorization, const TEndpointClientOptions& AOptions);
  void SetContentHeaders(const std::string& AAccept, const std::string& AContentType);
  // Runs one request on "FEndpointURL/AResource". Never throws.
  void Perform(TMethod AMethod, const std::string& AResource, std::string_view ABody);

  std::string FEndpointURL;
  std::string FResource;
  std::string FFullURL;
  // What the transport is given: FEndpointURL with "https://" in front when
  // the endpoint names no scheme.
  std::string FTransportBase;
  bool FUsesTLS = false;
  std::string FAuthorization;  // the whole header line
  std::string FAccept = "*/*";
  std::string FContentType = "application/json";
  THttpResponse FResponse;
  std::string FLastError;
  std::unique_ptr<TCurl> FCurl;
};

}  // namespace zor
