// The builders of the syslog side of the pipeline: one sender per
// destination, one subscriber per enabled reader, one trainer per
// destination in training mode. Each logs the settings it builds from.
#include <algorithm>
#include <filesystem>
#include <string>

#include "management/AsciiCase.h"
#include "platform/ServicePaths.h"
#include "service/EventLogManager.h"
#include "support/Log.h"
#include "syslog/SyslogGlobal.h"

namespace zor {

namespace {

const char* TransportLine(TSysLogTransport ATransport) {
  switch (ATransport) {
    case TSysLogTransport::sltUDP:
      return "  Transport = UDP";
    case TSysLogTransport::sltTCP:
      return "  Transport = TCP";
    case TSysLogTransport::sltTLSv1:
      return "  Transport = TLSv1.0";
    case TSysLogTransport::sltTLSv1_1:
      return "  Transport = TLSv1.1";
    case TSysLogTransport::sltTLSv1_2:
      return "  Transport = TLSv1.2";
    case TSysLogTransport::sltRELP:
      return "  Transport = RELP";
  }
  return "  Transport = UDP";
}

// The delimiter is shown as its escape sequence; sdlNone shows nothing.
const char* DelimiterLine(TSyslogDelimiter ADelimiter) {
  switch (ADelimiter) {
    case TSyslogDelimiter::sdlNewLine:
      return "  TCPDelimiter = \\r\\n";
    case TSyslogDelimiter::sdlNull:
      return "  TCPDelimiter = \\0";
    case TSyslogDelimiter::sdlCarriageReturn:
      return "  TCPDelimiter = \\r";
    case TSyslogDelimiter::sdlLineFeed:
      return "  TCPDelimiter = \\n";
    case TSyslogDelimiter::sdlNone:
      break;
  }
  return nullptr;
}

// The transport label of a syslog destination in the figures.
const char* TransportLabel(TSysLogTransport ATransport) {
  switch (ATransport) {
    case TSysLogTransport::sltUDP: return "UDP";
    case TSysLogTransport::sltTCP: return "TCP";
    case TSysLogTransport::sltTLSv1:
    case TSysLogTransport::sltTLSv1_1:
    case TSysLogTransport::sltTLSv1_2: return "TLS";
    case TSysLogTransport::sltRELP: return "RELP";
  }
  return "UDP";
}

// Items waiting in each sender of ARegistry, written into the snapshot's
// row of the sender's counters.
template <class TRegistry>
TMetricsRegistry::TProbe QueuedProbe(TRegistry* ARegistry) {
  return [ARegistry](TMetricsSnapshot& ASnapshot) {
    ARegistry->ForEachSender([&](const std::string&, const auto& ASender) {
      for (TDestinationFigures& figures : ASnapshot.Destinations)
        if (figures.Source == ASender.CountersObject().get()) figures.Queued = ASender.QueuedCount();
    });
  };
}

const char* TrueFalse(bool AValue) { return AValue ? "True" : "False"; }

// The settings of reader AIndex, as every start-up logs them.
void LogReaderSettings(int AIndex, const TCollectionInterface& AReader) {
  LogInfo("Loading Readers [%d] %s", AIndex, AReader.Name().c_str());
  LogInfo("  Log Name = %s", AReader.Path().c_str());
  LogInfo("  Start From Beginning = %s", TrueFalse(AReader.StartAtBeginning()));
  LogInfo("  Server = %s", AReader.WinHost().c_str());
  LogInfo("  Log Read Batch Size = %d", AReader.BatchSize());
  LogInfo("  Subscription Filter = %s", AReader.SelectionDetail().c_str());
  const std::vector<std::string>& expressions = AReader.ExclusionRegex();
  if (expressions.empty()) LogInfo("  Exclusion RegEx = ");
  for (size_t i = 0; i < expressions.size(); ++i) {
    if (i == 0)
      LogInfo("  Exclusion RegEx = %s", expressions[i].c_str());
    else
      LogInfo("                    %s", expressions[i].c_str());
  }
  // The account's password is never logged.
  LogInfo("  Login Credentials = %s", AReader.WinAcct().c_str());
}

void LogReaderOutput(const TCollectionInterface& AReader) {
  if (AReader.DeriveSeverity())
    LogInfo("  Derive Severity = True");
  else
    LogInfo("  Syslog Severity = %s", SyslogSeverityToStr(AReader.DefaultSeverity()).c_str());
  LogInfo("  Parse Message = %s", TrueFalse(AReader.Parse()));
  LogInfo("  Raw Log Only = %s", TrueFalse(AReader.RawLogOnly()));
  LogInfo("  Strip NewLines = %s", TrueFalse(AReader.StripNewLines()));
  LogInfo("  Syslog Receivers: %d", AReader.SyslogReceivers().Count());
  int index = 0;
  for (const auto& receiver : AReader.SyslogReceivers())
    LogInfo("    Sylsog Receiver[%d] = %s:%d", index++, receiver->Host().c_str(), receiver->Port());
  LogInfo("  Beat Receivers: %d", AReader.BeatReceivers().Count());
  index = 0;
  for (const auto& receiver : AReader.BeatReceivers())
    LogInfo("    Beat Receiver[%d] = %s:%d", index++, receiver->Host().c_str(), receiver->Port());
}

}  // namespace

void TEventLogManager::InitSyslogSenders() {
  LogInfo("Init Syslog Senders");
  if (!FSysLogSenders) FSysLogSenders = std::make_unique<TSysLogSenders>(&FProcessor->OutboundSyslogQueue());
  if (FCollector->InterfaceCount() == 0) LogInfo("No Readers in Config. No Senders to Init");

  // A sender serves every receiver with its host, port and kind (datagram or
  // stream); the first such receiver fixes its settings.
  for (int i = 0; i < FCollector->InterfaceCount(); ++i) {
    int j = 0;
    for (const auto& receiver : FCollector->GetInterface(i).SyslogReceivers()) {
      const int index = j++;
      const bool udp = receiver->Transport() == TSysLogTransport::sltUDP;
      if (udp ? FSysLogSenders->HasUDPSender(receiver->Host(), receiver->Port())
              : FSysLogSenders->HasTCPSender(receiver->Host(), receiver->Port()))
        continue;

      TSyslogSenderOptions options;
      if (receiver->SaveToFile()) {
        const std::filesystem::path file = SysLogCopyFileName(SvcConfigDir(), receiver->Name());
        std::filesystem::create_directories(file.parent_path());
        options.FileName = file.string();
      }
      options.QueueCountThreshold = FCollector->QueueCountThreshold();
      options.QueueSecondsThreshold = FCollector->QueueSecondsThreshold();
      // The receiver's own sending settings reach its sender; the address
      // list goes in as one comma-separated text.
      options.Persistent = receiver->PersistentConnection();
      options.NoDelimOnLast = receiver->NoDelimOnLast();
      options.ForwardHeader = receiver->ForwardHeader();
      for (const std::string& address : receiver->ForwardIPList())
        options.ForwardIPList += (options.ForwardIPList.empty() ? "" : ",") + address;
      TSysLogSenderTuning tuning;
      tuning.Counters = FMetrics->Destination(TOutputKind::okSyslog,
                                              TSysLogSenders::DestinationKey(receiver->Host(), receiver->Port()),
                                              TransportLabel(receiver->Transport()));
      auto sender = std::make_unique<TSysLogSender>(receiver->Host(), receiver->Port(), receiver->Transport(),
                                                    receiver->TCPDelimiter(), receiver->Name(), options,
                                                    std::move(tuning));

      LogInfo("Loading Syslog sender [%d] for Reader [%d] %s", index, i, sender->SenderName().c_str());
      LogInfo("  Desination Host %s", receiver->Host().c_str());
      LogInfo("  Desination Port %d", receiver->Port());
      LogInfo("%s", TransportLine(receiver->Transport()));
      // RELP frames each message itself: no delimiter.
      if (!udp && receiver->Transport() != TSysLogTransport::sltRELP) {
        if (const char* line = DelimiterLine(receiver->TCPDelimiter())) LogInfo("%s", line);
      }
      FSysLogSenders->AddSender(std::move(sender));
    }
  }
  // Readers wait while this many messages are on their way to the senders.
  TSyslogMessageQueue* outbound = &FProcessor->OutboundSyslogQueue();
  TSysLogSenders* senders = FSysLogSenders.get();
  FProcessor->SetSyslogBacklogProbe([outbound, senders] { return outbound->Count() + senders->QueuedCount(); });
  FMetrics->AddProbe(senders, QueuedProbe(senders));
  (void)FSysLogSenders->ThreadStart(false, 0);
}

void TEventLogManager::InitBeatSenders() {
  LogInfo("Init Beat Senders");
  if (!FBeatSenders) FBeatSenders = std::make_unique<TBeatSenders>(&FProcessor->OutboundBeatQueue());
  if (FCollector->InterfaceCount() == 0) LogInfo("No Readers in Config. No Senders to Init");

  // A sender serves every beat receiver with its host and port, of any
  // reader; the first such receiver fixes its settings.
  for (int i = 0; i < FCollector->InterfaceCount(); ++i) {
    int j = 0;
    for (const auto& receiver : FCollector->GetInterface(i).BeatReceivers()) {
      const int index = j++;
      if (FBeatSenders->HasSender(receiver->Host(), receiver->Port())) continue;
      TBeatSenderOptions options;
      options.ESVersion = receiver->ESVersion();
      options.DocumentId = receiver->DocumentId();
      options.Protocol = receiver->Protocol();
      options.CreateTemplate = receiver->CreateTemplate();
      options.TemplateName = receiver->TemplateName();
      options.QueueCountThreshold = FCollector->QueueCountThreshold();
      options.QueueSecondsThreshold = FCollector->QueueSecondsThreshold();
      options.VerifyCertificate = receiver->VerifyCertificate();
      options.CAFile = receiver->CAFile();
      // The endpoint's URL as the poster addresses it: "http" in any letter
      // case means plain HTTP, anything else TLS.
      const bool plain = UpperAscii(receiver->Protocol()) == "HTTP";
      TBeatSenderTuning tuning;
      tuning.Counters = FMetrics->Destination(
          TOutputKind::okBeat,
          std::string(plain ? "http://" : "https://") + receiver->Host() + ":" + std::to_string(receiver->Port()),
          plain ? "HTTP" : "HTTPS");
      auto sender = std::make_unique<TBeatSender>(receiver->Host(), receiver->Port(), receiver->UserName(),
                                                  receiver->Password(), options, std::move(tuning));
      LogInfo("Loading Beat [%d] for Reader [%d] %s://%s:%d", index, i, receiver->Protocol().c_str(),
              receiver->Host().c_str(), receiver->Port());
      FBeatSenders->AddSender(std::move(sender));
    }
  }
  // Readers wait while too many syslog messages or too many documents (for
  // any one output) are on their way.
  TSyslogMessageQueue* syslogQueue = &FProcessor->OutboundSyslogQueue();
  TSysLogSenders* syslogSenders = FSysLogSenders.get();
  TLogBeatQueue* beatQueue = &FProcessor->OutboundBeatQueue();
  TBeatSenders* beatSenders = FBeatSenders.get();
  FProcessor->SetSyslogBacklogProbe([=] {
    const size_t syslog = syslogSenders ? syslogQueue->Count() + syslogSenders->QueuedCount() : 0;
    return std::max(syslog, beatQueue->Count() + beatSenders->QueuedCount());
  });
  FMetrics->AddProbe(beatSenders, QueuedProbe(beatSenders));
  (void)FBeatSenders->ThreadStart(false, 0);
}

void TEventLogManager::InitSubscribers() {
  if (!FSubscribers) FSubscribers.emplace();
  // Senders gather the count only when a time threshold is set as well.
  const bool gathering = FCollector->QueueCountThreshold() != 0 && FCollector->QueueSecondsThreshold() != 0;
  FProcessor->SetFlushCount(gathering ? FCollector->QueueCountThreshold() : 0);
  if (FCollector->InterfaceCount() == 0) LogInfo("No Readers in Config. No Event Log Subscriptions to Create");

  for (int i = 0; i < FCollector->InterfaceCount(); ++i) {
    const TCollectionInterface& reader = FCollector->GetInterface(i);
    if (!reader.Enabled()) {
      LogInfo("Subscriber [%d] %s is Disabled", i, reader.Name().c_str());
      continue;
    }
    LogReaderSettings(i, reader);
    if (reader.SyslogReceivers().Count() == 0 && reader.BeatReceivers().Count() == 0) {
      LogError("Subscriber [%d] %s has no receivers", i, reader.Name().c_str());
      continue;
    }
    LogReaderOutput(reader);
    auto subscriber = std::make_unique<TEventLogSubscriber>(FProcessor.get(), reader, BookmarkDir(), FWinEvt,
                                                            FMetrics->Reader(reader.Name()));
    (void)subscriber->ThreadStart(false, 0);
    FSubscribers->push_back(std::move(subscriber));
  }
}

void TEventLogManager::InitTrainers() {
  LogInfo("Init Trainers");
  if (!FTrainers) FTrainers.emplace();
  for (int i = 0; i < FCollector->InterfaceCount(); ++i) {
    for (const auto& receiver : FCollector->GetInterface(i).SyslogReceivers()) {
      if (std::any_of(FTrainers->begin(), FTrainers->end(), [&](const auto& ATrainer) {
            return ATrainer->Host() == receiver->Host() && ATrainer->Port() == receiver->Port();
          }))
        continue;
      auto trainer = std::make_unique<TSyslogTrainer>(&FProcessor->OutboundSyslogQueue(), receiver->Host(),
                                                      receiver->Port(), FCollector->TrainingMessageInterval());
      (void)trainer->ThreadStart(false, 0);
      FTrainers->push_back(std::move(trainer));
    }
  }
}

}  // namespace zor
