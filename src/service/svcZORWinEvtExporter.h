#pragma once

#include <cstdint>
#include <memory>

#include "platform/ServiceHost.h"
#include "service/EventLogManager.h"

namespace zor {

// The service: its start handler creates the event log manager and starts the
// pipeline; its control handler stops it. Run by TServiceHost, which calls
// both on the service thread.
class TsvcZORWinEvtExporter : public IService {
 public:
  static constexpr const char* Name = "svcZORWinEvtExporter";
  static constexpr const char* DisplayName = "ZOR Event Log Exporter";
  static constexpr const char* Description = "Forwards Win Event Log Messages As Syslog";

  TsvcZORWinEvtExporter() = default;
  ~TsvcZORWinEvtExporter() override;

  // Creates the manager, checks the program file and starts the pipeline.
  // Throws (after freeing the manager) when the manager cannot be created or
  // the program file fails its check: the service does not start.
  void ServiceStart() override;
  // SERVICE_CONTROL_STOP shuts the pipeline down and frees the manager;
  // SERVICE_CONTROL_PARAMCHANGE asks the manager to reconfigure.
  void ServiceControl(uint32_t ACode) override;

 private:
  std::unique_ptr<TEventLogManager> FManager;
};

}  // namespace zor
