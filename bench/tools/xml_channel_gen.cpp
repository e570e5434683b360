// Writes an XML channel file of many events for the whole-pipeline benchmark,
// in the channel format of evtx/XmlChannel (one rendered event per line,
// record ids 1, 2, ...), straight into the file rather than one append (and
// one scan for the highest id) per event.
//
// The events are successful-logon audits (4624, 27 named EventData fields as
// Windows writes them) with a few logoffs (4634) and special-privilege logons
// (4672) mixed in; users, addresses, ports, logon ids and times vary per event.
//
// usage: bench_xml_channel_gen FILE COUNT [CHANNEL] [COMPUTER]
//   CHANNEL defaults to Security, COMPUTER to WS-BENCH-01.velmora.test.
//   Prints the number of events and bytes written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "evtx/EvtxReader.h"
#include "evtx/XmlChannel.h"

namespace {

using zor::TNewEvent;

// 2026-03-02 08:00:00 UTC as FILETIME.
constexpr uint64_t FirstTime = 134169120000000000ull;
constexpr uint64_t TicksPerMillisecond = 10'000;

const char* const Users[] = {"alice.moreau", "b.okafor", "svc_backup", "c.lindqvist", "d.haddad", "e.nakamura",
                             "f.oliveira", "g.kowalski", "h.ibrahim", "svc_sqlagent", "i.petrov", "j.schmidt"};
const char* const Workstations[] = {"WS-0142", "WS-0388", "LAPTOP-7QX2", "SRV-FILE02", "WS-1021", "-"};
const char* const Processes[] = {"C:\\Windows\\System32\\svchost.exe", "C:\\Windows\\System32\\lsass.exe",
                                 "C:\\Windows\\System32\\winlogon.exe", "-"};

std::string Hex(uint64_t AValue) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(AValue));
  return text;
}

std::string Guid(uint64_t ASeed) {
  char text[48];
  std::snprintf(text, sizeof text, "{%08llx-%04llx-%04llx-%04llx-%012llx}",
                static_cast<unsigned long long>((ASeed * 2654435761u) & 0xffffffff),
                static_cast<unsigned long long>((ASeed >> 3) & 0xffff),
                static_cast<unsigned long long>(0x4000 | (ASeed & 0x0fff)),
                static_cast<unsigned long long>(0x8000 | ((ASeed >> 7) & 0x3fff)),
                static_cast<unsigned long long>((ASeed * 0x9e3779b97f4a7c15ull) & 0xffffffffffffull));
  return text;
}

std::string Address(uint64_t ASeed) {
  return "10." + std::to_string((ASeed >> 16) % 250 + 1) + "." + std::to_string((ASeed >> 8) % 256) + "." +
         std::to_string(ASeed % 253 + 1);
}

void Fill(TNewEvent& AEvent, uint64_t AIndex) {
  const uint64_t seed = AIndex * 0x9e3779b97f4a7c15ull ^ (AIndex >> 5);
  const std::string user = Users[AIndex % std::size(Users)];
  const std::string logonId = Hex(0x3e7000 + (seed % 0xfffff));
  AEvent.TimeCreated = FirstTime + AIndex * 7 * TicksPerMillisecond + seed % TicksPerMillisecond;
  AEvent.ProcessId = 684;
  AEvent.ThreadId = 700 + static_cast<uint32_t>(seed % 2000);
  AEvent.Data.clear();
  auto add = [&](const char* AName, std::string AValue) { AEvent.Data.emplace_back(AName, std::move(AValue)); };
  switch (AIndex % 10) {
    case 7:  // logoff
      AEvent.EventId = 4634;
      add("TargetUserSid", "S-1-5-21-3623811015-3361044348-30300820-" + std::to_string(1100 + AIndex % 40));
      add("TargetUserName", user);
      add("TargetDomainName", "VELMORA");
      add("TargetLogonId", logonId);
      add("LogonType", std::to_string(seed % 2 == 0 ? 3 : 10));
      return;
    case 8:  // special privileges
      AEvent.EventId = 4672;
      add("SubjectUserSid", "S-1-5-21-3623811015-3361044348-30300820-" + std::to_string(1100 + AIndex % 40));
      add("SubjectUserName", user);
      add("SubjectDomainName", "VELMORA");
      add("SubjectLogonId", logonId);
      add("PrivilegeList",
          "SeSecurityPrivilege\r\n\t\t\tSeBackupPrivilege\r\n\t\t\tSeRestorePrivilege\r\n\t\t\t"
          "SeTakeOwnershipPrivilege\r\n\t\t\tSeDebugPrivilege\r\n\t\t\tSeSystemEnvironmentPrivilege");
      return;
    default:
      break;
  }
  AEvent.EventId = 4624;
  const bool network = seed % 3 != 0;
  add("SubjectUserSid", "S-1-5-18");
  add("SubjectUserName", "WS-BENCH-01$");
  add("SubjectDomainName", "VELMORA");
  add("SubjectLogonId", "0x3e7");
  add("TargetUserSid", "S-1-5-21-3623811015-3361044348-30300820-" + std::to_string(1100 + AIndex % 40));
  add("TargetUserName", user);
  add("TargetDomainName", "VELMORA");
  add("TargetLogonId", logonId);
  add("LogonType", network ? "3" : "2");
  add("LogonProcessName", network ? "NtLmSsp " : "User32 ");
  add("AuthenticationPackageName", network ? "NTLM" : "Negotiate");
  add("WorkstationName", Workstations[seed % std::size(Workstations)]);
  add("LogonGuid", network ? "{00000000-0000-0000-0000-000000000000}" : Guid(seed));
  add("TransmittedServices", "-");
  add("LmPackageName", network ? "NTLM V2" : "-");
  add("KeyLength", network ? "128" : "0");
  add("ProcessId", Hex(network ? 0 : 0x2a4 + seed % 64));
  add("ProcessName", Processes[seed % std::size(Processes)]);
  add("IpAddress", network ? Address(seed) : "127.0.0.1");
  add("IpPort", std::to_string(network ? 49152 + seed % 16000 : 0));
  add("ImpersonationLevel", "%%1833");
  add("RestrictedAdminMode", "-");
  add("TargetOutboundUserName", "-");
  add("TargetOutboundDomainName", "-");
  add("VirtualAccount", "%%1843");
  add("TargetLinkedLogonId", "0x0");
  add("ElevatedToken", seed % 5 == 0 ? "%%1842" : "%%1843");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE COUNT [CHANNEL] [COMPUTER]\n", argv[0]);
    return 1;
  }
  const char* file = argv[1];
  const uint64_t count = std::strtoull(argv[2], nullptr, 10);
  TNewEvent event;
  event.Channel = argc > 3 ? argv[3] : "Security";
  event.Computer = argc > 4 ? argv[4] : "WS-BENCH-01.velmora.test";
  event.Provider = "Microsoft-Windows-Security-Auditing";
  event.Level = 0;

  std::FILE* out = std::fopen(file, "wb");
  if (out == nullptr) {
    std::perror(file);
    return 1;
  }
  std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
  std::string line;
  uint64_t bytes = 0;
  for (uint64_t i = 0; i < count; ++i) {
    Fill(event, i);
    line.clear();
    zor::AppendOneLine(line, zor::RenderNewEvent(event, i + 1));
    line.push_back('\n');
    if (std::fwrite(line.data(), 1, line.size(), out) != line.size()) {
      std::perror(file);
      return 1;
    }
    bytes += line.size();
  }
  if (std::fclose(out) != 0) {
    std::perror(file);
    return 1;
  }
  std::printf("%llu events, %llu bytes\n", static_cast<unsigned long long>(count),
              static_cast<unsigned long long>(bytes));
  return 0;
}
