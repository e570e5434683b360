// The test bulk endpoint as a program of its own, for whole-program
// benchmarks of the beat output: serves HEAD/PUT _template/NAME and POST
// _bulk on 127.0.0.1 over HTTP or HTTPS, checks every body strictly, and by
// default only counts what it accepts (nothing stored), so that a benchmark
// measures the sender. When the wanted number of documents has arrived it
// prints one result line:
//
//   documents=N requests=R grammar_errors=E start=T0 first_request=T1 last_document=T2 from_first_request_s=..
//
// T0/T1/T2 are wall-clock (CLOCK_REALTIME) seconds since the epoch, so that a
// script can compare them with the start time of another process.
//
// usage: bench_bulk_receiver --documents N [--port P] [--port-file F] [--tls]
//                            [--user U --password W] [--reject-types] [--linger]
//                            [--idle-timeout S] [--capture F]
//   --port 0 (default) binds a free port; --port-file receives it once the
//   socket listens. --tls serves HTTPS with a certificate made at start.
//   --linger keeps serving after N documents until SIGTERM/SIGINT. With
//   --idle-timeout, gives up (exit status 2) when no document has arrived for
//   S seconds, printing what it has. --capture writes every document it
//   accepts to F, one per line (the input of a peer that reads documents from
//   a file).
#include <signal.h>
#include <unistd.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "ToolOptions.h"
#include "support/BulkReceiver.h"
#include "support/TestCertificate.h"

namespace {

double Now() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct TOptions {
  size_t Documents = 0;
  uint16_t Port = 0;
  std::string PortFile;
  bool Tls = false;
  std::string User;
  std::string Password;
  bool RejectTypes = false;
  bool Linger = false;
  double IdleTimeout = 0;
  std::string Capture;
};

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  zor::bench::TToolOptions("bulk_receiver",
                           "bulk_receiver --documents N [--port P] [--port-file F] [--tls] [--user U --password W] "
                           "[--reject-types] [--linger] [--idle-timeout S] [--capture F]")
      .Value("--documents", [&](const char* AValue) { options.Documents = std::strtoull(AValue, nullptr, 10); })
      .Value("--port", [&](const char* AValue) { options.Port = static_cast<uint16_t>(std::atoi(AValue)); })
      .Value("--port-file", [&](const char* AValue) { options.PortFile = AValue; })
      .Flag("--tls", options.Tls)
      .Value("--user", [&](const char* AValue) { options.User = AValue; })
      .Value("--password", [&](const char* AValue) { options.Password = AValue; })
      .Flag("--reject-types", options.RejectTypes)
      .Flag("--linger", options.Linger)
      .Value("--idle-timeout", [&](const char* AValue) { options.IdleTimeout = std::atof(AValue); })
      .Value("--capture", [&](const char* AValue) { options.Capture = AValue; })
      .Parse(argc, argv, [&] { return options.Documents != 0; });
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const TOptions options = ParseOptions(argc, argv);
  const double start = Now();
  // SIGTERM and SIGINT end the program; they are taken by sigtimedwait below.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::unique_ptr<zor::test::TTestCertificate> certificate;
  std::filesystem::path certificateFolder;
  zor::test::TBulkReceiverOptions receiverOptions;
  if (options.Tls) {
    certificateFolder = std::filesystem::temp_directory_path() /
                        ("bulk_receiver." + std::to_string(getpid()));
    std::filesystem::create_directories(certificateFolder);
    certificate = std::make_unique<zor::test::TTestCertificate>(certificateFolder);
    receiverOptions.Certificate = certificate->Certificate();
    receiverOptions.Key = certificate->Key();
  }
  receiverOptions.UserName = options.User;
  receiverOptions.Password = options.Password;
  receiverOptions.StoreDocuments = false;
  receiverOptions.RejectTypes = options.RejectTypes;
  receiverOptions.Port = options.Port;
  zor::test::TBulkReceiver receiver(receiverOptions);
  std::ofstream capture;
  std::mutex captureLock;
  if (!options.Capture.empty()) {
    capture.open(options.Capture, std::ios::binary);
    // The refusal hook sees every document the endpoint accepts; it refuses none.
    receiver.RejectDocuments([&](std::string_view, std::string_view ADocument) {
      std::lock_guard lock(captureLock);
      capture << ADocument << '\n';
      return false;
    });
  }
  if (!options.PortFile.empty()) {
    const std::string temporary = options.PortFile + ".tmp";
    if (FILE* file = std::fopen(temporary.c_str(), "w")) {
      std::fprintf(file, "%u\n", receiver.Port());
      std::fclose(file);
      std::filesystem::rename(temporary, options.PortFile);
    }
  }

  double firstRequest = 0, lastDocument = 0, lastChange = Now();
  size_t seen = 0;
  int status = 0;
  bool reported = false;
  for (;;) {
    const timespec wait{0, 2'000'000};
    const int signal = sigtimedwait(&signals, nullptr, &wait);
    const size_t documents = receiver.DocumentCount();
    const double now = Now();
    if (firstRequest == 0 && receiver.BulkRequests() > 0) firstRequest = now;
    if (documents != seen) {
      seen = documents;
      lastDocument = lastChange = now;
    }
    const bool idle = options.IdleTimeout > 0 && now - lastChange > options.IdleTimeout;
    if (!reported && (documents >= options.Documents || idle || signal > 0)) {
      std::printf("documents=%zu requests=%zu grammar_errors=%zu start=%.6f first_request=%.6f last_document=%.6f "
                  "from_first_request_s=%.6f\n",
                  documents, receiver.BulkRequests(), receiver.GrammarErrors(), start, firstRequest, lastDocument,
                  lastDocument - firstRequest);
      std::fflush(stdout);
      if (!options.Capture.empty()) {
        std::lock_guard lock(captureLock);
        capture.flush();
      }
      reported = true;
      if (documents < options.Documents) status = 2;
    }
    if (signal > 0 || (reported && !options.Linger)) break;
  }
  receiver.Stop();
  if (!certificateFolder.empty()) std::filesystem::remove_all(certificateFolder);
  return status;
}
