#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/CustomThread.h"
#include "syslog/BaseSysLogMessage.h"
#include "syslog/SyslogMessageQueue.h"

namespace zor {

// Training mode's worker for one syslog destination: it sends a fixed test
// message at once and then every ATrainingMsgInterval seconds, through the
// outbound syslog queue, so it reaches the receiver by the same registry and
// sender as real events. An interval of 0 or less sends the one message at
// start and no more (0 would otherwise send without pause).
//
// Ownership: the queue is borrowed and must outlive the thread; each message
// belongs to the queue once put there. Threads: the body runs on its own
// thread and only touches the (thread-safe) queue.
class TSyslogTrainer : public TCustomThread {
 public:
  TSyslogTrainer(TSyslogMessageQueue* AQueue, std::string ASyslogHost, uint16_t ASyslogPort,
                 int32_t ATrainingMsgInterval);
  ~TSyslogTrainer() override;

  [[nodiscard]] const std::string& Host() const { return FSysLogHost; }
  [[nodiscard]] uint16_t Port() const { return FSysLogPort; }

  // The training message for AHost:APort: PRI 31 (daemon, debug), this
  // machine, process "TrainingProcess" with this process's id, the fixed
  // text; time of encoding.
  [[nodiscard]] static std::unique_ptr<TBaseSysLogMessage> TrainingMessage(const std::string& AHost, uint16_t APort);

 protected:
  bool Execute() override;

 private:
  void SendTrainingMessage();

  TSyslogMessageQueue* const FMySignalledQueue;
  const std::string FSysLogHost;
  const uint16_t FSysLogPort;
  const int32_t FTrainingMsgInterval;
};

}  // namespace zor
