#pragma once

#include <string>
#include <string_view>

#include "syslog/SyslogGlobal.h"

namespace zor {

// Turns the wire text of one syslog message into the bytes a sender writes:
// stream framing (octet counting or a delimiter, with the per-message framing
// override; none over UDP and RELP), the optional forward header, and the
// one-byte wire encoding.
// Immutable after construction; any thread may use it.
class TSyslogFramer {
 public:
  struct TOptions {
    TSysLogTransport Transport = TSysLogTransport::sltUDP;
    TSyslogDelimiter Delimiter = TSyslogDelimiter::sdlLineFeed;
    bool NoDelimOnLast = false;
    bool Persistent = false;
    std::string ForwardHeader;
    std::string ForwardIPList;
  };

  explicit TSyslogFramer(TOptions AOptions);

  // The bytes of AText (UTF-8) on the wire. AFraming is the message's own
  // framing override ("T", "\r\n", "\n" or "\r" written out with backslashes;
  // anything else keeps the sender's delimiter); ALast marks the last message
  // of a flush.
  std::string Frame(std::string_view AText, std::string_view AFraming, bool ALast) const;
  // The same bytes, appended to AOut (so that a sender can frame a run of
  // messages into one write buffer).
  void AppendFrame(std::string& AOut, std::string_view AText, std::string_view AFraming, bool ALast) const;

  // The one-byte wire encoding: each character up to U+00FF becomes that
  // byte, any other character "?" (a character outside the basic plane "??",
  // one per UTF-16 unit), and every byte of an invalid UTF-8 sequence "?".
  // So an octet count of the result is its character count.
  static std::string ToSingleByte(std::string_view AUtf8);
  // The same, appended to AOut.
  static void AppendSingleByte(std::string& AOut, std::string_view AUtf8);

  // The delimiter for a message with framing AFraming.
  TSyslogDelimiter DelimiterFor(std::string_view AFraming) const;

 private:
  const TOptions FOptions;
  // The wire bytes in front of every message: "header IPs " when the forward
  // header is not blank, else empty.
  const std::string FForwardPrefix;
};

}  // namespace zor
