#include "platform/ServiceHost.h"

#include <signal.h>

#include <cstdio>
#include <exception>
#include <future>
#include <thread>

#include "platform/ControlWindow.h"
#include "platform/Event.h"
#include "platform/MessageQueue.h"
#include "platform/SignalWatcher.h"
#include "platform/ThreadId.h"

namespace zor {

void TServiceHost::Run() {
  TSignalWatcher signals({SIGTERM, SIGINT, SIGHUP});
  TEvent serviceEnded;
  std::exception_ptr startError;
  std::promise<uint32_t> queueReady;
  std::future<uint32_t> serviceThreadId = queueReady.get_future();

  std::thread service([&] {
    // The queue exists before anything else runs on the thread, so a stop
    // that arrives during ServiceStart waits for the loop instead of being lost.
    TMessageQueue queue;
    queueReady.set_value(GetCurrentThreadId());
    try {
      FService.ServiceStart();
    } catch (...) {
      // Carried to the control thread, which rethrows it from Run.
      startError = std::current_exception();
      serviceEnded.Set();
      return;
    }
    MessageLoop();
    serviceEnded.Set();
  });

  const uint32_t threadId = serviceThreadId.get();
  bool stopping = false;
  for (;;) {
    const int signal = signals.Wait(serviceEnded);
    if (signal == 0) break;
    if (signal == SIGHUP) {
      (void)PostThreadMessage(threadId, WM_SERVICE_CONTROL, SERVICE_CONTROL_PARAMCHANGE);
    } else if (!stopping) {
      stopping = true;
      (void)PostThreadMessage(threadId, WM_SERVICE_CONTROL, SERVICE_CONTROL_STOP);
    }
  }
  service.join();
  if (startError) std::rethrow_exception(startError);
}

void TServiceHost::MessageLoop() {
  TMessageQueue& queue = *TMessageQueue::Current();
  TMessage message;
  bool stopped = false;
  while (!stopped && queue.GetMessage(message)) {
    stopped = message.Window == nullptr && message.Message == WM_SERVICE_CONTROL &&
              message.WParam == SERVICE_CONTROL_STOP;
    try {
      if (DispatchMessage(message)) continue;
      if (message.Message == WM_SERVICE_CONTROL) FService.ServiceControl(static_cast<uint32_t>(message.WParam));
    } catch (const std::exception& error) {
      // The handlers log their own failures; this is the loop's last resort,
      // and the loop goes on, as a window's message loop does.
      std::fprintf(stderr, "Error in the service's message handling: %s\n", error.what());
    }
  }
  // A quit message ended the loop without a stop: stop the service anyway,
  // so its pipeline is shut down before the thread goes.
  if (!stopped) {
    try {
      FService.ServiceControl(SERVICE_CONTROL_STOP);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "Error stopping the service: %s\n", error.what());
    }
  }
}

}  // namespace zor
