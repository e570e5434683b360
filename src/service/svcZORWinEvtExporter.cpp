#include "service/svcZORWinEvtExporter.h"

#include <utility>

#include "platform/MessageQueue.h"
#include "platform/ProgramIntegrity.h"
#include "platform/ServicePaths.h"
#include "support/Log.h"

namespace zor {

TsvcZORWinEvtExporter::~TsvcZORWinEvtExporter() = default;

void TsvcZORWinEvtExporter::ServiceStart() {
  // The service's description lives in its systemd unit (--install); there is
  // nothing to record at start.
  // A manager that cannot be created has logged why.
  FManager = std::make_unique<TEventLogManager>();
  try {
    VerifyProgramFile(ServicePaths().ProgramFile);
  } catch (const std::exception& error) {
    LogFatal(error.what());
    // The manager's control window belongs to this thread's message queue,
    // which goes when the start fails: free the manager first.
    FManager.reset();
    throw;
  }
  bool started = false;
  try {
    started = FManager->StartUp();
  } catch (const std::exception& error) {
    // A pipeline that could not be built (two kinds of sender for one
    // destination, an exclusion expression that does not compile...) fails
    // the start; what was started of it is stopped first.
    LogFatal(error.what());
    FManager->ShutDown();
    FManager.reset();
    throw;
  }
  if (started)
    LogInfo("Event log manager started");
  else
    LogFatal("Event log manager failed to start");
}

void TsvcZORWinEvtExporter::ServiceControl(uint32_t ACode) {
  if (ACode == SERVICE_CONTROL_PARAMCHANGE) {
    if (FManager != nullptr && FManager->ControlWindow() != nullptr)
      FManager->ControlWindow()->PostMessage(WM_RECONFIGURE);
    return;
  }
  if (ACode != SERVICE_CONTROL_STOP) return;
  LogInfo("Shuting down event log manager");
  // Freed here, on the service thread, whatever happens: its control window
  // must go before this thread's message queue.
  const std::unique_ptr<TEventLogManager> manager = std::move(FManager);
  if (manager != nullptr) manager->ShutDown();
}

}  // namespace zor
