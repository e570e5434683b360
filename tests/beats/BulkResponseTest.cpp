#include "beats/BulkResponse.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
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

// What a reading gives, or the text of its refusal.
std::string Reading(TBulkResponse (*ARead)(std::string_view), std::string_view AText) {
  try {
    const TBulkResponse response = ARead(AText);
    std::string out = "took=" + std::to_string(response.Took()) + " errors=" + std::to_string(response.Errors());
    for (const TBulkItemResult& item : response.Items())
      out += " [" + std::to_string(static_cast<int>(item.Outcome)) + " " + std::to_string(item.Status) + " " +
             item.ErrorType + " " + item.ErrorReason + "]";
    return out;
  } catch (const EBulkResponseError& e) {
    return std::string("refused: ") + e.what();
  }
}

TEST(BulkResponseTest, QuickPathAgreesWithTheFullReading) {
  struct TCase {
    const char* Text;
    bool Quick;  // taken by the quick path
  };
  const TCase cases[] = {
      // As the test receiver and a real server answer.
      {R"({"took":7,"errors":false,"items":[{"index":{"_index":"w","_type":"_doc","_id":"1","_version":1,
          "result":"created","_shards":{"total":2,"successful":1,"failed":0},"_seq_no":0,"_primary_term":1,
          "status":201}},{"create":{"status":200,"x":[null,true,-1.5e3,{"a":[]}]}}]})",
       true},
      {" { \"items\" : [ ] , \"errors\" : false } \r\n", true},
      {R"({"errors":false,"took":-3,"took":9,"items":[{"index":{"status":500,"status":202}}]})", true},
      // Left to the full reading: it decides, and both agree.
      {R"({"took":1,"errors":true,"items":[{"index":{"status":201}}]})", false},
      {R"({"took":1,"items":[{"index":{"status":201}}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":503}}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201,"error":"odd"}}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201,"_id":"a\"b"}}]})", false},
      {"{\"errors\":false,\"items\":[{\"index\":{\"status\":201,\"_id\":\"\xc3\xa9\"}}]}", false},
      {R"({"errors":false,"took":1.5,"items":[{"index":{"status":201}}]})", false},
      {R"({"errors":false,"took":123456789012345678901,"items":[]})", false},
      {R"({"errors":0,"items":[{"index":{"status":201}}]})", false},
      // Malformed: both refuse.
      {R"({"errors":false,"items":[{"index":{"status":201.0}}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201}}]} trailing)", false},
      {R"({"errors":false,"items":[{"index":{"status":201}},]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201,"x":01}}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201,"x":tru}}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201,"x":-}}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201}},{"index":{}}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201}},{}]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201},"x":1}]})", false},
      {R"({"errors":false,"items":[],"items":[]})", false},
      {R"({"errors":false,"items":[{"index":{"status":201,"x":"a)", false},
      {R"({"errors":false,"items":[{"index":{"status":201}})", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(TBulkResponse::ReadAllAccepted(c.Text).has_value(), c.Quick);
    EXPECT_EQ(Reading(&TBulkResponse::Read, c.Text), Reading(&TBulkResponse::ReadItems, c.Text));
  }
  EXPECT_EQ(Reading(&TBulkResponse::Read, cases[2].Text), "took=9 errors=0 [0 202  ]");
  // Nesting past the bound is refused by both.
  std::string deep = R"({"errors":false,"items":[{"index":{"status":201,"x":)";
  for (int i = 0; i < TBulkResponse::MaxDepth; ++i) deep += "[";
  for (int i = 0; i < TBulkResponse::MaxDepth; ++i) deep += "]";
  deep += "}}]}";
  EXPECT_FALSE(TBulkResponse::ReadAllAccepted(deep).has_value());
  EXPECT_EQ(Reading(&TBulkResponse::Read, deep), Reading(&TBulkResponse::ReadItems, deep));
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
