#include "platform/SystemdUnit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/PlatformError.h"

namespace zor {

namespace {

// One ExecStart word: quoted when it holds blanks, quotes or backslashes; "%"
// and "$" are doubled so systemd takes them literally.
std::string QuoteWord(const std::string& AWord) {
  bool quote = AWord.empty();
  std::string body;
  for (char c : AWord) {
    switch (c) {
      case '%': body += "%%"; break;
      case '$': body += "$$"; break;
      case '"': body += "\\\""; quote = true; break;
      case '\\': body += "\\\\"; quote = true; break;
      case ' ':
      case '\t':
      case '\'': body += c; quote = true; break;
      default:
        // A line break or other control character would end or break the
        // line: write it escaped.
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
          body += escaped;
          quote = true;
        } else {
          body += c;
        }
    }
  }
  return quote ? "\"" + body + "\"" : body;
}

std::string UnitPath(const std::string& AName) { return SystemdUnitDir() + "/" + AName + ".service"; }

void CheckName(const std::string& AName) {
  if (AName.empty() || AName.find('/') != std::string::npos)
    throw EPlatformError("Invalid unit name '" + AName + "'");
}

}  // namespace

std::string SystemdUnitDir() {
  const char* overridden = std::getenv("ZOR_SYSTEMD_UNIT_DIR");
  std::string folder = overridden != nullptr && *overridden != '\0' ? overridden : "/etc/systemd/system";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string RenderSystemdUnit(const TSystemdUnit& AUnit) {
  std::string command;
  for (const std::string& word : AUnit.Command) {
    if (!command.empty()) command += ' ';
    command += QuoteWord(word);
  }
  return "# " + AUnit.DisplayName + " (" + AUnit.Name + ")\n"
         "[Unit]\n"
         "Description=" + AUnit.Description + "\n"
         "After=network-online.target\n"
         "Wants=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=simple\n"
         "ExecStart=" + command + "\n"
         "ExecReload=/bin/kill -HUP $MAINPID\n"
         "KillSignal=SIGTERM\n"
         "Restart=on-failure\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

std::string InstallSystemdUnit(const TSystemdUnit& AUnit) {
  CheckName(AUnit.Name);
  const std::string path = UnitPath(AUnit.Name);
  const std::string text = RenderSystemdUnit(AUnit);
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) throw EPlatformError::FromErrno("Creating a file in " + SystemdUnitDir());
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  const int error = errno;
  close(fd);
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    const int renameError = written ? errno : error;
    unlink(temporary.c_str());
    throw EPlatformError::FromErrno("Writing " + path, renameError);
  }
  return path;
}

std::string UninstallSystemdUnit(const std::string& AName) {
  CheckName(AName);
  const std::string path = UnitPath(AName);
  if (unlink(path.c_str()) != 0) {
    if (errno == ENOENT) throw EPlatformError("The service is not installed: " + path + " does not exist", ENOENT);
    throw EPlatformError::FromErrno("Removing " + path);
  }
  return path;
}

}  // namespace zor
