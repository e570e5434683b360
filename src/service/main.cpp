// Program entry: parses the command line and hands over to one command.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/SignalHold.h"
#include "service/ProgramOptions.h"

namespace {

using namespace zor;

// Everything the command line can set, whichever command it names.
struct TCommandLine {
  TProgramOptions Options;
  bool Install = false;
  bool Uninstall = false;
  std::string Source;
  std::string Query;
  unsigned DumpThreads = 0;
  TWriteEventArgs WriteArgs;
  std::string ConfigFile;
  TStatusArgs StatusArgs;
};

// The options every command takes a value for (--home DIR, ...).
struct TGlobalOption {
  const char* Name;
  std::string TProgramOptions::*Field;
  const char* Help;
};
constexpr TGlobalOption GlobalOptions[] = {
    {"--programdata", &TProgramOptions::ProgramData, "Common application data folder (default /var/lib)"},
    {"--home", &TProgramOptions::Home, "Program folder (Log, index.html, Certs)"},
    {"--log-dir", &TProgramOptions::LogDir, "Folder of the log files"},
    {"--eventlog-dir", &TProgramOptions::EventLogDir, "Event log root folder"},
};

// A command: Add puts its subcommand (options bound to ALine) on AApp, Run
// runs it once the command line named it.
struct TCommand {
  const char* Name;
  CLI::App* (*Add)(CLI::App& AApp, TCommandLine& ALine);
  int (*Run)(const TCommandLine& ALine);
};

CLI::App* AddDump(CLI::App& AApp, TCommandLine& ALine) {
  CLI::App* dump = AApp.add_subcommand("dump", "Print every record of a channel or .evtx file as XML, one per line");
  dump->add_option("source", ALine.Source, "Channel name or .evtx file")->required();
  dump->add_option("--query", ALine.Query, "Event query (XPath or QueryList)");
  dump->add_option("--threads", ALine.DumpThreads,
                   "Threads that decode an .evtx file (default: one per core for a file of 4 MiB or more)")
      ->check(CLI::Range(1u, 64u));
  return dump;
}

CLI::App* AddChannels(CLI::App& AApp, TCommandLine&) {
  return AApp.add_subcommand("channels", "List the channels of the event log root");
}

CLI::App* AddWriteEvent(CLI::App& AApp, TCommandLine& ALine) {
  TWriteEventArgs& args = ALine.WriteArgs;
  CLI::App* writeEvent = AApp.add_subcommand("write-event", "Append one event to an XML channel");
  writeEvent->add_option("--channel", args.Channel, "Channel")->required();
  writeEvent->add_option("--provider", args.Provider, "Provider name")->required();
  writeEvent->add_option("--id", args.EventId, "Event ID")->required();
  writeEvent->add_option("--level", args.Level, "Level (1-5)");
  writeEvent->add_option("--data", args.Data, "EventData NAME=VALUE (repeatable)");
  writeEvent->add_option("--computer", args.Computer, "Computer name");
  return writeEvent;
}

CLI::App* AddCheckConfig(CLI::App& AApp, TCommandLine& ALine) {
  CLI::App* checkConfig =
      AApp.add_subcommand("check-config", "Check a configuration file and print it in its pretty form");
  checkConfig->add_option("file", ALine.ConfigFile, "Configuration file (default: the service's SvcConfig.json)");
  return checkConfig;
}

CLI::App* AddEncryptPassword(CLI::App& AApp, TCommandLine&) {
  return AApp.add_subcommand("encrypt-password",
                             "Print the stored form of the password read from standard input, for SvcConfig.json");
}

CLI::App* AddStatus(CLI::App& AApp, TCommandLine& ALine) {
  TStatusArgs& args = ALine.StatusArgs;
  CLI::App* status = AApp.add_subcommand("status", "Show the figures of a running service: readers, receivers, errors");
  status->add_option("--url", args.URL,
                     "Management endpoint (default: the one of the service's configuration, with its credentials)");
  status->add_option("--user", args.UserName, "User name of the endpoint");
  status->add_option("--password", args.Password, "Password of the endpoint");
  status->add_flag("--insecure", args.Insecure, "Do not check the endpoint's certificate");
  status->add_option("--ca-file", args.CAFile, "Trusted certificates (PEM) for the endpoint's certificate");
  return status;
}

constexpr TCommand Commands[] = {
    {"dump", AddDump,
     [](const TCommandLine& ALine) { return RunDump(ALine.Options, ALine.Source, ALine.Query, ALine.DumpThreads); }},
    {"channels", AddChannels, [](const TCommandLine& ALine) { return RunChannels(ALine.Options); }},
    {"write-event", AddWriteEvent, [](const TCommandLine& ALine) { return RunWriteEvent(ALine.Options, ALine.WriteArgs); }},
    {"check-config", AddCheckConfig,
     [](const TCommandLine& ALine) { return RunCheckConfig(ALine.Options, ALine.ConfigFile); }},
    {"encrypt-password", AddEncryptPassword, [](const TCommandLine&) { return RunEncryptPassword(); }},
    {"status", AddStatus, [](const TCommandLine& ALine) { return RunStatus(ALine.Options, ALine.StatusArgs); }},
};

// The command the command line names, or null when it names none (the
// service, or help for the whole program) or a word that is no command. The
// program takes no word of its own, so the first word that is neither an
// option nor the value of a global option is the command.
const TCommand* NamedCommand(int AArgc, char** AArgv) {
  for (int i = 1; i < AArgc; ++i) {
    const std::string_view word = AArgv[i];
    if (word == "--") return nullptr;
    if (word.starts_with('-')) {
      for (const TGlobalOption& option : GlobalOptions)
        if (word == option.Name) ++i;  // its value follows
      continue;
    }
    for (const TCommand& command : Commands)
      if (word == command.Name) return &command;
    return nullptr;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  // The service's stop and reconfigure signals are held from the first line:
  // one that comes while the service starts waits for its host instead of
  // ending the process. The other commands get them back, to take the default
  // way, as soon as the command line is read.
  TSignalHold serviceSignals({SIGTERM, SIGINT, SIGHUP});

  CLI::App app{"Forwards Win Event Log Messages As Syslog", "zor-event-exporter"};
  app.set_version_flag("--version", std::string(ZOR_VERSION));
  app.require_subcommand(0, 1);

  TCommandLine line;
  for (const TGlobalOption& option : GlobalOptions) app.add_option(option.Name, line.Options.*option.Field, option.Help);
  app.add_flag("--install", line.Install, "Write the systemd unit");
  app.add_flag("--uninstall", line.Uninstall, "Remove the systemd unit");

  // Only the command named is built: building every one costs a short run,
  // such as the dump of a small file, a good part of its start. Without one
  // (the service, help for the program, a word that is no command) all are
  // built, so that help lists them and CLI11 names what is wrong.
  const TCommand* named = NamedCommand(argc, argv);
  std::vector<std::pair<CLI::App*, const TCommand*>> added;
  for (const TCommand& command : Commands)
    if (!named || named == &command) added.emplace_back(command.Add(app, line), &command);

  CLI11_PARSE(app, argc, argv);
  if (line.Install || line.Uninstall || !app.get_subcommands().empty()) serviceSignals.Release();

  if (line.Install && line.Uninstall) {
    std::fprintf(stderr, "--install and --uninstall exclude each other\n");
    return 2;
  }
  if (line.Install) return RunInstall(line.Options);
  if (line.Uninstall) return RunUninstall(line.Options);
  for (const auto& [subcommand, command] : added)
    if (subcommand->parsed()) return command->Run(line);
  return RunService(line.Options);
}
