#include "config/CollectionInterface.h"

namespace zor {

const TJSONKeyTable<TCollectionInterface>& TCollectionInterface::Keys() {
  static const TJSONKeyTable<TCollectionInterface> table = [] {
    using TReader = TCollectionInterface;
    TJSONKeyTable<TReader> t;
    // Blank passwords are left out; the text written is whatever encryption
    // gives, and a stored text that does not decrypt reads as no password.
    JSONConfig::TPasswordRules<TReader> passwordRules;
    passwordRules.EmptyWhenUndecryptable = true;
    t.Integer("id", &TReader::FInterfaceID, -1, -1).Integer("collectorId", &TReader::FCollectorID, -1, -1);
    JSONConfig::AddOrdinal(t, "interfaceType", &TReader::FInterfaceType, TInterfaceType::rtFlow)
        .String("name", &TReader::FName)
        .Integer("batchSize", &TReader::FBatchSize, 0, 0);
    JSONConfig::AddTrueUnlessFalse(t, "startAtBeginning", &TReader::FStartAtBeginning);
    JSONConfig::AddTrueUnlessFalse(t, "enabled", &TReader::FEnabled)
        .String("path", &TReader::FPath)
        .String("winHost", &TReader::FWinHost)
        .String("winAcct", &TReader::FWinAcct);
    JSONConfig::AddPassword(t, "winAcctPassword", &TReader::FWinAcctPassword, passwordRules)
        .String("dbHost", &TReader::FDbHost)
        .String("dbName", &TReader::FDbName)
        .String("dbUser", &TReader::FDbUser);
    JSONConfig::AddPassword(t, "dbPassword", &TReader::FDbPassword, passwordRules)
        .String("listenAddress", &TReader::FListenAddress)
        .Integer("listenPort", &TReader::FListenPort, uint16_t{0}, uint16_t{0})
        .String("selectionDetail", &TReader::FSelectionDetail)
        .Custom(
            "exclusionRegex",
            [](const TReader& AReader) { return JSONConfig::StringListToJSON(AReader.FExclusionRegex); },
            [](TReader& AReader, const TJSONValue& AValue) {
              JSONConfig::StringListFromJSON(AValue, AReader.FExclusionRegex);
            },
            [](TReader& AReader) { AReader.FExclusionRegex.clear(); })
        .Compare([](const TReader& A1, const TReader& A2) { return A1.FExclusionRegex == A2.FExclusionRegex; })
        .Custom(
            "defaultFacility",
            [](const TReader& AReader) { return TJSONValue(SyslogFacilityToStr(AReader.FDefaultFacility)); },
            [](TReader& AReader, const TJSONValue& AValue) {
              AReader.FDefaultFacility = StrToSyslogFacility(Json::Text(AValue));
            },
            [](TReader& AReader) { AReader.FDefaultFacility = TSyslogFacility::sfUserLevel; })
        .Compare([](const TReader& A1, const TReader& A2) { return A1.FDefaultFacility == A2.FDefaultFacility; })
        .Boolean("deriveSeverity", &TReader::FDeriveSeverity)
        .Custom(
            "defaultSeverity",
            [](const TReader& AReader) { return TJSONValue(SyslogSeverityToStr(AReader.FDefaultSeverity)); },
            [](TReader& AReader, const TJSONValue& AValue) {
              AReader.FDefaultSeverity = StrToSyslogSeverity(Json::Text(AValue));
            },
            [](TReader& AReader) { AReader.FDefaultSeverity = TSyslogSeverity::slInformational; })
        .Compare([](const TReader& A1, const TReader& A2) { return A1.FDefaultSeverity == A2.FDefaultSeverity; })
        .Boolean("parse", &TReader::FParse)
        .Boolean("rawLogOnly", &TReader::FRawLogOnly)
        .Boolean("stripNewLines", &TReader::FStripNewLines, true)
        .Custom(
            "syslogReceivers", [](const TReader& AReader) { return std::move(*AReader.FSyslogReceivers.ToJSONArray()); },
            [](TReader& AReader, const TJSONValue& AValue) { AReader.FSyslogReceivers.FromJSONArray(AValue); },
            [](TReader& AReader) { AReader.FSyslogReceivers.Clear(); })
        .Compare([](const TReader& A1, const TReader& A2) {
          return TSyslogReceiverList::AreEqual(A1.FSyslogReceivers, A2.FSyslogReceivers);
        })
        .Custom(
            "beatReceivers", [](const TReader& AReader) { return std::move(*AReader.FBeatReceivers.ToJSONArray()); },
            [](TReader& AReader, const TJSONValue& AValue) { AReader.FBeatReceivers.FromJSONArray(AValue); },
            [](TReader& AReader) { AReader.FBeatReceivers.Clear(); })
        .Compare([](const TReader& A1, const TReader& A2) {
          return TBeatReceiverList::AreEqual(A1.FBeatReceivers, A2.FBeatReceivers);
        });
    return t;
  }();
  return table;
}

TCollectionInterface::TCollectionInterface() { Keys().SetDefaults(*this); }

void TCollectionInterface::FromJSONObject(const TJSONValue& AValue) {
  JSONConfig::RequireObject(AValue);
  FExclusionRegex.clear();
  ReadKeys(AValue);
}

}  // namespace zor
