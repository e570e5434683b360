#include "syslog/SyslogReceiver.h"

#include <array>
#include <utility>

namespace zor {

namespace {

using TReceiver = TSyslogReceiver;

const std::array<std::pair<TSysLogTransport, const char*>, 6> TransportWords = {{
    {TSysLogTransport::sltUDP, "UDP"},
    {TSysLogTransport::sltTCP, "TCP"},
    {TSysLogTransport::sltTLSv1, "TLS1.0"},
    {TSysLogTransport::sltTLSv1_1, "TLS1.1"},
    {TSysLogTransport::sltTLSv1_2, "TLS1.2"},
    {TSysLogTransport::sltRELP, "RELP"},
}};

// The delimiters are stored as backslash sequences (a backslash and letters),
// not as the control characters themselves.
const std::array<std::pair<TSyslogDelimiter, const char*>, 5> DelimiterWords = {{
    {TSyslogDelimiter::sdlNone, ""},
    {TSyslogDelimiter::sdlNewLine, "\\n"},
    {TSyslogDelimiter::sdlNull, "\\0"},
    {TSyslogDelimiter::sdlCarriageReturn, "\\CR"},
    {TSyslogDelimiter::sdlLineFeed, "\\LF"},
}};

}  // namespace

std::string TSyslogReceiver::TransportToStr(TSysLogTransport AValue) {
  for (const auto& [transport, word] : TransportWords) {
    if (transport == AValue) return word;
  }
  return "UDP";
}

TSysLogTransport TSyslogReceiver::StrToTransport(std::string_view AValue) {
  for (const auto& [transport, word] : TransportWords) {
    if (AValue == word) return transport;
  }
  return TSysLogTransport::sltUDP;
}

std::string TSyslogReceiver::DelimiterToStr(TSyslogDelimiter AValue) {
  for (const auto& [delimiter, word] : DelimiterWords) {
    if (delimiter == AValue) return word;
  }
  return "\\n";
}

TSyslogDelimiter TSyslogReceiver::StrToDelimiter(std::string_view AValue) {
  if (!JSONConfig::IsNotBlank(AValue)) return TSyslogDelimiter::sdlNone;
  for (const auto& [delimiter, word] : DelimiterWords) {
    if (AValue == word) return delimiter;
  }
  // Anything else, the written "\n" among it, is a new line.
  return TSyslogDelimiter::sdlNewLine;
}

const TJSONKeyTable<TSyslogReceiver>& TSyslogReceiver::Keys() {
  static const TJSONKeyTable<TReceiver> table = [] {
    TJSONKeyTable<TReceiver> t;
    const auto forwarded = [](const TReceiver& AReceiver) {
      return JSONConfig::IsNotBlank(AReceiver.FForwardHeader) && !AReceiver.FForwardIPList.empty();
    };
    t.Integer("syslogReceiverId", &TReceiver::FSyslogReceiverID, -1, -1)
        .String("name", &TReceiver::FName)
        .String("host", &TReceiver::FHost)
        // Only a JSON number counts: the port given as a string reads as 0.
        .Custom(
            "port", [](const TReceiver& AReceiver) { return TJSONValue(AReceiver.FPort); },
            [](TReceiver& AReceiver, const TJSONValue& AValue) {
              AReceiver.FPort = AValue.is_number() ? Json::ToInteger<uint16_t>(AValue, 0) : 0;
            },
            [](TReceiver& AReceiver) { AReceiver.FPort = 514; })
        .Compare([](const TReceiver& A1, const TReceiver& A2) { return A1.FPort == A2.FPort; })
        .Boolean("saveToFile", &TReceiver::FSaveToFile)
        .Custom(
            "transport", [](const TReceiver& AReceiver) { return TJSONValue(TransportToStr(AReceiver.FTransport)); },
            [](TReceiver& AReceiver, const TJSONValue& AValue) {
              AReceiver.FTransport = StrToTransport(Json::Text(AValue));
            },
            [](TReceiver& AReceiver) { AReceiver.FTransport = TSysLogTransport::sltUDP; })
        .Compare([](const TReceiver& A1, const TReceiver& A2) { return A1.FTransport == A2.FTransport; })
        .Boolean("noDelimOnLast", &TReceiver::FNoDelimOnLast)
        .NotCompared()
        .Custom(
            "tcpDelimiter",
            [](const TReceiver& AReceiver) { return TJSONValue(DelimiterToStr(AReceiver.FTCPDelimiter)); },
            [](TReceiver& AReceiver, const TJSONValue& AValue) {
              AReceiver.FTCPDelimiter = StrToDelimiter(Json::Text(AValue));
            },
            [](TReceiver& AReceiver) { AReceiver.FTCPDelimiter = TSyslogDelimiter::sdlNewLine; })
        .Compare([](const TReceiver& A1, const TReceiver& A2) { return A1.FTCPDelimiter == A2.FTCPDelimiter; })
        .Boolean("stripNewLine", &TReceiver::FStripNewLine)
        .Boolean("newLineToSpace", &TReceiver::FNewLineToSpace)
        .Boolean("stripTab", &TReceiver::FStripTab)
        .Boolean("tabToSpace", &TReceiver::FTabToSpace)
        .Integer("version", &TReceiver::FSyslogVersion, 0, 0)
        .NotCompared()
        .Boolean("persistentConnection", &TReceiver::FPersistentConnection)
        .String("forwardHeader", &TReceiver::FForwardHeader)
        .NotCompared()
        .WriteWhen(forwarded)
        .Custom(
            "forwardIpList",
            [](const TReceiver& AReceiver) { return JSONConfig::StringListToJSON(AReceiver.FForwardIPList); },
            // Read in FromJSONObject: it depends on "forwardHeader" being present.
            [](TReceiver&, const TJSONValue&) {}, [](TReceiver& AReceiver) { AReceiver.FForwardIPList.clear(); })
        .WriteWhen(forwarded);
    return t;
  }();
  return table;
}

TSyslogReceiver::TSyslogReceiver() { Keys().SetDefaults(*this); }

void TSyslogReceiver::FromJSONObject(const TJSONValue& AValue) {
  JSONConfig::RequireObject(AValue);
  FForwardIPList.clear();
  ReadKeys(AValue);
  if (Json::Find(AValue, "transport") == nullptr) FTransport = TSysLogTransport::sltUDP;
  if (Json::Find(AValue, "tcpDelimiter") == nullptr) FTCPDelimiter = TSyslogDelimiter::sdlNone;
  if (Json::Find(AValue, "forwardHeader") != nullptr) {
    if (const TJSONValue* list = Json::Find(AValue, "forwardIpList")) {
      JSONConfig::ReadAt("forwardIpList", [&] { JSONConfig::StringListFromJSON(*list, FForwardIPList); });
    }
  }
}

std::unique_ptr<TJSONObject> TSyslogReceiverList::ToJSONObject() const {
  auto object = std::make_unique<TJSONObject>(TJSONValue::object());
  Json::Append(*object, "receivers", std::move(*ToJSONArray()));
  return object;
}

void TSyslogReceiverList::FromJSONObject(const TJSONValue& AValue) {
  Clear();
  if (const TJSONValue* receivers = Json::Find(JSONConfig::RequireObject(AValue), "receivers")) {
    JSONConfig::ReadAt("receivers", [&] { FromJSONArray(*receivers); });
  }
}

std::string TSyslogReceiverList::AsJSONString() const { return Json::Compact(*ToJSONObject()); }

void TSyslogReceiverList::SetAsJSONString(std::string_view AText) { FromJSONObject(Json::Parse(AText)); }

std::unique_ptr<TSyslogReceiverList> TSyslogReceiverList::GetFromJSONString(std::string_view AText) {
  auto list = std::make_unique<TSyslogReceiverList>();
  list->SetAsJSONString(AText);
  return list;
}

std::unique_ptr<TSyslogReceiverList> TSyslogReceiverList::GetFromJSONArrayString(std::string_view AText) {
  auto list = std::make_unique<TSyslogReceiverList>();
  list->SetAsJSONArrayString(AText);
  return list;
}

}  // namespace zor
