// Event query compiler and evaluator: any query text either compiles or is
// rejected with EQueryError; a compiled query evaluates on a fixed event
// without crashing. Inputs are "query\n\x01event XML" (the event part optional).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "evtx/EventQuery.h"

namespace {

constexpr std::string_view DefaultEvent =
    "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='P' "
    "Guid='{54849625-5478-4994-a5ba-3e3b0328c30d}'/><EventID Qualifiers='16384'>4624</EventID><Level>0</Level>"
    "<Keywords>0x8020000000000000</Keywords><TimeCreated SystemTime='2024-03-01T10:00:00.1234567Z'/>"
    "<EventRecordID>1000</EventRecordID><Channel>Security</Channel><Security UserID='S-1-5-18'/></System>"
    "<EventData><Data Name='A'>10</Data><Data Name='B'>x</Data></EventData><UserData><W><P>7</P></W></UserData>"
    "</Event>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const std::string_view input(reinterpret_cast<const char*>(AData), ASize);
  const size_t split = input.find("\n\x01");
  const std::string_view queryText = input.substr(0, split);
  const std::string_view event = split == std::string_view::npos ? DefaultEvent : input.substr(split + 2);
  try {
    const auto query = zor::TEventQuery::Parse(queryText);
    (void)query->MatchesXml(event, "Security");
    (void)query->MatchesXml(event, "System");
  } catch (const zor::EQueryError&) {
  }
  return 0;
}
