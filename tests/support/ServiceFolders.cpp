#include "support/ServiceFolders.h"

#include <fstream>
#include <regex>
#include <sstream>

#include "support/Utilities.h"
#include "support/WaitUntil.h"

namespace zor::test {

std::string ReadFile(const std::filesystem::path& APath) {
  std::ifstream file(APath, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> TServiceFolders::Folders() const {
  return {"--programdata", DataDir().string(), "--home", (FRoot / "home").string(), "--eventlog-dir",
          EventLogDir().string()};
}

std::unique_ptr<TChildProcess> TServiceFolders::Start(std::vector<std::string> AExtra,
                                                      const std::string& AProgram) const {
  std::vector<std::string> arguments = Folders();
  arguments.insert(arguments.end(), AExtra.begin(), AExtra.end());
  return std::make_unique<TChildProcess>(AProgram, arguments, FRoot.Path());
}

void TServiceFolders::WriteConfig(const std::string& AText) const {
  std::filesystem::create_directories(SvcDir());
  // Written whole under another name and renamed, as an editor that a
  // running service may be reading would.
  const std::filesystem::path part = ConfigFile().string() + ".part";
  std::ofstream(part, std::ios::binary) << AText;
  std::filesystem::rename(part, ConfigFile());
}

std::string TServiceFolders::Log() const {
  const std::string bytes = ReadFile(LogFile());
  if (bytes.size() < 2) return "";
  std::u16string units((bytes.size() - 2) / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                     static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
  return TUtilities::Utf16ToUtf8(units);
}

testing::AssertionResult TServiceFolders::LogHas(const std::string& AText) const {
  return WaitUntil([&] { return Log().find(AText) != std::string::npos; }, std::chrono::seconds(30),
                   "log line \"" + AText + "\"");
}

uint16_t TServiceFolders::EndPointPort(int ANth) const {
  static const std::regex listening("\\[EndPoint\\] Listening on [0-9a-f.:]+:([0-9]+)");
  uint16_t port = 0;
  EXPECT_TRUE(WaitUntil([&] {
    const std::string log = Log();
    int seen = 0;
    for (std::sregex_iterator it(log.begin(), log.end(), listening), end; it != end; ++it) {
      if (++seen == ANth) {
        port = static_cast<uint16_t>(std::stoi((*it)[1]));
        return true;
      }
    }
    return false;
  }));
  return port;
}

testing::AssertionResult TServiceFolders::LogInOrder(const std::vector<std::string>& ATexts) const {
  std::string log;
  const std::string* missing = nullptr;
  const auto inOrder = [&] {
    log = Log();
    size_t at = 0;
    for (const std::string& text : ATexts) {
      const size_t found = log.find(text, at);
      if (found == std::string::npos) {
        missing = &text;
        return false;
      }
      at = found + text.size();
    }
    return true;
  };
  if (WaitUntil(inOrder, std::chrono::seconds(30))) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << *missing << "\" missing or out of order in:\n" << log;
}

}  // namespace zor::test
