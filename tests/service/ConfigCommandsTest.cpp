#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "config/Collector.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace zor {
namespace {

class CheckConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(FDir / "out"); }

  // Runs the program with AOptions, then check-config with AArguments.
  int Run(std::vector<std::string> AArguments, std::string* AOut, std::string* AErr,
          std::vector<std::string> AOptions = {}) {
    AOptions.push_back("check-config");
    AOptions.insert(AOptions.end(), AArguments.begin(), AArguments.end());
    return test::RunProgram(ZOR_BINARY, AOptions, FDir / "out", AOut, AErr);
  }

  std::string Write(const std::string& AName, const std::string& ABytes) {
    const auto path = FDir / AName;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << ABytes;
    return path.string();
  }

  test::TempDir FDir;
};

const char* const GoodConfig = R"({
  "logLevel": "5", "trainingMode": "True", "processingThreads": 2,
  "interfaces": [{"name": "Security", "path": "Security", "exclusionRegex": ["4634"],
                  "syslogReceivers": [{"name": "s", "host": "10.0.0.5", "port": 514, "transport": "TCP"}],
                  "beatReceivers": [{"host": "es", "port": 9200, "userName": "elastic", "documentId": true}]}]
})";

TEST_F(CheckConfigTest, PrintsTheEffectiveConfigurationOfAGoodFile) {
  const std::string file = Write("good.json", GoodConfig);
  std::string out;
  std::string err;
  ASSERT_EQ(Run({file}, &out, &err), 0) << err;
  EXPECT_EQ(err, "");
  EXPECT_TRUE(out.starts_with("{\r\n  \"id\" : -1,\r\n")) << out;
  EXPECT_NE(out.find("  \"logLevel\" : 5,\r\n  \"trainingMode\" : true,\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\"documentId\" : true"), std::string::npos) << out;

  // The printed form is a configuration file of its own: the same settings,
  // and checking it prints it unchanged.
  TCollector original;
  original.LoadFromJson(file);
  const std::string printed = Write("printed.json", out);
  TCollector reread;
  reread.LoadFromJson(printed);
  EXPECT_FALSE(TCollector::HasChanged(original, reread));
  std::string again;
  ASSERT_EQ(Run({printed}, &again, &err), 0) << err;
  EXPECT_EQ(again, out);
}

// A configuration server with an interval of 0 (or less) is asked once at
// start-up; check-config says so and still accepts the file.
TEST_F(CheckConfigTest, NotesAConfigServerAskedOnlyAtStartUp) {
  const struct {
    const char* Settings;
    bool Noted;
  } cases[] = {{R"("configServer": "http://cfg:8080")", true},
               {R"("configServer": "http://cfg:8080", "configServerCheckInterval": -5)", true},
               {R"("configServer": "http://cfg:8080", "configServerCheckInterval": 10)", false},
               {R"("configServer": " ")", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Settings);
    const std::string file = Write("server.json", std::string("{") + c.Settings + "}");
    std::string out;
    std::string err;
    ASSERT_EQ(Run({file}, &out, &err), 0) << err;
    EXPECT_EQ(err.find("the configuration server is asked once at start-up and not again") != std::string::npos,
              c.Noted)
        << err;
  }
}

TEST_F(CheckConfigTest, ReadsTheServiceFileByDefault) {
  Write("data/Velmora/WinEvtSvc/Svc/SvcConfig.json", "\xEF\xBB\xBF{\"hostName\":\"default-file\"}");
  std::string out;
  std::string err;
  ASSERT_EQ(Run({}, &out, &err, {"--programdata", (FDir / "data").string()}), 0) << err;
  EXPECT_NE(out.find("\"hostName\" : \"default-file\""), std::string::npos);
}

TEST_F(CheckConfigTest, ReportsEveryProblemWithWhereItIs) {
  const std::string file = Write("bad.json", R"({
  "port": "abc", "trainingMode": "yes", "apmServerPort": 9000, "password": "abc", "bogus": 1,
  "interfaces": [
    {"enabled": "no", "defaultFacility": "userlevel",
     "syslogReceivers": [{"host": "h", "port": "514"}, 5, {"host": "x", "forwardIpList": ["1"], "transport": "tls1.2"}],
     "beatReceivers": {}},
    "oops",
    {"exclusionRegex": "x", "winAcctPassword": ""}]
})");
  std::string out;
  std::string err;
  EXPECT_EQ(Run({file}, &out, &err), 1);
  EXPECT_EQ(out, "");
  const std::string expected[] = {
      "interfaces[0].syslogReceivers[1]: expected a JSON object, found number",
      "interfaces[0].beatReceivers: expected a JSON array, found object",
      "interfaces[1]: expected a JSON object, found string",
      "interfaces[2].exclusionRegex: expected a JSON array, found string",
      "port: \"abc\" is read as 0",
      "trainingMode: \"yes\" is read as false",
      "apmServerPort: ignored while apmEnabled is not true (9000)",
      "password: the stored password cannot be decrypted",
      "bogus: unknown key, ignored",
      "interfaces[0].enabled: \"no\" is read as true",
      "interfaces[0].defaultFacility: \"userlevel\" is read as \"LocalUseSeven\"",
      "interfaces[0].syslogReceivers[0].port: \"514\" is read as 0",
      "interfaces[0].syslogReceivers[2].forwardIpList: ignored: forwarding needs both",
      "interfaces[0].syslogReceivers[2].transport: \"tls1.2\" is read as \"UDP\"",
      // What would stop or cripple the start although it reads well.
      "interfaces[0].syslogReceivers[0].port: a receiver needs a port other than 0",
      "interfaces[0].syslogReceivers[1].host: a receiver needs a host",
      "interfaces[1]: an enabled reader needs a syslog or beat receiver",
      "interfaces[2]: an enabled reader needs a syslog or beat receiver",
  };
  for (const auto& line : expected) EXPECT_NE(err.find(file + ": " + line), std::string::npos) << line << "\n" << err;
  EXPECT_TRUE(err.ends_with("\n18 problems found in " + file + "\n")) << err;
  EXPECT_EQ(err.find("winAcctPassword"), std::string::npos) << "an empty stored password is no password";
}

// An exclusion expression that does not compile would stop the service's
// start: it is reported with PCRE2's message; empty ones are skipped, as the
// reader skips them.
TEST_F(CheckConfigTest, ExclusionExpressionsThatDoNotCompileAreProblems) {
  const std::string file = Write("regex.json", R"({"interfaces": [{"name": "R0", "path": "System",
      "exclusionRegex": ["Event(ID)?", "(unclosed", "", "[z-a]"],
      "syslogReceivers": [{"host": "127.0.0.1", "port": 514}]}]})");
  std::string err;
  EXPECT_EQ(Run({file}, nullptr, &err), 1);
  EXPECT_NE(err.find(file + ": interfaces[0].exclusionRegex[1]: "), std::string::npos) << err;
  EXPECT_NE(err.find("missing closing parenthesis"), std::string::npos) << err;
  EXPECT_NE(err.find(file + ": interfaces[0].exclusionRegex[3]: "), std::string::npos) << err;
  EXPECT_TRUE(err.ends_with("\n2 problems found in " + file + "\n")) << err;
}

TEST_F(CheckConfigTest, BadFilesFailWithoutCrashing) {
  std::string manyWrongKinds = "{\"interfaces\":[1";
  for (int i = 0; i < 10000; ++i) manyWrongKinds += ",1";
  manyWrongKinds += "]}";
  const struct {
    const char* Name;
    std::string Bytes;
    std::string Message;
  } cases[] = {
      {"Empty", "", "is empty"},
      {"NotJson", "\n\nnot json", "Invalid JSON at line 3, column "},
      {"Truncated", R"({"interfaces":[{"name":)", "Invalid JSON at line 1"},
      {"TopLevelArray", R"([{"logLevel":5}])", "expected a JSON object at the top, found array"},
      {"TooDeep", std::string(1000, '[') + std::string(1000, ']'), "nesting deeper than"},
      {"ManyWrongKinds", manyWrongKinds, "more values of the wrong kind follow; checking stopped"},
      {"Enormous", "{\"trainingMsg\":\"" + std::string(17 * 1024 * 1024, 'x') + "\"}", "larger than"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string file = Write(std::string(c.Name) + ".json", c.Bytes);
    std::string out;
    std::string err;
    EXPECT_EQ(Run({file}, &out, &err), 1);
    EXPECT_NE(err.find(c.Message), std::string::npos) << err;
    EXPECT_EQ(out, "");
  }
  std::string err;
  EXPECT_EQ(Run({(FDir / "missing.json").string()}, nullptr, &err), 1);
  EXPECT_NE(err.find("Config File " + (FDir / "missing.json").string() + " does not exist"), std::string::npos);
}

TEST_F(CheckConfigTest, AcceptsUtf16Files) {
  const std::string json = R"({"hostName":"h16"})";
  std::string bytes = "\xFF\xFE";
  for (char c : json) bytes += std::string{c, '\0'};
  std::string out;
  std::string err;
  ASSERT_EQ(Run({Write("utf16.json", bytes)}, &out, &err), 0) << err;
  EXPECT_NE(out.find("\"hostName\" : \"h16\""), std::string::npos);
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// The stored form that encrypt-password prints is one the service reads
// back as the password typed, in every key that holds a password.
TEST_F(CheckConfigTest, EncryptPasswordPrintsTheStoredFormOfTheFirstLine) {
  std::string out;
  std::string err;
  const std::string command = std::string("printf 'p\\303\\244ss word:1\\r\\nsecond line' | '") + ZOR_BINARY +
                              "' encrypt-password";
  ASSERT_EQ(test::RunProgram("/bin/sh", {"-c", command}, FDir / "out", &out, &err), 0) << err;
  ASSERT_TRUE(out.ends_with("\n"));
  const std::string stored = out.substr(0, out.size() - 1);
  EXPECT_EQ(stored.find_first_of("\r\n"), std::string::npos);

  const std::string file = Write("with-password.json", R"({"userName": "admin", "password": ")" + stored +
                                                           R"(", "configServerUserName": "u", "configServerPassword": ")" +
                                                           stored + R"("})");
  ASSERT_EQ(Run({file}, nullptr, &err), 0) << err;
  TCollector collector;
  collector.LoadFromJson(file);
  EXPECT_EQ(collector.LocalAPIPassword(), "p\xC3\xA4ss word:1");
  EXPECT_EQ(collector.ConfigServerPassword(), "p\xC3\xA4ss word:1");

  EXPECT_EQ(test::RunProgram("/bin/sh", {"-c", std::string("printf '' | '") + ZOR_BINARY + "' encrypt-password"},
                             FDir / "out", &out, &err),
            1);
  EXPECT_NE(err.find("no password on standard input"), std::string::npos) << err;
}

}  // namespace
}  // namespace zor
