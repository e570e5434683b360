#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zor::test {

// One scrape of a running service's GET /metrics: each sample's value by its
// series as written ("name{label=\"value\",...}"). Empty when the endpoint
// did not answer 200. AText, when given, receives the exposition text.
std::map<std::string, double> ScrapeMetrics(uint16_t APort, std::string* AText = nullptr);

// The value of ASeries in AMetrics, or -1 when it is not there.
double Sample(const std::map<std::string, double>& AMetrics, const std::string& ASeries);

}  // namespace zor::test
