#pragma once

#include <cstdint>

namespace zor {

// Control codes a host delivers to its service.
constexpr uint32_t SERVICE_CONTROL_STOP = 1;
constexpr uint32_t SERVICE_CONTROL_PARAMCHANGE = 6;

// The thread message by which the host hands a control code (WParam) to the
// service thread. Not a window message: the service's windows never see it.
constexpr uint32_t WM_SERVICE_CONTROL = 0x8001;

// What a service supplies to its host. Both operations run on the service
// thread, one at a time, so a stop never overlaps the handling of a window
// message such as WM_RECONFIGURE.
class IService {
 public:
  virtual ~IService() = default;
  // The start handler; runs once, first. Throwing fails the start.
  virtual void ServiceStart() = 0;
  // A control request. SERVICE_CONTROL_STOP is the last call the service gets.
  virtual void ServiceControl(uint32_t ACode) = 0;
};

// The service framework off Windows: runs one service as a foreground daemon.
//
// Run blocks SIGTERM, SIGINT and SIGHUP, then starts the service thread: that
// thread gets a message queue, runs ServiceStart, and then runs the message
// loop that dispatches window messages (TControlWindow) and the host's
// control requests. The calling thread stays the control thread: it reads the
// signals and posts SIGTERM and SIGINT as SERVICE_CONTROL_STOP (once) and
// SIGHUP as SERVICE_CONTROL_PARAMCHANGE to the service thread.
//
// Call Run from the main thread before any other thread exists, so no thread
// takes these signals the default way. A program that runs a host holds them
// from the start of main (TSignalHold): one that comes while it starts is
// then read here, once Run begins, instead of ending the process.
class TServiceHost {
 public:
  explicit TServiceHost(IService& AService) : FService(AService) {}
  TServiceHost(const TServiceHost&) = delete;
  TServiceHost& operator=(const TServiceHost&) = delete;

  // Returns once the service thread has ended after a stop. Rethrows on the
  // calling thread the error that failed ServiceStart.
  void Run();

 private:
  void ServiceThread();
  void MessageLoop();

  IService& FService;
};

}  // namespace zor
