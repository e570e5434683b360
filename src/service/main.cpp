// Program entry: parses the command line and hands over to one command.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>

#include "platform/SignalHold.h"
#include "service/ProgramOptions.h"

int main(int argc, char** argv) {
  using namespace zor;

  // The service's stop and reconfigure signals are held from the first line:
  // one that comes while the service starts waits for its host instead of
  // ending the process. The other commands get them back, to take the default
  // way, as soon as the command line is read.
  TSignalHold serviceSignals({SIGTERM, SIGINT, SIGHUP});

  CLI::App app{"Forwards Win Event Log Messages As Syslog", "zor-event-exporter"};
  app.set_version_flag("--version", std::string(ZOR_VERSION));
  app.require_subcommand(0, 1);

  TProgramOptions options;
  app.add_option("--programdata", options.ProgramData, "Common application data folder (default /var/lib)");
  app.add_option("--home", options.Home, "Program folder (Log, index.html, Certs)");
  app.add_option("--log-dir", options.LogDir, "Folder of the log files");
  app.add_option("--eventlog-dir", options.EventLogDir, "Event log root folder");
  bool install = false;
  bool uninstall = false;
  app.add_flag("--install", install, "Write the systemd unit");
  app.add_flag("--uninstall", uninstall, "Remove the systemd unit");

  std::string source;
  std::string query;
  CLI::App* dump = app.add_subcommand("dump", "Print every record of a channel or .evtx file as XML, one per line");
  dump->add_option("source", source, "Channel name or .evtx file")->required();
  dump->add_option("--query", query, "Event query (XPath or QueryList)");
  unsigned dumpThreads = 0;
  dump->add_option("--threads", dumpThreads,
                   "Threads that decode an .evtx file (default: one per core for a file of 4 MiB or more)")
      ->check(CLI::Range(1u, 64u));

  CLI::App* channels = app.add_subcommand("channels", "List the channels of the event log root");

  TWriteEventArgs writeArgs;
  CLI::App* writeEvent = app.add_subcommand("write-event", "Append one event to an XML channel");
  writeEvent->add_option("--channel", writeArgs.Channel, "Channel")->required();
  writeEvent->add_option("--provider", writeArgs.Provider, "Provider name")->required();
  writeEvent->add_option("--id", writeArgs.EventId, "Event ID")->required();
  writeEvent->add_option("--level", writeArgs.Level, "Level (1-5)");
  writeEvent->add_option("--data", writeArgs.Data, "EventData NAME=VALUE (repeatable)");
  writeEvent->add_option("--computer", writeArgs.Computer, "Computer name");

  std::string configFile;
  CLI::App* checkConfig = app.add_subcommand("check-config", "Check a configuration file and print it in its pretty form");
  checkConfig->add_option("file", configFile, "Configuration file (default: the service's SvcConfig.json)");

  CLI::App* encryptPassword = app.add_subcommand(
      "encrypt-password", "Print the stored form of the password read from standard input, for SvcConfig.json");

  TStatusArgs statusArgs;
  CLI::App* status = app.add_subcommand("status", "Show the figures of a running service: readers, receivers, errors");
  status->add_option("--url", statusArgs.URL,
                     "Management endpoint (default: the one of the service's configuration, with its credentials)");
  status->add_option("--user", statusArgs.UserName, "User name of the endpoint");
  status->add_option("--password", statusArgs.Password, "Password of the endpoint");
  status->add_flag("--insecure", statusArgs.Insecure, "Do not check the endpoint's certificate");
  status->add_option("--ca-file", statusArgs.CAFile, "Trusted certificates (PEM) for the endpoint's certificate");

  CLI11_PARSE(app, argc, argv);
  if (install || uninstall || !app.get_subcommands().empty()) serviceSignals.Release();

  if (install && uninstall) {
    std::fprintf(stderr, "--install and --uninstall exclude each other\n");
    return 2;
  }
  if (install) return RunInstall(options);
  if (uninstall) return RunUninstall(options);
  if (dump->parsed()) return RunDump(options, source, query, dumpThreads);
  if (channels->parsed()) return RunChannels(options);
  if (writeEvent->parsed()) return RunWriteEvent(options, writeArgs);
  if (checkConfig->parsed()) return RunCheckConfig(options, configFile);
  if (encryptPassword->parsed()) return RunEncryptPassword();
  if (status->parsed()) return RunStatus(options, statusArgs);
  return RunService(options);
}
