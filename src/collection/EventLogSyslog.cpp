// TEventLog.GetSyslogMessage: one event as a BSD or IETF syslog message
// under a reader's rules.
#include <algorithm>

#include "collection/EventLog.h"
#include "config/CollectionInterface.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/IETFSysLogMessage.h"

namespace zor {

namespace {

std::string WithoutBlanks(const std::string& AText) {
  std::string result;
  result.reserve(AText.size());
  std::copy_if(AText.begin(), AText.end(), std::back_inserter(result), [](char c) { return c != ' '; });
  return result;
}

}  // namespace

std::unique_ptr<TBaseSysLogMessage> TEventLog::GetSyslogMessage(const TCollectionInterface& AInterface,
                                                                 const std::string& AMessageType) const {
  // A raw-log-only reader always gets BSD messages in text-only form.
  std::unique_ptr<TBaseSysLogMessage> message;
  if (AMessageType == "IETF" && !AInterface.RawLogOnly())
    message = std::make_unique<TIETFSysLogMessage>();
  else
    message = std::make_unique<TBSDSysLogMessage>();
  message->SetSendMessageOnly(AInterface.RawLogOnly());

  if (!message->SendMessageOnly()) {
    message->SetFacility(AInterface.DefaultFacility());
    message->SetSeverity(AInterface.DeriveSeverity() ? TEventLogSystem::LevelToSeverity(FSystem.Level())
                                                     : AInterface.DefaultSeverity());
    // The event's UTC time goes in as it is: the IETF line shows it with "Z",
    // the BSD line (whose time stamp is local) shows the UTC wall-clock time.
    message->SetTimeStamp(FSystem.TimeCreated());
    message->SetProcess(WithoutBlanks(FSystem.Provider().Name));
    message->SetProcessID(FSystem.Execution().ProcessID);
    message->SetHost(FSystem.Computer());
  }

  // The rendered message replaces the XML only when there is one: a
  // RenderingInfo without a message text (the publisher's message could not
  // be formatted) would otherwise send an empty message and lose the event.
  const bool useRenderedMessage =
      AInterface.Parse() && FRenderingInfo.HasData() && !FRenderingInfo.MyMessage().empty();
  message->SetMessageContent(useRenderedMessage ? FRenderingInfo.MyMessage() : FEventLogXML);
  return message;
}

}  // namespace zor
