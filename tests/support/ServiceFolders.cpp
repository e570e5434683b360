#include "support/ServiceFolders.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

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
  constexpr size_t HeadBytes = 256;
  TLogRead& read = *FLogRead;
  std::lock_guard lock(read.Mutex);
  std::ifstream file(LogFile(), std::ios::binary);
  std::string head(HeadBytes, '\0');
  file.read(head.data(), HeadBytes);
  head.resize(static_cast<size_t>(file.gcount()));
  // Another file (rolled over, or removed and written anew), or a shorter
  // one: read from its start.
  if (head.compare(0, read.Head.size(), read.Head) != 0 || head.size() < read.Head.size()) {
    read.Bytes = 0;
    read.Text.clear();
  }
  read.Head = head;
  file.clear();
  // The byte order mark first.
  const uint64_t from = std::max<uint64_t>(read.Bytes, 2);
  file.seekg(static_cast<std::streamoff>(from));
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // Whole UTF-16 units only, and not the first half of a surrogate pair: the
  // rest is converted once it is all there.
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  if (!units.empty() && units.back() >= 0xD800 && units.back() < 0xDC00) units.pop_back();
  if (units.empty()) return read.Text;
  read.Text += TUtilities::Utf16ToUtf8(units);
  read.Bytes = from + 2 * units.size();
  return read.Text;
}

testing::AssertionResult TServiceFolders::LogHas(const std::string& AText) const {
  return WaitUntil([&] { return Log().find(AText) != std::string::npos; }, std::chrono::seconds(30),
                   "log line \"" + AText + "\"");
}

int TServiceFolders::LogCount(const std::string& AText) const {
  const std::string log = Log();
  int count = 0;
  for (size_t at = log.find(AText); at != std::string::npos; at = log.find(AText, at + 1)) ++count;
  return count;
}

uint16_t TServiceFolders::EndPointPort(int ANth) const {
  // Plain searches, not a regular expression: the log of a long test is read
  // again at every poll, and the sanitizer build runs the test's own code
  // unoptimised. A line counts once its end is written (no port cut short).
  static constexpr std::string_view Listening = "[EndPoint] Listening on ";
  uint16_t port = 0;
  EXPECT_TRUE(WaitUntil([&] {
    const std::string log = Log();
    int seen = 0;
    for (size_t at = log.find(Listening); at != std::string::npos; at = log.find(Listening, at)) {
      at += Listening.size();
      if (++seen < ANth) continue;
      const size_t end = log.find('\n', at);
      const size_t colon = log.rfind(':', end);
      if (end == std::string::npos || colon == std::string::npos || colon < at) return false;
      port = static_cast<uint16_t>(std::stoi(log.substr(colon + 1, end - colon - 1)));
      return true;
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
