// TEventLog.GetSyslogMessage: one event as a BSD or IETF syslog message
// under a reader's rules.
#include <algorithm>
#include <utility>

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

std::unique_ptr<TBaseSysLogMessage> TEventLog::NewSyslogMessage(const TCollectionInterface& AInterface,
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
  return message;
}

bool TEventLog::UsesRenderedMessage(const TCollectionInterface& AInterface) const {
  // The rendered message replaces the XML only when there is one: a
  // RenderingInfo without a message text (the publisher's message could not
  // be formatted) would otherwise send an empty message and lose the event.
  return AInterface.Parse() && FRenderingInfo.HasData() && !FRenderingInfo.MyMessage().empty();
}

std::unique_ptr<TBaseSysLogMessage> TEventLog::GetSyslogMessage(const TCollectionInterface& AInterface,
                                                                 const std::string& AMessageType) const {
  std::unique_ptr<TBaseSysLogMessage> message = NewSyslogMessage(AInterface, AMessageType);
  message->SetMessageContent(UsesRenderedMessage(AInterface) ? FRenderingInfo.MyMessage() : FEventLogXML);
  return message;
}

std::unique_ptr<TBaseSysLogMessage> TEventLog::TakeSyslogMessage(const TCollectionInterface& AInterface,
                                                                  const std::string& AMessageType) {
  std::unique_ptr<TBaseSysLogMessage> message = NewSyslogMessage(AInterface, AMessageType);
  if (UsesRenderedMessage(AInterface)) {
    message->SetMessageContent(FRenderingInfo.MyMessage());
  } else {
    message->SetMessageContent(std::move(FEventLogXML));
    FEventLogXML.clear();
  }
  return message;
}

}  // namespace zor
