#include "management/StatusReport.h"

#include <gtest/gtest.h>

#include <string>

namespace zor {
namespace {

TEST(StatusReportTest, AlignsReadersAndDestinationsAndShowsWhatIsMissing) {
  const TJSONValue health = Json::Parse(R"({"status":"failed","reason":"Duplicates not allowed",
    "startTime":"2026-12-10T20:16:30.678Z","configGeneration":2,"reconfigurations":1,
    "readers":[{"reader":"Security","recordsRead":12345,"recordsExcluded":5,"batches":13,"bookmarkRecordId":99,
                "recordsBehind":0,"lastEventTime":"2026-12-10T20:16:30.638Z"},
               {"reader":"A","recordsRead":0,"recordsExcluded":0,"batches":0,"bookmarkRecordId":0,
                "recordsBehind":0,"lastEventTime":null}],
    "destinations":[{"destination":"10.0.0.1:514","transport":"TCP","output":"syslog","connected":false,
                     "lastError":"Connect Failed.\nConnection refused","lastErrorTime":"2026-12-10T20:16:45.302Z",
                     "queued":7,"sent":12000,"retried":3,"dropped":0},
                    {"destination":"https://es:9200","output":"beat","connected":true,"lastError":"",
                     "lastErrorTime":null,"queued":0,"sent":5,"retried":0,"dropped":1}]})");
  EXPECT_EQ(TStatusReport::Format(health, "http://127.0.0.1:6200"),
            "Service http://127.0.0.1:6200: failed (Duplicates not allowed)\n"
            "Started 2026-12-10T20:16:30.678Z, configuration 2, 1 reconfigurations\n"
            "\n"
            "READER     READ  EXCLUDED  BATCHES  BOOKMARK  BEHIND  LAST EVENT\n"
            "Security  12345         5       13        99       0  2026-12-10T20:16:30.638Z\n"
            "A             0         0        0         0       0  -\n"
            "\n"
            "DESTINATION      OUTPUT  TRANSPORT  CONNECTED  QUEUED   SENT  RETRIED  DROPPED  LAST ERROR\n"
            "10.0.0.1:514     syslog  TCP        no              7  12000        3        0  "
            "2026-12-10T20:16:45.302Z Connect Failed. Connection refused\n"
            "https://es:9200  beat    -          yes             0      5        0        1  -\n");
  // Not a health document at all: still a report, of nothing.
  EXPECT_EQ(TStatusReport::Format(Json::Parse("[1]"), "u").substr(0, 12), "Service u: -");
}

}  // namespace
}  // namespace zor
