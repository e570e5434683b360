#include "syslog/SyslogTrainer.h"

#include <algorithm>
#include <utility>

#include "platform/Event.h"
#include "platform/ThreadId.h"
#include "support/Log.h"
#include "support/Utilities.h"
#include "syslog/BSDSysLogMessage.h"

namespace zor {

TSyslogTrainer::TSyslogTrainer(TSyslogMessageQueue* AQueue, std::string ASyslogHost, uint16_t ASyslogPort,
                               int32_t ATrainingMsgInterval)
    : FMySignalledQueue(AQueue),
      FSysLogHost(std::move(ASyslogHost)),
      FSysLogPort(ASyslogPort),
      FTrainingMsgInterval(ATrainingMsgInterval) {}

TSyslogTrainer::~TSyslogTrainer() { (void)ThreadStop(true, INFINITE); }

std::unique_ptr<TBaseSysLogMessage> TSyslogTrainer::TrainingMessage(const std::string& AHost, uint16_t APort) {
  // Made from an empty string: no time is set, so the line carries the time
  // it is encoded at.
  auto message = std::make_unique<TBSDSysLogMessage>();
  message->SetFacility(TSyslogFacility::sfSystemDaemon);
  message->SetSeverity(TSyslogSeverity::slDebug);
  message->SetHost(TUtilities::GetLocalMachineName());
  message->SetProcess("TrainingProcess");
  message->SetProcessID(static_cast<int32_t>(GetCurrentProcessId()));
  message->SetDestinationHost(AHost);
  message->SetDestinationPort(APort);
  message->SetMessageContent("Syslog Training Nessage");
  return message;
}

void TSyslogTrainer::SendTrainingMessage() {
  std::unique_ptr<TBaseSysLogMessage> message = TrainingMessage(FSysLogHost, FSysLogPort);
  LogInfo("Send training Message %s to %s:%d", message->EncodedMessage().c_str(), FSysLogHost.c_str(), FSysLogPort);
  FMySignalledQueue->Enqueue(std::move(message));
}

bool TSyslogTrainer::Execute() {
  LogInfo("Start Training Thread For Host");
  const uint32_t interval =
      FTrainingMsgInterval > 0 ? static_cast<uint32_t>(std::min<int64_t>(int64_t{FTrainingMsgInterval} * 1000,
                                                                          INFINITE - 1))
                               : INFINITE;
  for (;;) {
    try {
      SendTrainingMessage();
    } catch (const std::exception& e) {
      LogError("[Trainer] %s:%d: %s", FSysLogHost.c_str(), FSysLogPort, e.what());
    }
    if (FShouldFinishEvent->WaitFor(interval)) break;
  }
  return true;
}

}  // namespace zor
