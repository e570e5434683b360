#include "support/MetricsScrape.h"

#include <httplib.h>

#include <chrono>
#include <sstream>

namespace zor::test {

std::map<std::string, double> ScrapeMetrics(uint16_t APort, std::string* AText) {
  std::map<std::string, double> samples;
  httplib::Client client("127.0.0.1", APort);
  client.set_read_timeout(std::chrono::seconds(10));
  const auto answer = client.Get("/metrics");
  if (!answer || answer->status != 200) return samples;
  if (AText != nullptr) *AText = answer->body;
  std::istringstream lines(answer->body);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.rfind(' ');
    if (space == std::string::npos) continue;
    samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return samples;
}

double Sample(const std::map<std::string, double>& AMetrics, const std::string& ASeries) {
  const auto found = AMetrics.find(ASeries);
  return found == AMetrics.end() ? -1 : found->second;
}

}  // namespace zor::test
