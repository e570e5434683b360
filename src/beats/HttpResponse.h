#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zor {

// What one HTTP exchange brought back, collected while the response arrives:
// the status line and code of the final response, its declared charset and the
// body bytes. The endpoint client fills it from its transfer callbacks; the
// pieces are plain functions of the bytes received, so they can be tried on
// any input.
//
// A value owned by one client and used by one thread at a time.
class THttpResponse {
 public:
  // Bodies above this size end the transfer as failed (a peer cannot make the
  // service hold an endless answer).
  static constexpr size_t MaxBodyBytes = 64u << 20;

  // Forgets everything (before a request starts).
  void Clear();

  // One header line as received, with or without its line break. A status
  // line ("HTTP/..." with a three-digit code) starts a new response head, so
  // after an interim 1xx answer only the final response counts. A header line
  // before any status line is ignored.
  void AddHeaderLine(std::string_view ALine);

  // Appends body bytes. False, and nothing appended, when the body would grow
  // beyond MaxBodyBytes.
  [[nodiscard]] bool AppendBody(std::string_view AData);

  // The code of the last status line, -1 when none arrived.
  [[nodiscard]] int StatusCode() const { return FStatusCode; }
  // The last status line without its line break, e.g. "HTTP/1.1 404 Not Found";
  // empty when none arrived.
  [[nodiscard]] const std::string& StatusLine() const { return FStatusLine; }
  // The charset parameter of the final response's Content-Type, lower-cased,
  // without quotes; empty when none was declared.
  [[nodiscard]] const std::string& Charset() const { return FCharset; }
  [[nodiscard]] const std::string& RawBody() const { return FBody; }

  // The body as UTF-8 text, decoded from the declared charset (see DecodeText).
  [[nodiscard]] std::string BodyText() const { return DecodeText(FBody, FCharset); }

  // ABytes in charset ACharset (lower-case) as UTF-8. Decoded: utf-8 and
  // us-ascii (taken as they are), iso-8859-1 and its aliases, windows-1252,
  // utf-16, utf-16le and utf-16be (a byte-order mark wins; an odd last byte
  // becomes U+FFFD). No charset or one not known here: the bytes as they are,
  // since every answer the service reads is JSON, whose default is UTF-8.
  [[nodiscard]] static std::string DecodeText(std::string_view ABytes, std::string_view ACharset);

  // The charset parameter of a Content-Type value ("application/json;
  // charset=UTF-8" gives "utf-8"), lower-cased and unquoted; empty when absent.
  [[nodiscard]] static std::string CharsetOf(std::string_view AContentType);

 private:
  int FStatusCode = -1;
  std::string FStatusLine;
  std::string FCharset;
  std::string FBody;
};

}  // namespace zor
