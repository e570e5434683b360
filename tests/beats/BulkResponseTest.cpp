#include "beats/BulkResponse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zor {
namespace {

using O = TBulkOutcome;

std::vector<O> Outcomes(const TBulkResponse& AResponse) {
  std::vector<O> result;
  for (const TBulkItemResult& item : AResponse.Items()) result.push_back(item.Outcome);
  return result;
}

TEST(BulkResponseTest, ReadsOneOutcomePerItem) {
  // As a server answers a bulk of five documents: created, a mapping error,
  // a full queue, a shard failure and a version conflict, with extra keys.
  const std::string text = R"({"took":30,"errors":true,"items":[
    {"index":{"_index":"winlogbeat-2024-03-05","_id":"1","_version":1,"result":"created",
              "_shards":{"total":2,"successful":1,"failed":0},"status":201}},
    {"index":{"_index":"winlogbeat-2024-03-05","_id":"2","status":400,
              "error":{"type":"mapper_parsing_exception","reason":"failed to parse field [x]",
                       "caused_by":{"type":"illegal_argument_exception","reason":"deeper"}}}},
    {"create":{"_index":"w","status":429,"error":{"type":"es_rejected_execution_exception","reason":"queue full"}}},
    {"index":{"_index":"w","status":503,"error":"old servers give a text"}},
    {"index":{"status":409,"error":{"reason":"conflict","type":"version_conflict_engine_exception"}}}]})";
  const TBulkResponse response = TBulkResponse::Read(text);
  EXPECT_EQ(response.Took(), 30);
  EXPECT_TRUE(response.Errors());
  EXPECT_FALSE(response.RequestFailed());
  EXPECT_EQ(Outcomes(response), (std::vector<O>{O::boAccepted, O::boRejected, O::boRetry, O::boRetry, O::boRejected}));
  const auto& items = response.Items();
  EXPECT_EQ(items[0].Status, 201);
  EXPECT_EQ(items[0].ErrorType, "");
  EXPECT_EQ(items[1].ErrorType, "mapper_parsing_exception");
  EXPECT_EQ(items[1].ErrorReason, "failed to parse field [x]");
  EXPECT_EQ(items[3].ErrorReason, "old servers give a text");
  EXPECT_EQ(items[4].ErrorType, "version_conflict_engine_exception");
  EXPECT_EQ(response.Count(O::boRetry), 2u);
}

TEST(BulkResponseTest, RefusesWhatIsNoBulkResponse) {
  const char* texts[] = {
      "",
      "not json",
      "[]",
      "42",
      R"({"took":1,"errors":false})",
      R"({"items":{}})",
      R"({"items":[1]})",
      R"({"items":[[]]})",
      R"({"items":[{"index":5}]})",
      R"({"items":[{"index":{"_index":"w"}}]})",
      R"({"items":[{"index":{"status":"201"}}]})",
      R"({"items":[{"index":{"status":201.5}}]})",
      R"({"items":[{"index":{"status":-1}}]})",
      R"({"items":[{}]})",
      R"({"items":[{"index":{"status":201},"create":{"status":201}}]})",
      R"({"items":[],"items":[]})",
      R"({"items":[{"index":{"status":201}}]} trailing)",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_THROW((void)TBulkResponse::Read(text), EBulkResponseError);
  }
  std::string deep = R"({"items":[{"index":{"status":201,"x":)";
  for (int i = 0; i < 100000; ++i) deep += "[";
  EXPECT_THROW((void)TBulkResponse::Read(deep), EBulkResponseError);
  // Empty "items" and unknown keys anywhere are fine.
  EXPECT_EQ(TBulkResponse::Read(R"({"x":{"items":[1]},"items":[],"took":"soon"})").Items().size(), 0u);
}

TEST(BulkResponseTest, SortsAWholeExchange) {
  const std::string twoCreated = R"({"took":1,"errors":false,"items":[{"index":{"status":201}},{"index":{"status":200}}]})";
  struct TCase {
    int Status;
    std::string Body;
    bool RequestFailed;
    O Outcome;  // of every document
  };
  const TCase cases[] = {
      {200, twoCreated, false, O::boAccepted},
      {200, R"({"took":1,"errors":false,"items":[{"index":{"status":201}}]})", true, O::boRetry},  // one item short
      {200, "{\"took\":1,\"errors\":false,\"ite", true, O::boRetry},                                 // cut short
      {200, "", true, O::boRetry},
      {-1, "", true, O::boRetry},
      {429, "{}", true, O::boRetry},
      {500, "", true, O::boRetry},
      {503, twoCreated, true, O::boRetry},
      {401, "", true, O::boRetry},
      {404, "", true, O::boRetry},
      {301, "", true, O::boRetry},
      {400, "{\"error\":{}}", true, O::boRejected},
      {413, "", true, O::boRejected},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Status) + " " + c.Body);
    const TBulkResponse response = TBulkResponse::FromExchange(c.Status, "", c.Body, 2);
    EXPECT_EQ(response.RequestFailed(), c.RequestFailed);
    EXPECT_EQ(Outcomes(response), (std::vector<O>{c.Outcome, c.Outcome}));
    if (c.RequestFailed) {
      EXPECT_FALSE(response.Items()[0].ErrorReason.empty());
    }
  }
  EXPECT_EQ(TBulkResponse::FromExchange(502, "HTTP/1.1 502 Bad Gateway", "", 1).Items()[0].ErrorReason,
            "HTTP/1.1 502 Bad Gateway");
}

}  // namespace
}  // namespace zor
