// Fuzz target for the event record parser and the builders on top of it:
// any input either fails Reset with the system's own error or gives a record
// from which a BSD line, an IETF line and a beat document can be built.
#include <cstddef>
#include <cstdint>
#include <string>

#include "beats/WinLogBeat.h"
#include "collection/EventLog.h"
#include "config/CollectionInterface.h"
#include "platform/Errors.h"
#include "syslog/BaseSysLogMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  static zor::TEventLog event;
  static const zor::TCollectionInterface reader = [] {
    zor::TCollectionInterface result;
    result.SetDeriveSeverity(true);
    result.SetParse(true);
    return result;
  }();
  try {
    event.Reset(std::string(reinterpret_cast<const char*>(AData), ASize));
  } catch (const zor::EZorError&) {
    return 0;
  }
  (void)event.GetSyslogMessage(reader, "BSD")->EncodedMessage();
  (void)event.GetSyslogMessage(reader, "IETF")->EncodedMessage();
  (void)event.GetWinLogBeat()->AsJSONString();
  return 0;
}
