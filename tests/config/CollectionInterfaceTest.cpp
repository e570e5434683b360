#include "config/CollectionInterface.h"

#include <gtest/gtest.h>

#include <string>

namespace zor {
namespace {

TEST(CollectionInterfaceTest, EmptyObjectGivesTheDefaults) {
  const auto reader = TCollectionInterface::GetFromJSONString("{}");
  EXPECT_EQ(reader->AsJSONString(),
            R"({"id":-1,"collectorId":-1,"interfaceType":0,"name":"","batchSize":0,"startAtBeginning":true,)"
            R"("enabled":true,"path":"","winHost":"","winAcct":"","dbHost":"","dbName":"","dbUser":"",)"
            R"("listenAddress":"","listenPort":0,"selectionDetail":"","exclusionRegex":[],)"
            R"("defaultFacility":"UserLevel","deriveSeverity":false,"defaultSeverity":"Informational",)"
            R"("parse":false,"rawLogOnly":false,"stripNewLines":true,"syslogReceivers":[],"beatReceivers":[]})");
}

TEST(CollectionInterfaceTest, ScalarsAreReadThroughTheirText) {
  const struct {
    const char* Name;
    std::string Json;
    void (*Check)(const TCollectionInterface&);
  } cases[] = {
      {"EnabledOnlyFalseDisables", R"({"enabled":"no","startAtBeginning":"False"})",
       [](const TCollectionInterface& r) {
         EXPECT_TRUE(r.Enabled());
         EXPECT_FALSE(r.StartAtBeginning());
       }},
      {"EnabledFalse", R"({"enabled":false})", [](const TCollectionInterface& r) { EXPECT_FALSE(r.Enabled()); }},
      {"EnabledFALSE", R"({"enabled":"FALSE"})", [](const TCollectionInterface& r) { EXPECT_FALSE(r.Enabled()); }},
      {"ParseOnlyTrue", R"({"parse":"yes","rawLogOnly":"TRUE","stripNewLines":0})",
       [](const TCollectionInterface& r) {
         EXPECT_FALSE(r.Parse());
         EXPECT_TRUE(r.RawLogOnly());
         EXPECT_FALSE(r.StripNewLines());
       }},
      {"Words", R"({"defaultFacility":"userlevel","defaultSeverity":"Notice"})",
       [](const TCollectionInterface& r) {
         EXPECT_EQ(r.DefaultFacility(), TSyslogFacility::sfLocalUseSeven);
         EXPECT_EQ(r.DefaultSeverity(), TSyslogSeverity::slNotice);
       }},
      {"UnknownSeverity", R"({"defaultSeverity":"Loud","defaultFacility":"LocalUseTwo"})",
       [](const TCollectionInterface& r) {
         EXPECT_EQ(r.DefaultSeverity(), TSyslogSeverity::slDebug);
         EXPECT_EQ(r.DefaultFacility(), TSyslogFacility::sfLocalUseTwo);
       }},
      {"Integers", R"({"id":"4","collectorId":"x","batchSize":"25","listenPort":"99999","interfaceType":"3"})",
       [](const TCollectionInterface& r) {
         EXPECT_EQ(r.InterfaceID(), 4);
         EXPECT_EQ(r.CollectorID(), -1);
         EXPECT_EQ(r.BatchSize(), 25);
         EXPECT_EQ(r.ListenPort(), 0);
         EXPECT_EQ(r.InterfaceType(), TInterfaceType::rtFile);
       }},
      {"InterfaceTypeOutOfRange", R"({"interfaceType":9})",
       [](const TCollectionInterface& r) { EXPECT_EQ(r.InterfaceType(), TInterfaceType::rtNone); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Check(*TCollectionInterface::GetFromJSONString(c.Json));
  }
}

TEST(CollectionInterfaceTest, PasswordsAreStoredEncryptedAndOnlyWhenSet) {
  TCollectionInterface reader;
  reader.SetWinAcctPassword(" \t ");
  const std::string blank = reader.AsJSONString();
  EXPECT_EQ(blank.find("winAcctPassword"), std::string::npos);
  EXPECT_EQ(blank.find("dbPassword"), std::string::npos);

  reader.SetWinAcctPassword("secret");
  reader.SetDbPassword("db\xC3\xA4");
  const auto object = reader.ToJSONObject();
  EXPECT_EQ((*object)["winAcctPassword"], "Nk+hO+ug83xqMsOhV2mkMQ==");
  const auto back = TCollectionInterface::GetFromJSONString(reader.AsJSONString());
  EXPECT_EQ(back->WinAcctPassword(), "secret");
  EXPECT_EQ(back->DbPassword(), "db\xC3\xA4");
  EXPECT_TRUE(TCollectionInterface::AreEqual(reader, *back));

  // A stored text that does not decrypt reads as no password.
  reader.SetAsJSONString(R"({"winAcctPassword":"not base64!","dbPassword":"AAAAAAAAAAAAAAAAAAAAAA=="})");
  EXPECT_EQ(reader.WinAcctPassword(), "");
  EXPECT_EQ(reader.DbPassword(), "");
}

TEST(CollectionInterfaceTest, ExclusionListIsReplacedOnEveryRead) {
  TCollectionInterface reader;
  reader.SetAsJSONString(R"({"exclusionRegex":["^a",".*b$",7]})");
  EXPECT_EQ(reader.ExclusionRegex(), (std::vector<std::string>{"^a", ".*b$", "7"}));
  reader.SetAsJSONString(R"({"name":"n"})");
  EXPECT_TRUE(reader.ExclusionRegex().empty());
}

TEST(CollectionInterfaceTest, CopiesAreDeepAndCompareEqual) {
  const std::string json =
      R"({"id":3,"name":"Security","path":"Security","exclusionRegex":["4624","46[34]"],)"
      R"("syslogReceivers":[{"name":"a","host":"h1"},{"name":"b","host":"h2","transport":"TCP"}],)"
      R"("beatReceivers":[{"host":"es1","port":9200},{"host":"es2","port":9200}]})";
  const auto first = TCollectionInterface::GetFromJSONString(json);
  const auto second = TCollectionInterface::GetFromJSONString(json);
  EXPECT_TRUE(TCollectionInterface::AreEqual(*first, *second));

  TCollectionInterface copy(*first);
  copy.SyslogReceivers().GetListItem(0).SetPort(1);
  copy.ExclusionRegex().push_back("x");
  EXPECT_EQ(first->SyslogReceivers().GetListItem(0).Port(), 514);
  EXPECT_EQ(first->ExclusionRegex().size(), 2u);
  EXPECT_FALSE(TCollectionInterface::AreEqual(*first, copy));

  // Receivers in another order: still equal. Patterns in another order: not.
  const auto reordered = TCollectionInterface::GetFromJSONString(
      R"({"id":3,"name":"Security","path":"Security","exclusionRegex":["4624","46[34]"],)"
      R"("syslogReceivers":[{"name":"b","host":"h2","transport":"TCP"},{"name":"a","host":"h1"}],)"
      R"("beatReceivers":[{"host":"es2","port":9200},{"host":"es1","port":9200}]})");
  EXPECT_TRUE(TCollectionInterface::AreEqual(*first, *reordered));
  reordered->SetAsJSONString(R"({"exclusionRegex":["46[34]","4624"]})");
  EXPECT_FALSE(TCollectionInterface::AreEqual(*first, *reordered));
}

TEST(CollectionInterfaceTest, WrongKindsFailWithTheirPath) {
  const struct {
    std::string Json;
    std::string Message;
  } cases[] = {
      {R"({"exclusionRegex":"x"})", "exclusionRegex: expected a JSON array, found string"},
      {R"({"syslogReceivers":{}})", "syslogReceivers: expected a JSON array, found object"},
      {R"({"beatReceivers":[{},[]]})", "beatReceivers[1]: expected a JSON object, found array"},
      {R"({"syslogReceivers":[{"forwardHeader":"h","forwardIpList":{}}]})",
       "syslogReceivers[0].forwardIpList: expected a JSON array, found object"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Json);
    try {
      (void)TCollectionInterface::GetFromJSONString(c.Json);
      ADD_FAILURE() << "no error";
    } catch (const EConfigError& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
  }
}

TEST(CollectionInterfaceListTest, ReadsEveryElementInOrder) {
  const auto list = TCollectionInterfaceList::GetFromJSONArrayString(R"([{"name":"a"},{"name":"b","enabled":false}])");
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->GetListItem(0).Name(), "a");
  EXPECT_FALSE(list->GetListItem(1).Enabled());
  EXPECT_THROW((void)list->GetListItem(2), EArgumentOutOfRange);
  EXPECT_EQ(TCollectionInterfaceList::GetFromJSONArrayString(list->AsJSONArrayString())->AsJSONArrayString(),
            list->AsJSONArrayString());
}

}  // namespace
}  // namespace zor
