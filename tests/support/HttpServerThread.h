#pragma once

#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "platform/BrokenPipeSignal.h"

namespace zor::test {

// The test servers' HTTP library writes answers without MSG_NOSIGNAL (and over
// TLS through OpenSSL's socket BIO, which uses write()), and its server
// constructor sets SIGPIPE to be ignored in the whole process. Ignoring it
// there would hide a SIGPIPE fault of the code under test in the same process
// and, as an ignored signal stays ignored across exec, in every program the
// test starts. So a test server is made with the process's disposition kept
// and serves on a thread that blocks SIGPIPE.

// Makes a server (httplib::Server, httplib::SSLServer) and gives SIGPIPE back
// the disposition it had before.
template <typename TServer, typename... TArgs>
std::unique_ptr<TServer> MakeHttpServer(TArgs&&... AArguments) {
  struct sigaction previous {};
  sigaction(SIGPIPE, nullptr, &previous);
  auto server = std::make_unique<TServer>(std::forward<TArgs>(AArguments)...);
  sigaction(SIGPIPE, &previous, nullptr);
  return server;
}

// A thread that runs the loop of AServer (bound already) until AServer.stop().
// SIGPIPE is blocked in it, and so in the worker threads the loop starts: an
// answer to a client that went away fails with EPIPE there instead of ending
// the test process. Returns once the loop runs, since the library ignores a
// stop that comes before. AServer must outlive the thread (join it).
inline std::thread HttpServerThread(httplib::Server& AServer) {
  std::thread thread([&AServer] {
    BlockBrokenPipeSignal();
    AServer.listen_after_bind();
  });
  while (!AServer.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return thread;
}

}  // namespace zor::test
