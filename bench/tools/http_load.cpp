// A load client for the management endpoint: ACLIENTS threads, each with one
// kept-alive connection, send GET PATH in a loop until a stop file has
// content (or a time limit passes), then print the request rate and the
// latency percentiles.
//
// usage: bench_http_load --port P --path /status [--https] [--clients 16]
//        [--user U --password W] [--stop-file F] [--seconds 60]
// Output (one line): requests=N errors=E seconds=S rps=R p50_ms=A p99_ms=B max_ms=C
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

bool StopFileHasContent(const std::string& AFile) {
  std::error_code error;
  return !AFile.empty() && std::filesystem::file_size(AFile, error) > 0 && !error;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  std::string path = "/status";
  bool https = false;
  int clients = 16;
  std::string user;
  std::string password;
  std::string stopFile;
  double seconds = 60;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (arg == "--port") port = std::stoi(next());
    else if (arg == "--path") path = next();
    else if (arg == "--https") https = true;
    else if (arg == "--clients") clients = std::stoi(next());
    else if (arg == "--user") user = next();
    else if (arg == "--password") password = next();
    else if (arg == "--stop-file") stopFile = next();
    else if (arg == "--seconds") seconds = std::stod(next());
    else {
      std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  if (port == 0) {
    std::fprintf(stderr, "--port is required\n");
    return 2;
  }

  std::atomic<bool> stop{false};
  std::atomic<long> errors{0};
  std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
  std::vector<std::thread> threads;
  const auto started = TClock::now();
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      std::unique_ptr<httplib::ClientImpl> client;
      if (https) {
        auto ssl = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
        ssl->enable_server_certificate_verification(false);
        client = std::move(ssl);
      } else {
        client = std::make_unique<httplib::ClientImpl>("127.0.0.1", port);
      }
      client->set_keep_alive(true);
      client->set_read_timeout(std::chrono::seconds(30));
      if (!user.empty()) client->set_basic_auth(user.c_str(), password.c_str());
      auto& mine = latencies[static_cast<size_t>(c)];
      while (!stop.load(std::memory_order_relaxed)) {
        const auto before = TClock::now();
        const auto result = client->Get(path.c_str());
        const auto after = TClock::now();
        if (!result || result->status != 200) {
          errors.fetch_add(1);
          continue;
        }
        mine.push_back(std::chrono::duration<double, std::milli>(after - before).count());
      }
    });
  }
  const auto limit = started + std::chrono::duration<double>(seconds);
  while (!StopFileHasContent(stopFile) && TClock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  stop = true;
  for (auto& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(TClock::now() - started).count();

  std::vector<double> all;
  for (const auto& mine : latencies) all.insert(all.end(), mine.begin(), mine.end());
  std::sort(all.begin(), all.end());
  const auto percentile = [&](double AP) {
    return all.empty() ? 0.0 : all[std::min(all.size() - 1, static_cast<size_t>(AP * static_cast<double>(all.size())))];
  };
  std::printf("requests=%zu errors=%ld seconds=%.2f rps=%.0f p50_ms=%.2f p99_ms=%.2f max_ms=%.2f\n", all.size(),
              errors.load(), elapsed, static_cast<double>(all.size()) / elapsed, percentile(0.50), percentile(0.99),
              all.empty() ? 0.0 : all.back());
  return 0;
}
