#include "support/BulkReceiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "beats/BulkResponse.h"
#include "beats/EndpointClient.h"
#include "support/BulkBody.h"

namespace zor::test {
namespace {

std::string Action(const std::string& AIndex) { return "{\"index\":{\"_index\":\"" + AIndex + "\"}}"; }

TEST(BulkBodyTest, AcceptsPairsOfActionAndDocument) {
  const std::string body = Action("winlogbeat-2024-03-05") + "\r\n{\"a\":1}\r\n" +
                           R"({"create":{"_index":"winlogbeat-2024-03-06","_type":"winLogBeat","_id":"7"}})" +
                           "\n {\"b\":[true,null,-1.5e+3,\"\\u00e9\\n\xC3\xA9\"]} \n" + Action("winlogbeat-2024-03-05") +
                           "\n{}\n";
  const TBulkBody parsed(body);
  const auto& items = parsed.Items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Action->Index, "winlogbeat-2024-03-05");
  EXPECT_EQ(items[0].Document, "{\"a\":1}");
  EXPECT_FALSE(items[0].Action->HasType);
  EXPECT_EQ(items[1].Action->Name, "create");
  EXPECT_EQ(items[1].Action->Index, "winlogbeat-2024-03-06");
  EXPECT_TRUE(items[1].Action->HasType);
  EXPECT_EQ(items[2].Action, items[0].Action);  // one distinct action line, read once
  EXPECT_EQ(items[2].Document, "{}");
  EXPECT_EQ(TBulkBody("").Items().size(), 0u);
}

TEST(BulkBodyTest, RefusesEveryBreakOfTheGrammar) {
  const std::string doc = "{\"a\":1}";
  struct TCase {
    const char* Name;
    std::string Body;
    const char* Reason;
  };
  const TCase cases[] = {
      {"last line break missing", Action("w") + "\n" + doc, "line 2: the last line is not ended"},
      {"document missing", Action("w") + "\n", "line 1: an action line without"},
      {"empty line", Action("w") + "\n\n" + doc + "\n", "line 2: an empty line"},
      {"action not JSON", "{\"index\":\n" + doc + "\n", "line 1: the action line is not JSON"},
      {"action number beyond a double", R"({"index":{"_index":"w"},"n":1e999})" "\n" + doc + "\n",
       "line 1: the action line cannot be read"},
      {"two actions", R"({"index":{"_index":"w"},"create":{"_index":"w"}})" "\n" + doc + "\n", "one action"},
      {"delete action", R"({"delete":{"_index":"w","_id":"1"}})" "\n" + doc + "\n", "unsupported action [delete]"},
      {"unknown key", R"({"index":{"_index":"w","pipeline":"p"}})" "\n" + doc + "\n", "unknown parameter [pipeline]"},
      {"no index", R"({"index":{"_id":"1"}})" "\n" + doc + "\n", "names no index"},
      {"index not text", R"({"index":{"_index":5}})" "\n" + doc + "\n", "[_index] is not a string"},
      {"upper-case index", Action("Winlogbeat") + "\n" + doc + "\n", "invalid index name [Winlogbeat]"},
      {"index with blank", Action("a b") + "\n" + doc + "\n", "invalid index name"},
      {"index starting with _", Action("_w") + "\n" + doc + "\n", "invalid index name"},
      {"document an array", Action("w") + "\n[1]\n", "line 2: the document is not a JSON object"},
      {"document cut", Action("w") + "\n{\"a\":\n", "line 2"},
      {"trailing comma", Action("w") + "\n{\"a\":1,}\n", "line 2"},
      {"two values", Action("w") + "\n{} {}\n", "line 2"},
      {"leading zero", Action("w") + "\n{\"a\":01}\n", "line 2"},
      {"bad escape", Action("w") + "\n{\"a\":\"\\x\"}\n", "line 2"},
      {"raw tab in string", Action("w") + "\n{\"a\":\"\t\"}\n", "line 2"},
      {"invalid UTF-8", Action("w") + "\n{\"a\":\"\xC3\x28\"}\n", "line 2"},
      {"overlong UTF-8", Action("w") + "\n{\"a\":\"\xC0\xAF\"}\n", "line 2"},
      {"UTF-8 surrogate", Action("w") + "\n{\"a\":\"\xED\xA0\x80\"}\n", "line 2"},
      {"single quotes", Action("w") + "\n{'a':1}\n", "line 2"},
      {"second pair bad", Action("w") + "\n" + doc + "\n" + Action("w") + "\n{\n", "line 4"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      TBulkBody parsed(c.Body);
      ADD_FAILURE() << "accepted";
    } catch (const EBulkBodyError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Reason), std::string::npos) << e.what();
    }
  }
  std::string deep = Action("w") + "\n";
  deep += std::string(TBulkBody::MaxDepth + 1, '[');
  EXPECT_THROW(TBulkBody(deep + "\n"), EBulkBodyError);
}

// The receiver driven through the product's own HTTP client.
class BulkReceiverTest : public testing::Test {
 protected:
  TBulkResponse PostDocuments(TBulkReceiver& AReceiver, const std::vector<std::string>& ADocuments) {
    std::string body;
    for (const std::string& document : ADocuments) body += Action("winlogbeat-2024-03-05") + "\r\n" + document + "\r\n";
    TEndpointClient client(AReceiver.Endpoint(), AReceiver.Port(), "", "", "_bulk");
    const std::string answer = client.Post(body, "application/json", "application/json");
    FLastStatus = client.ResponseCode();
    return TBulkResponse::FromExchange(client.ResponseCode(), client.ResponseText(), answer, ADocuments.size());
  }
  int FLastStatus = 0;
};

TEST_F(BulkReceiverTest, StoresAcceptedDocumentsAndAnswersPerItem) {
  TBulkReceiver receiver;
  receiver.RejectDocuments([](std::string_view, std::string_view ADocument) {
    return ADocument.find("bad") != std::string_view::npos;
  });
  const TBulkResponse response = PostDocuments(receiver, {"{\"n\":1}", "{\"n\":\"bad\"}", "{\"n\":3}"});
  EXPECT_EQ(FLastStatus, 200);
  EXPECT_TRUE(response.Errors());
  ASSERT_EQ(response.Items().size(), 3u);
  EXPECT_EQ(response.Items()[0].Status, 201);
  EXPECT_EQ(response.Items()[1].Outcome, TBulkOutcome::boRejected);
  EXPECT_EQ(response.Items()[1].ErrorType, "mapper_parsing_exception");
  EXPECT_EQ(receiver.Documents("winlogbeat-2024-03-05"), (std::vector<std::string>{"{\"n\":1}", "{\"n\":3}"}));
  EXPECT_EQ(receiver.RejectedDocuments(), 1u);
  EXPECT_EQ(receiver.GrammarErrors(), 0u);

  TEndpointClient client(receiver.Endpoint(), receiver.Port(), "", "", "_bulk");
  client.Post(Action("w") + "\n{\"n\":1}");
  EXPECT_EQ(client.ResponseCode(), 400);
  EXPECT_EQ(receiver.GrammarErrors(), 1u);
  EXPECT_NE(receiver.LastGrammarError().find("not ended by a line break"), std::string::npos);
  EXPECT_EQ(receiver.DocumentCount(), 2u);
}

TEST_F(BulkReceiverTest, FailsRequestsForACountOrATime) {
  TBulkReceiver receiver;
  receiver.FailRequests(429, 2);
  for (int expected : {429, 429, 200}) {
    const TBulkResponse response = PostDocuments(receiver, {"{}"});
    EXPECT_EQ(FLastStatus, expected);
    EXPECT_EQ(response.Items()[0].Outcome, expected == 200 ? TBulkOutcome::boAccepted : TBulkOutcome::boRetry);
  }
  receiver.FailRequestsFor(500, std::chrono::hours(1));
  (void)PostDocuments(receiver, {"{}"});
  EXPECT_EQ(FLastStatus, 500);
  receiver.FailRequestsFor(500, std::chrono::milliseconds(0));
  (void)PostDocuments(receiver, {"{}"});
  EXPECT_EQ(FLastStatus, 200);
  EXPECT_EQ(receiver.DocumentCount(), 2u);
  EXPECT_EQ(receiver.BulkRequests(), 5u);
}

TEST_F(BulkReceiverTest, DropsConnectionsBeforeOrAfterStoring) {
  TBulkReceiver receiver;
  receiver.DropConnections(1, false);
  EXPECT_TRUE(PostDocuments(receiver, {"{\"n\":1}"}).RequestFailed());
  EXPECT_EQ(FLastStatus, -1);
  EXPECT_EQ(receiver.DocumentCount(), 0u);

  receiver.DropConnections(1, true);
  EXPECT_TRUE(PostDocuments(receiver, {"{\"n\":2}"}).RequestFailed());
  EXPECT_EQ(receiver.DocumentCount(), 1u);  // stored, though the sender cannot know it

  EXPECT_FALSE(PostDocuments(receiver, {"{\"n\":3}"}).RequestFailed());
  EXPECT_EQ(receiver.DocumentCount(), 2u);
}

TEST_F(BulkReceiverTest, RefusesTypedActionsLikeANewServerAndComesBackOnItsPort) {
  TBulkReceiverOptions options;
  options.RejectTypes = true;
  options.StoreDocuments = false;
  TBulkReceiver receiver(options);
  TEndpointClient client(receiver.Endpoint(), receiver.Port(), "", "", "_bulk");
  client.Post(R"({"index":{"_index":"w","_type":"winLogBeat"}})" "\n{}\n");
  EXPECT_EQ(client.ResponseCode(), 400);
  EXPECT_NE(client.ResponseBody().find("unknown parameter [_type]"), std::string::npos);
  EXPECT_EQ(receiver.TypedActions(), 1u);

  const uint16_t port = receiver.Port();
  receiver.Stop();
  client.Post(Action("w") + "\n{}\n");
  EXPECT_EQ(client.ResponseCode(), -1);
  receiver.Start();
  EXPECT_EQ(receiver.Port(), port);
  client.Post(Action("w") + "\n{}\n");
  EXPECT_EQ(client.ResponseCode(), 200);
  EXPECT_EQ(receiver.DocumentCount(), 1u);
  EXPECT_TRUE(receiver.Documents().empty());  // counted, not stored
}

}  // namespace
}  // namespace zor::test
