#pragma once

#include <string>
#include <vector>

#include "config/ConfigChecker.h"
#include "config/Collector.h"

namespace zor {

// The one set of rules a configuration must pass before the service runs
// with it: what TConfigChecker finds in the document, and what would stop or
// cripple the start-up although the document reads well:
//  - an exclusion expression that does not compile (the subscriber's start
//    fails);
//  - an enabled reader without any receiver (it would read for nobody);
//  - a receiver without a host or with port 0;
//  - a management endpoint that cannot listen: an "ip" that is not an IP
//    address, or "https" without a certificate or key file that
//    LocateCertFile finds.
// check-config, the management endpoint and the configuration-server client
// all check through here, so a change is refused for the same reasons a file
// is reported. Stateless; any thread.
class TConfigValidator {
 public:
  TConfigValidator() = delete;

  [[nodiscard]] static TConfigChecker::TResult CheckFile(const std::string& AFileName);
  [[nodiscard]] static TConfigChecker::TResult CheckDocument(TJSONValue ADocument);
  // The start-up rules alone, for a configuration already read; appends one
  // text per problem, each starting with the key path.
  static void CheckStartUp(const TCollector& ACollector, std::vector<std::string>& AProblems);
};

}  // namespace zor
