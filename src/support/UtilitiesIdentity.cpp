// Identity operations of TUtilities: the account and machine the process runs
// on, folders, file times, security identifiers, reverse name lookup and the
// per-form settings file.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/File.h"
#include "platform/HostIdentity.h"
#include "platform/ProcessFigures.h"
#include "platform/ServicePaths.h"
#include "support/Utilities.h"

namespace zor {

namespace {

// Well-known security identifiers with the account names Windows gives them.
// Identifiers relative to a domain or a machine (S-1-5-21-...) cannot be
// resolved here and stay unresolved.
struct TWellKnownSid {
  const char* Sid;
  const char* Domain;
  const char* Name;
};

constexpr TWellKnownSid WellKnownSids[] = {
    {"S-1-0-0", "", "NULL SID"},
    {"S-1-1-0", "", "Everyone"},
    {"S-1-2-0", "", "LOCAL"},
    {"S-1-2-1", "", "CONSOLE LOGON"},
    {"S-1-3-0", "", "CREATOR OWNER"},
    {"S-1-3-1", "", "CREATOR GROUP"},
    {"S-1-3-2", "", "CREATOR OWNER SERVER"},
    {"S-1-3-3", "", "CREATOR GROUP SERVER"},
    {"S-1-3-4", "", "OWNER RIGHTS"},
    {"S-1-5-1", "NT AUTHORITY", "DIALUP"},
    {"S-1-5-2", "NT AUTHORITY", "NETWORK"},
    {"S-1-5-3", "NT AUTHORITY", "BATCH"},
    {"S-1-5-4", "NT AUTHORITY", "INTERACTIVE"},
    {"S-1-5-6", "NT AUTHORITY", "SERVICE"},
    {"S-1-5-7", "NT AUTHORITY", "ANONYMOUS LOGON"},
    {"S-1-5-8", "NT AUTHORITY", "PROXY"},
    {"S-1-5-9", "NT AUTHORITY", "ENTERPRISE DOMAIN CONTROLLERS"},
    {"S-1-5-10", "NT AUTHORITY", "SELF"},
    {"S-1-5-11", "NT AUTHORITY", "Authenticated Users"},
    {"S-1-5-12", "NT AUTHORITY", "RESTRICTED"},
    {"S-1-5-13", "NT AUTHORITY", "TERMINAL SERVER USER"},
    {"S-1-5-14", "NT AUTHORITY", "REMOTE INTERACTIVE LOGON"},
    {"S-1-5-15", "NT AUTHORITY", "This Organization"},
    {"S-1-5-17", "NT AUTHORITY", "IUSR"},
    {"S-1-5-18", "NT AUTHORITY", "SYSTEM"},
    {"S-1-5-19", "NT AUTHORITY", "LOCAL SERVICE"},
    {"S-1-5-20", "NT AUTHORITY", "NETWORK SERVICE"},
    {"S-1-5-32-544", "BUILTIN", "Administrators"},
    {"S-1-5-32-545", "BUILTIN", "Users"},
    {"S-1-5-32-546", "BUILTIN", "Guests"},
    {"S-1-5-32-547", "BUILTIN", "Power Users"},
    {"S-1-5-32-548", "BUILTIN", "Account Operators"},
    {"S-1-5-32-549", "BUILTIN", "Server Operators"},
    {"S-1-5-32-550", "BUILTIN", "Print Operators"},
    {"S-1-5-32-551", "BUILTIN", "Backup Operators"},
    {"S-1-5-32-552", "BUILTIN", "Replicator"},
    {"S-1-5-32-554", "BUILTIN", "Pre-Windows 2000 Compatible Access"},
    {"S-1-5-32-555", "BUILTIN", "Remote Desktop Users"},
    {"S-1-5-32-556", "BUILTIN", "Network Configuration Operators"},
    {"S-1-5-32-558", "BUILTIN", "Performance Monitor Users"},
    {"S-1-5-32-559", "BUILTIN", "Performance Log Users"},
    {"S-1-5-32-560", "BUILTIN", "Windows Authorization Access Group"},
    {"S-1-5-32-561", "BUILTIN", "Terminal Server License Servers"},
    {"S-1-5-32-562", "BUILTIN", "Distributed COM Users"},
    {"S-1-5-32-568", "BUILTIN", "IIS_IUSRS"},
    {"S-1-5-32-569", "BUILTIN", "Cryptographic Operators"},
    {"S-1-5-32-573", "BUILTIN", "Event Log Readers"},
    {"S-1-5-32-574", "BUILTIN", "Certificate Service DCOM Access"},
    {"S-1-5-32-575", "BUILTIN", "RDS Remote Access Servers"},
    {"S-1-5-32-576", "BUILTIN", "RDS Endpoint Servers"},
    {"S-1-5-32-577", "BUILTIN", "RDS Management Servers"},
    {"S-1-5-32-578", "BUILTIN", "Hyper-V Administrators"},
    {"S-1-5-32-579", "BUILTIN", "Access Control Assistance Operators"},
    {"S-1-5-32-580", "BUILTIN", "Remote Management Users"},
    {"S-1-5-33", "NT AUTHORITY", "WRITE RESTRICTED"},
    {"S-1-5-64-10", "NT AUTHORITY", "NTLM Authentication"},
    {"S-1-5-64-14", "NT AUTHORITY", "SChannel Authentication"},
    {"S-1-5-64-21", "NT AUTHORITY", "Digest Authentication"},
    {"S-1-5-80-0", "NT SERVICE", "ALL SERVICES"},
    {"S-1-5-83-0", "NT VIRTUAL MACHINE", "Virtual Machines"},
    {"S-1-5-113", "NT AUTHORITY", "Local account"},
    {"S-1-5-114", "NT AUTHORITY", "Local account and member of Administrators group"},
    {"S-1-5-1000", "NT AUTHORITY", "Other Organization"},
    {"S-1-15-2-1", "APPLICATION PACKAGE AUTHORITY", "ALL APPLICATION PACKAGES"},
    {"S-1-15-2-2", "APPLICATION PACKAGE AUTHORITY", "ALL RESTRICTED APPLICATION PACKAGES"},
    {"S-1-16-0", "Mandatory Label", "Untrusted Mandatory Level"},
    {"S-1-16-4096", "Mandatory Label", "Low Mandatory Level"},
    {"S-1-16-8192", "Mandatory Label", "Medium Mandatory Level"},
    {"S-1-16-8448", "Mandatory Label", "Medium Plus Mandatory Level"},
    {"S-1-16-12288", "Mandatory Label", "High Mandatory Level"},
    {"S-1-16-16384", "Mandatory Label", "System Mandatory Level"},
    {"S-1-16-20480", "Mandatory Label", "Protected Process Mandatory Level"},
    {"S-1-18-1", "", "Authentication authority asserted identity"},
    {"S-1-18-2", "", "Service asserted identity"},
};

// The most sub-authorities a security identifier may have.
constexpr size_t MaxSubAuthorities = 15;

std::string Environment(const char* AName) {
  const char* value = std::getenv(AName);
  return value != nullptr ? std::string(value) : std::string();
}

std::string StripTrailingSlash(std::string AValue) {
  while (AValue.size() > 1 && AValue.back() == '/') AValue.pop_back();
  return AValue;
}

std::string HomeDir() {
  std::string home = Environment("HOME");
  if (!home.empty()) return StripTrailingSlash(home);
  if (const std::optional<std::string> fromAccount = THostIdentity::UserHome()) return StripTrailingSlash(*fromAccount);
  return "/";
}

// Set at start by the service; read by any thread afterwards.
std::string& CommonAppDataOverride() {
  static std::string value;
  return value;
}

// Local date-time of a file time, at the two-second resolution of DOS times.
TDateTime DosLocalTime(time_t ASeconds) {
  struct tm local {};
  if (localtime_r(&ASeconds, &local) == nullptr) return -1.0;
  TDateTime result = -1.0;
  if (!TUtilities::TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                     local.tm_min, local.tm_sec & ~1, 0, result))
    return -1.0;
  return result;
}

// The per-form settings file; one lock for every thread of the process.
std::mutex FormKeysLock;

std::filesystem::path FormKeysFile() {
  return std::filesystem::path(TUtilities::AppDataDir()) / "Velmora" / "EvtLogSvc" / "FormKeys.json";
}

nlohmann::json ReadFormKeys() {
  std::ifstream in(FormKeysFile());
  if (!in) return nlohmann::json::object();
  nlohmann::json document = nlohmann::json::parse(in, nullptr, false);
  return document.is_object() ? document : nlohmann::json::object();
}

const nlohmann::json* FindFormKey(const nlohmann::json& ADocument, const std::string& AFormName,
                                  const std::string& AValueName) {
  const auto form = ADocument.find(AFormName);
  if (form == ADocument.end() || !form->is_object()) return nullptr;
  const auto value = form->find(AValueName);
  return value == form->end() ? nullptr : &*value;
}

bool WriteFormKey(const std::string& AFormName, const std::string& AValueName, nlohmann::json AValue) {
  std::lock_guard<std::mutex> guard(FormKeysLock);
  std::error_code error;
  const std::filesystem::path file = FormKeysFile();
  std::filesystem::create_directories(file.parent_path(), error);
  nlohmann::json document = ReadFormKeys();
  if (!document[AFormName].is_object()) document[AFormName] = nlohmann::json::object();
  document[AFormName][AValueName] = std::move(AValue);
  // Write beside and rename, so a reader never sees half a file.
  const std::filesystem::path temporary = file.string() + ".tmp";
  try {
    std::ofstream out(temporary, std::ios::trunc);
    out << document.dump(2);
    if (!out.flush()) return false;
  } catch (const nlohmann::json::exception&) {
    return false;  // a text that is not UTF-8
  }
  std::filesystem::rename(temporary, file, error);
  return !error;
}

}  // namespace

std::string TUtilities::GetLoggedInUserName() {
  int error = 0;
  const std::optional<std::string> name = THostIdentity::UserName(error);
  if (name) return *name;
  if (error != 0) throw EOSError(Format("User lookup failed with error code %d: %s", error, std::strerror(error)));
  throw EOSError(Format("User id %u has no account name", static_cast<unsigned>(THostIdentity::UserId())));
}

std::string TUtilities::GetLoggedInDomain() {
  // Local accounts belong to the machine, as a workstation's accounts belong
  // to the computer's own domain.
  (void)GetLoggedInUserName();
  int error = 0;
  const std::optional<std::string> host = THostIdentity::HostName(error);
  const std::string machine = host ? host->substr(0, host->find('.')) : std::string();
  if (machine.empty())
    throw EOSError(Format("gethostname failed with error code %d: %s", error, std::strerror(error)));
  return machine;
}

std::string TUtilities::GetLocalMachineName() {
  int error = 0;
  const std::string host = THostIdentity::HostName(error).value_or(std::string());
  return host.substr(0, host.find('.'));
}

std::string TUtilities::GetFQDN() {
  int error = 0;
  const std::optional<std::string> host = THostIdentity::HostName(error);
  if (!host) throw EOSError(Format("GetComputerNameEx failed with error code %d: %s", error, std::strerror(error)));
  if (host->find('.') != std::string::npos) return *host;
  const std::optional<std::string> canonical = THostIdentity::CanonicalName(*host);
  return canonical && canonical->find('.') != std::string::npos ? *canonical : *host;
}

std::string TUtilities::ProgramFileName() { return ServicePaths().ProgramFile; }

bool TUtilities::GetVersionInfo(const std::string& AFileName, int32_t& AMajor, int32_t& AMinor, int32_t& ARelease,
                                int32_t& ABuild) {
  AMajor = AMinor = ARelease = ABuild = 0;
  // Only this program carries a version: it is compiled in.
  const std::optional<TFileIdentity> file = TFile::IdentityOf(AFileName);
  const std::optional<TFileIdentity> self = TFile::IdentityOf("/proc/self/exe");
  if (!file || !self || !file->SameFile(*self)) return false;
  AMajor = ZOR_VERSION_MAJOR;
  AMinor = ZOR_VERSION_MINOR;
  ARelease = ZOR_VERSION_PATCH;
  ABuild = 0;
  return true;
}

std::string TUtilities::CommonAppDataDir() {
  return CommonAppDataOverride().empty() ? ServicePaths().CommonAppDataDir : CommonAppDataOverride();
}

void TUtilities::SetCommonAppDataDir(const std::string& AValue) {
  CommonAppDataOverride() = StripTrailingSlash(AValue);
}

std::string TUtilities::MyDocumentsDir() { return HomeDir(); }

std::string TUtilities::AppDataDir() {
  const std::string configHome = Environment("XDG_CONFIG_HOME");
  return !configHome.empty() ? StripTrailingSlash(configHome) : HomeDir() + "/.config";
}

std::string TUtilities::AppDataDirNonRoaming() {
  const std::string dataHome = Environment("XDG_DATA_HOME");
  return !dataHome.empty() ? StripTrailingSlash(dataHome) : HomeDir() + "/.local/share";
}

int64_t TUtilities::GetFileSize(const std::string& AFileName) {
  const std::optional<TFileIdentity> file = TFile::IdentityOf(AFileName);
  return file ? static_cast<int64_t>(file->Size) : -1;
}

TDateTime TUtilities::GetFileCreationTime(const std::string& AFileName) {
  // File systems that keep no birth time give the last write.
  const std::optional<int64_t> created = TFile::CreationTimeOf(AFileName);
  return created ? DosLocalTime(static_cast<time_t>(*created)) : -1.0;
}

TDateTime TUtilities::GetFileLastWriteTime(const std::string& AFileName) {
  const std::optional<TFileIdentity> file = TFile::IdentityOf(AFileName);
  return file ? DosLocalTime(static_cast<time_t>(file->ModifiedSeconds)) : -1.0;
}

std::string TUtilities::GetMachineGUID() {
  std::ifstream in("/etc/machine-id");
  std::string id;
  if (!(in >> id) || id.size() != 32) return std::string();
  for (char c : id)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::string();
  return id.substr(0, 8) + "-" + id.substr(8, 4) + "-" + id.substr(12, 4) + "-" + id.substr(16, 4) + "-" +
         id.substr(20, 12);
}

std::string TUtilities::SIDToStr(std::span<const uint8_t> ASid) {
  if (ASid.size() < 8 || ASid[0] != 1 || ASid[1] > MaxSubAuthorities || ASid.size() < 8u + 4u * ASid[1])
    throw EInvalidSID("Invalid Security ID Exception");
  std::string result = "S-1-";
  const uint8_t* authority = ASid.data() + 2;
  if (authority[0] != 0 || authority[1] != 0) {
    result += Format("0x%02X%02X%02X%02X%02X%02X", authority[0], authority[1], authority[2], authority[3],
                     authority[4], authority[5]);
  } else {
    const uint32_t value = (uint32_t{authority[2]} << 24) | (uint32_t{authority[3]} << 16) |
                           (uint32_t{authority[4]} << 8) | authority[5];
    result += Format("%u", value);
  }
  for (size_t i = 0; i < ASid[1]; ++i) {
    const uint8_t* p = ASid.data() + 8 + 4 * i;
    const uint32_t sub = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
    result += Format("-%u", sub);
  }
  return result;
}

bool TUtilities::StrToSID(const std::string& AValue, std::vector<uint8_t>& ASid) {
  if (AValue.size() < 4 || (AValue[0] != 'S' && AValue[0] != 's') || AValue[1] != '-') return false;
  std::vector<uint64_t> numbers;
  size_t pos = 2;
  while (true) {
    size_t end = pos;
    uint64_t value = 0;
    const bool hex = end + 1 < AValue.size() && AValue[end] == '0' && (AValue[end + 1] == 'x' || AValue[end + 1] == 'X');
    if (hex) end += 2;
    const size_t first = end;
    for (; end < AValue.size() && AValue[end] != '-'; ++end) {
      const char c = AValue[end];
      unsigned digit = 0;
      if (c >= '0' && c <= '9')
        digit = static_cast<unsigned>(c - '0');
      else if (hex && std::isxdigit(static_cast<unsigned char>(c)))
        digit = static_cast<unsigned>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
      else
        return false;
      value = value * (hex ? 16 : 10) + digit;
      if (value > 0xFFFFFFFFFFFFull) return false;
    }
    if (end == first) return false;
    numbers.push_back(value);
    if (end == AValue.size()) break;
    pos = end + 1;
  }
  // Revision, authority, then the sub-authorities.
  if (numbers.size() < 2 || numbers[0] != 1 || numbers.size() - 2 > MaxSubAuthorities) return false;
  ASid.assign(8, 0);
  ASid[0] = 1;
  ASid[1] = static_cast<uint8_t>(numbers.size() - 2);
  for (int i = 0; i < 6; ++i) ASid[2 + i] = static_cast<uint8_t>(numbers[1] >> (8 * (5 - i)));
  for (size_t i = 2; i < numbers.size(); ++i) {
    if (numbers[i] > 0xFFFFFFFFu) return false;
    for (int k = 0; k < 4; ++k) ASid.push_back(static_cast<uint8_t>(numbers[i] >> (8 * k)));
  }
  return true;
}

bool TUtilities::LookupAccountBySid(const std::string& ASid, TAccountName& AAccount) {
  // Compare canonical texts, so "s-1-5-0x12" finds S-1-5-18 as Windows would.
  std::vector<uint8_t> binary;
  if (!StrToSID(ASid, binary)) return false;
  const std::string canonical = SIDToStr(binary);
  for (const TWellKnownSid& known : WellKnownSids) {
    if (canonical == known.Sid) {
      AAccount.Name = known.Name;
      AAccount.Domain = known.Domain;
      return true;
    }
  }
  return false;
}

std::string TUtilities::GetSID(std::string& AUserName, std::string& ADomainName) {
  AUserName = GetLoggedInUserName();
  ADomainName = GetLoggedInDomain();
  return Format("S-1-22-1-%u", static_cast<unsigned>(THostIdentity::UserId()));
}

std::string TUtilities::GetFullyQualifiedDomainName(const std::string& AIPAddress) {
  int error = 0;
  const std::optional<std::string> name = THostIdentity::NameOfAddress(AIPAddress, error);
  if (!name)
    throw EOSError(
        Format("getnameinfo returned erro code %d: %s.", error, THostIdentity::LookupErrorText(error).c_str()));
  return *name;
}

std::string TUtilities::GetFormKey(const std::string& AFormName, const std::string& AValueName) {
  std::lock_guard<std::mutex> guard(FormKeysLock);
  const nlohmann::json document = ReadFormKeys();
  const nlohmann::json* value = FindFormKey(document, AFormName, AValueName);
  return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

int32_t TUtilities::GetIntegerFormKey(const std::string& AFormName, const std::string& AValueName) {
  std::lock_guard<std::mutex> guard(FormKeysLock);
  const nlohmann::json document = ReadFormKeys();
  const nlohmann::json* value = FindFormKey(document, AFormName, AValueName);
  if (value == nullptr || !value->is_number_integer()) return 0;
  const int64_t number = value->get<int64_t>();
  return number >= INT32_MIN && number <= INT32_MAX ? static_cast<int32_t>(number) : 0;
}

bool TUtilities::SetFormKey(const std::string& AFormName, const std::string& AValueName, const std::string& AValue) {
  return WriteFormKey(AFormName, AValueName, AValue);
}

bool TUtilities::SetIntegerFormKey(const std::string& AFormName, const std::string& AValueName, int32_t AValue) {
  return WriteFormKey(AFormName, AValueName, AValue);
}

uint32_t TUtilities::MemoryUsed() {
  return static_cast<uint32_t>(TProcessFigures::HeapBytesInUse());
}

}  // namespace zor
