#include "platform/ServiceHost.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/ControlWindow.h"
#include "platform/ThreadId.h"
#include "platform/Errors.h"

namespace zor {
namespace {

// A service that records what the host delivers and on which thread. Its
// start handler creates a control window, as the real service does, and
// drives the test through AScript, run on the service thread.
class TRecordingService : public IService {
 public:
  std::function<void(TRecordingService&)> Script;
  std::vector<std::string> Calls;
  std::vector<uint32_t> Threads;
  std::unique_ptr<TControlWindow> Window;
  pthread_t ControlThread = pthread_self();

  void ServiceStart() override {
    Record("start");
    Window = std::make_unique<TControlWindow>(
        [this](const TMessage& AMessage) { Record("window " + std::to_string(AMessage.Message)); });
    if (Script) Script(*this);
  }
  void ServiceControl(uint32_t ACode) override {
    Record("control " + std::to_string(ACode));
    if (ACode == SERVICE_CONTROL_STOP) Window.reset();  // destroyed on its own thread
  }
  // Signals the control thread, as the system or an operator would.
  void Signal(int ASignal) const { ASSERT_EQ(pthread_kill(ControlThread, ASignal), 0); }

 private:
  void Record(const std::string& ACall) {
    Calls.push_back(ACall);
    Threads.push_back(GetCurrentThreadId());
  }
};

TEST(ServiceHostTest, SignalsBecomeControlsOnTheServiceThreadInOrder) {
  TRecordingService service;
  service.Script = [](TRecordingService& AService) {
    AService.Window->PostMessage(WM_RECONFIGURE);
    AService.Signal(SIGHUP);
    // A second stop request must not reach the service twice.
    AService.Signal(SIGTERM);
  };
  TServiceHost host(service);
  host.Run();
  ASSERT_GE(service.Calls.size(), 4u);
  EXPECT_EQ(service.Calls[0], "start");
  EXPECT_EQ(service.Calls[1], "window 1025");
  EXPECT_EQ(service.Calls[2], "control 6");
  EXPECT_EQ(service.Calls[3], "control 1");
  EXPECT_EQ(service.Calls.size(), 4u);
  for (uint32_t thread : service.Threads) {
    EXPECT_EQ(thread, service.Threads[0]) << "everything runs on the service thread";
    EXPECT_NE(thread, GetCurrentThreadId());
  }
}

TEST(ServiceHostTest, InterruptStopsToo) {
  TRecordingService service;
  service.Script = [](TRecordingService& AService) { AService.Signal(SIGINT); };
  TServiceHost host(service);
  host.Run();
  EXPECT_EQ(service.Calls, (std::vector<std::string>{"start", "control 1"}));
}

TEST(ServiceHostTest, AFailedStartIsRethrownOnTheControlThread) {
  class TFailingService : public IService {
   public:
    void ServiceStart() override { throw EZorError("cannot start"); }
    void ServiceControl(uint32_t) override { FAIL() << "no control after a failed start"; }
  } service;
  TServiceHost host(service);
  try {
    host.Run();
    FAIL() << "Run returned";
  } catch (const EZorError& error) {
    EXPECT_STREQ(error.what(), "cannot start");
  }
}

TEST(ServiceHostTest, AQuitMessageEndsTheLoopWithAStop) {
  TRecordingService service;
  service.Script = [](TRecordingService&) { ASSERT_TRUE(PostThreadMessage(GetCurrentThreadId(), WM_QUIT)); };
  TServiceHost host(service);
  host.Run();
  EXPECT_EQ(service.Calls, (std::vector<std::string>{"start", "control 1"}));
}

}  // namespace
}  // namespace zor
