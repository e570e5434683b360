#include "beats/EndpointClient.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <mutex>
#include <vector>

#include "support/JSONConfig.h"

namespace zor {

namespace {

std::string Base64(std::string_view AText) {
  std::string result(4 * ((AText.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(result.data()),
                                      reinterpret_cast<const unsigned char*>(AText.data()),
                                      static_cast<int>(AText.size()));
  result.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return result;
}

// Sent with every request at once, without waiting for a challenge (RFC 7617),
// also when both are empty.
std::string BasicAuthorization(const std::string& AUserName, const std::string& APassword) {
  return "Authorization: Basic " + Base64(AUserName + ":" + APassword);
}

// A blank token means Basic authorisation with empty credentials.
std::string TokenAuthorization(const std::string& AToken) {
  return JSONConfig::IsNotBlank(AToken) ? "Authorization: Bearer " + AToken : BasicAuthorization("", "");
}

bool IsPlainHttp(const std::string& AEndpoint) {
  if (AEndpoint.size() < 7) return false;
  std::string prefix = AEndpoint.substr(0, 7);
  for (char& c : prefix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return prefix == "http://";
}

void GlobalInit() {
  // curl_global_init is not safe to race with other curl calls; run it once,
  // before the first handle of the process.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t OnHeader(char* AData, size_t ASize, size_t ACount, void* AResponse) {
  static_cast<THttpResponse*>(AResponse)->AddHeaderLine(std::string_view(AData, ASize * ACount));
  return ASize * ACount;
}

size_t OnBody(char* AData, size_t ASize, size_t ACount, void* AResponse) {
  // A short count makes curl end the transfer with a write error.
  return static_cast<THttpResponse*>(AResponse)->AppendBody(std::string_view(AData, ASize * ACount)) ? ASize * ACount
                                                                                                      : 0;
}

// Called by curl during a transfer, about once a second and on every
// transfer of data; a non-zero result ends the transfer.
int OnProgress(void* AAbortEvent, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<TEvent*>(AAbortEvent)->IsSet() ? 1 : 0;
}

}  // namespace

struct TEndpointClient::TCurl {
  CURL* Handle = nullptr;
  curl_slist* Headers = nullptr;
  char ErrorBuffer[CURL_ERROR_SIZE] = {};

  TCurl() {
    GlobalInit();
    Handle = curl_easy_init();
  }
  ~TCurl() {
    if (Handle) curl_easy_cleanup(Handle);
    curl_slist_free_all(Headers);
  }
  TCurl(const TCurl&) = delete;
  TCurl& operator=(const TCurl&) = delete;
};

TEndpointClient::TEndpointClient(const std::string& AEndpoint, uint16_t APort, const std::string& AToken,
                                 const std::string& AResource, const TEndpointClientOptions& AOptions) {
  Init(AEndpoint, ":" + std::to_string(APort), AResource, TokenAuthorization(AToken), AOptions);
}

TEndpointClient::TEndpointClient(const std::string& AEndpoint, const std::string& AToken,
                                 const std::string& AResource, const TEndpointClientOptions& AOptions) {
  Init(AEndpoint, "", AResource, TokenAuthorization(AToken), AOptions);
}

TEndpointClient::TEndpointClient(const std::string& AEndpoint, uint16_t APort, const std::string& AUserName,
                                 const std::string& APassword, const std::string& AResource,
                                 const TEndpointClientOptions& AOptions) {
  Init(AEndpoint, ":" + std::to_string(APort), AResource, BasicAuthorization(AUserName, APassword),
       AOptions);
}

TEndpointClient::TEndpointClient(const std::string& AEndpoint, const std::string& AUserName,
                                 const std::string& APassword, const std::string& AResource,
                                 const TEndpointClientOptions& AOptions) {
  Init(AEndpoint, "", AResource, BasicAuthorization(AUserName, APassword), AOptions);
}

TEndpointClient::~TEndpointClient() = default;

void TEndpointClient::Init(const std::string& AEndpoint, const std::string& APortPart, const std::string& AResource,
                           const std::string& AAuthorization, const TEndpointClientOptions& AOptions) {
  FEndpointURL = AEndpoint + APortPart;
  FResource = AResource;
  FFullURL = FEndpointURL + "/" + AResource;
  FUsesTLS = !IsPlainHttp(AEndpoint);
  FTransportBase = AEndpoint.find("://") == std::string::npos ? "https://" + FEndpointURL : FEndpointURL;
  FAuthorization = AAuthorization;
  FCurl = std::make_unique<TCurl>();
  CURL* curl = FCurl->Handle;
  if (!curl) return;  // every request then fails with -1
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, FCurl->ErrorBuffer);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(AOptions.ConnectTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(AOptions.RequestTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "zor-event-exporter/" ZOR_VERSION);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &FResponse);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &FResponse);
  // TLS 1.2 only; the certificate is checked only when a receiver asks for it.
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, AOptions.VerifyCertificate ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, AOptions.VerifyCertificate ? 2L : 0L);
  if (AOptions.VerifyCertificate && !AOptions.CAFile.empty())
    curl_easy_setopt(curl, CURLOPT_CAINFO, AOptions.CAFile.c_str());
  if (AOptions.AbortEvent != nullptr) {
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, AOptions.AbortEvent);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  }
  SetContentHeaders(FAccept, FContentType);
}

void TEndpointClient::SetContentHeaders(const std::string& AAccept, const std::string& AContentType) {
  FAccept = AAccept;
  FContentType = AContentType;
  if (!FCurl->Handle) return;
  curl_slist* headers = nullptr;
  for (const std::string& line : {FAuthorization, "Accept: " + FAccept, "Content-Type: " + FContentType,
                                  // No "Expect: 100-continue" wait before large bodies.
                                  std::string("Expect:")}) {
    curl_slist* appended = curl_slist_append(headers, line.c_str());
    if (!appended) break;
    headers = appended;
  }
  curl_easy_setopt(FCurl->Handle, CURLOPT_HTTPHEADER, headers);
  curl_slist_free_all(FCurl->Headers);
  FCurl->Headers = headers;
}

void TEndpointClient::Perform(TMethod AMethod, const std::string& AResource, std::string_view ABody) {
  FResponse.Clear();
  FLastError.clear();
  CURL* curl = FCurl->Handle;
  if (!curl) {
    FLastError = "the HTTP library could not be initialised";
    return;
  }
  const std::string url = FTransportBase + "/" + AResource;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  // Every option a method sets is set again for each request, since the
  // handle keeps options (and its connection) from one request to the next.
  curl_easy_setopt(curl, CURLOPT_NOBODY, AMethod == TMethod::hmHead ? 1L : 0L);
  const bool hasBody = AMethod == TMethod::hmPut || AMethod == TMethod::hmPost;
  if (hasBody) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ABody.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, ABody.data());
  } else if (AMethod != TMethod::hmHead) {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  const char* custom = AMethod == TMethod::hmPut ? "PUT" : AMethod == TMethod::hmDelete ? "DELETE" : nullptr;
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, custom);
  FCurl->ErrorBuffer[0] = '\0';
  const CURLcode result = curl_easy_perform(curl);
  if (hasBody) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);  // ABody ends with this call
  if (result != CURLE_OK) {
    FLastError = FCurl->ErrorBuffer[0] ? FCurl->ErrorBuffer : curl_easy_strerror(result);
    if (result == CURLE_WRITE_ERROR) FLastError = "the response body exceeds the size limit";
  } else if (FResponse.StatusCode() >= 400) {
    FLastError = FResponse.StatusLine();
  }
}

int TEndpointClient::Head() { return Head(FResource); }
int TEndpointClient::Head(const std::string& AResource) {
  Perform(TMethod::hmHead, AResource, {});
  return ResponseCode();
}

std::string TEndpointClient::Get() { return Get(FResource); }
std::string TEndpointClient::Get(const std::string& AResource) {
  Perform(TMethod::hmGet, AResource, {});
  return FLastError.empty() ? FResponse.BodyText() : FLastError;
}

void TEndpointClient::Put(std::string_view AContents) { Put(FResource, AContents); }
void TEndpointClient::Put(const std::string& AResource, std::string_view AContents) {
  Perform(TMethod::hmPut, AResource, AContents);
}
void TEndpointClient::Put(std::string_view AContents, const std::string& AAccept, const std::string& AContentType) {
  SetContentHeaders(AAccept, AContentType);
  Put(AContents);
}
void TEndpointClient::Put(const std::string& AResource, std::string_view AContents, const std::string& AAccept,
                          const std::string& AContentType) {
  SetContentHeaders(AAccept, AContentType);
  Put(AResource, AContents);
}

std::string TEndpointClient::Post(std::string_view AContents) {
  return Post(FResource, AContents);
}
std::string TEndpointClient::Post(const std::string& AResource, std::string_view AContents) {
  Perform(TMethod::hmPost, AResource, AContents);
  return FResponse.BodyText();
}
std::string TEndpointClient::Post(std::string_view AContents, const std::string& AAccept,
                                  const std::string& AContentType) {
  SetContentHeaders(AAccept, AContentType);
  return Post(AContents);
}
std::string TEndpointClient::Post(const std::string& AResource, std::string_view AContents,
                                  const std::string& AAccept, const std::string& AContentType) {
  SetContentHeaders(AAccept, AContentType);
  return Post(AResource, AContents);
}

std::string TEndpointClient::Delete() { return Delete(FResource); }
std::string TEndpointClient::Delete(const std::string& AResource) {
  Perform(TMethod::hmDelete, AResource, {});
  return FResponse.BodyText();
}

}  // namespace zor
