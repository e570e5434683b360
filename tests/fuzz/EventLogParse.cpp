// Fuzz target for the event record parser and the builders on top of it:
// any input either fails Reset with the system's own error or gives a record
// from which a BSD line, an IETF line and a beat document can be built.
// ResetSystem must fail where Reset fails and give the same syslog lines
// otherwise; a tail that ClosesEvent takes must parse after "<Event>".
#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "beats/WinLogBeat.h"
#include "collection/EventLog.h"
#include "collection/EventXml.h"
#include "config/CollectionInterface.h"
#include "platform/Errors.h"
#include "syslog/BaseSysLogMessage.h"

namespace {

// The error's kind, or the System values the syslog lines and queries read.
std::string Outcome(zor::TEventLog& AEvent, const std::string& AText, bool AOnlySystem) {
  try {
    if (AOnlySystem)
      AEvent.ResetSystem(std::string(AText));
    else
      AEvent.Reset(AText);
  } catch (const zor::EEventLogError&) {
    return "malformed";
  } catch (const zor::EZorError&) {
    return "conversion";
  }
  const zor::TEventLogSystem& system = AEvent.System();
  return std::to_string(system.Level()) + "|" + std::to_string(system.TimeCreated()) + "|" +
         system.Provider().Name + "|" + std::to_string(system.Execution().ProcessID) + "|" + system.Computer() +
         "|" + std::to_string(system.EventRecordID()) + "|" + std::to_string(system.EventID().ID) + "|" +
         system.Channel() + "|" + system.UserID() + "|" + std::to_string(system.HasData());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  static zor::TEventLog event;
  static zor::TEventLog onlySystem;
  static const zor::TCollectionInterface reader = [] {
    zor::TCollectionInterface result;
    result.SetDeriveSeverity(true);
    result.SetParse(true);
    return result;
  }();
  const std::string text(reinterpret_cast<const char*>(AData), ASize);

  if (zor::eventxml::ClosesEvent(text)) {
    const std::string whole = "<Event>" + text;
    pugi::xml_document document;
    if (!document.load_buffer(whole.data(), whole.size(), zor::eventxml::ParseOptions, pugi::encoding_utf8)) abort();
  }
  if (Outcome(onlySystem, text, true) != Outcome(event, text, false)) abort();

  try {
    event.Reset(text);
  } catch (const zor::EZorError&) {
    return 0;
  }
  (void)event.GetSyslogMessage(reader, "BSD")->EncodedMessage();
  (void)event.GetSyslogMessage(reader, "IETF")->EncodedMessage();
  (void)event.GetWinLogBeat()->AsJSONString();
  return 0;
}
