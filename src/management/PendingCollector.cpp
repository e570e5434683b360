#include "management/PendingCollector.h"

namespace zor {

const TJSONKeyTable<TPendingCollector>& TPendingCollector::Keys() {
  using TSelf = TPendingCollector;
  static const TJSONKeyTable<TSelf> table = [] {
    TJSONKeyTable<TSelf> t;
    t.Integer("id", &TSelf::FPendingCollectorID, -1, -1);
    JSONConfig::AddOrdinal(t, "type", &TSelf::FCollectorType, TCollectorType::ctFlow)
        .String("hostName", &TSelf::FHostName)
        .String("ip", &TSelf::FHostIP)
        .String("uniqueId", &TSelf::FUniqueID)
        .String("softwareVersion", &TSelf::FSoftwareVersion);
    return t;
  }();
  return table;
}

TPendingCollector::TPendingCollector() { Keys().SetDefaults(*this); }

}  // namespace zor
