#pragma once

#include <pugixml.hpp>

#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "collection/EventLogData.h"
#include "collection/EventLogRenderingInfo.h"
#include "collection/EventLogSystem.h"

namespace zor {

class TBaseSysLogMessage;
class TCollectionInterface;
class TWinLogBeat;

// One Windows event as the service understands it: the rendered event XML as
// received, and its three parsed parts (System, EventData, RenderingInfo).
//
// A processing thread keeps one TEventLog per batch and receiver kind and
// resets it from each event's XML, so the parts and the parse buffers are
// reused from event to event. Not thread-safe: one thread at a time. The
// record owns its parts; the messages and documents it builds are new objects
// owned by the caller.
class TEventLog {
 public:
  // The empty record.
  TEventLog() = default;
  // Reset(AXMLString); fails as Reset does.
  explicit TEventLog(const std::string& AXMLString);
  TEventLog(const TEventLog&) = delete;
  TEventLog& operator=(const TEventLog&) = delete;

  // Replaces the record by the parse of AXMLString. An empty or blank text
  // (nothing above the space character) gives the empty record. XML that does
  // not parse fails with EEventLogError and a number that does not convert
  // with EConvertError; the XML text is kept either way, and the parts read
  // before the failure keep what they read.
  void Reset(const std::string& AXMLString);
  // The same, taking AXMLString's text instead of a copy of it.
  void Reset(std::string&& AXMLString);
  // The same from a stream: its remaining text becomes the XML.
  void Reset(std::istream& AXMLStream);
  // Reset(std::move(AXMLString)) for a caller that reads System alone (the
  // syslog message of a reader that does not use rendered messages):
  // System gets what Reset gives it, EventData and RenderingInfo stay
  // empty, and it fails where Reset fails. Cheaper where the XML after
  // System is plain (ClosesEvent in EventXml.h): only the event up to the
  // end of System is parsed, the rest is only checked.
  void ResetSystem(std::string&& AXMLString);
  // ResetSystem(std::move(AXMLString)) for a text whose System values were
  // read on its way here (ReadSystemOf on that same text gave ASystem):
  // the same record, without parsing the text again.
  void ResetSystem(std::string&& AXMLString, const TEventLogSystem& ASystem);

  // Parses AXml whole, as Reset does, for a caller that keeps the text
  // itself and reads the parse (an event query): EventLogXML becomes empty,
  // System is read (EventData and RenderingInfo stay empty). Returns the
  // document element, valid until this record changes again, or a null
  // node when the text is blank or not well formed (nothing read then).
  // ASystemRead: whether System holds what Reset gives it; false when a
  // number in it does not convert (Reset fails there).
  [[nodiscard]] pugi::xml_node ReadSystemOf(std::string_view AXml, bool& ASystemRead);

  // A new syslog message for this event under the reader's rules: IETF when
  // AMessageType is exactly "IETF" and the reader is not raw-log-only, BSD
  // otherwise. Destination host and port are left to the caller.
  [[nodiscard]] std::unique_ptr<TBaseSysLogMessage> GetSyslogMessage(const TCollectionInterface& AInterface,
                                                                      const std::string& AMessageType) const;
  // The same message, but one that carries the XML takes the record's text
  // instead of a copy of it: EventLogXML is empty afterwards (the parsed
  // parts stay). For the last message made from the record.
  [[nodiscard]] std::unique_ptr<TBaseSysLogMessage> TakeSyslogMessage(const TCollectionInterface& AInterface,
                                                                       const std::string& AMessageType);
  // A new beat document for this event (the fixed winlogbeat field mapping).
  // The routing fields are left to the caller.
  [[nodiscard]] std::unique_ptr<TWinLogBeat> GetWinLogBeat() const;
  // Writes the fields of that document into ADocument, which must be empty
  // (new, or emptied with TWinLogBeat::Clear); its routing fields are left
  // as they are.
  void FillWinLogBeat(TWinLogBeat& ADocument) const;

  const std::string& EventLogXML() const { return FEventLogXML; }
  const TEventLogSystem& System() const { return FSystem; }
  const TEventLogData& EventData() const { return FEventData; }
  const TEventLogRenderingInfo& RenderingInfo() const { return FRenderingInfo; }

 private:
  // Reads System alone when AOnlySystem, else every part.
  void Parse(bool AOnlySystem = false);
  // Parses AXml (cut after System where ACutAtSystem allows it and the cut
  // reads as the whole) and reads System alone when AOnlySystem, else every
  // part. Fails as Reset does.
  void ParseText(std::string_view AXml, bool ACutAtSystem, bool AOnlySystem);
  // The System-only parse of AXml up to the end of its first System
  // element; false (nothing read) when that way does not give what the
  // whole parse gives, or cannot tell.
  bool ParseSystemPart(std::string_view AXml);
  // GetSyslogMessage without its text; whether the text is the rendered message.
  [[nodiscard]] std::unique_ptr<TBaseSysLogMessage> NewSyslogMessage(const TCollectionInterface& AInterface,
                                                                      const std::string& AMessageType) const;
  [[nodiscard]] bool UsesRenderedMessage(const TCollectionInterface& AInterface) const;

  std::string FEventLogXML;
  TEventLogSystem FSystem;
  TEventLogData FEventData;
  TEventLogRenderingInfo FRenderingInfo;

  // The DOM is parsed in place from a reused copy of the XML (the original
  // text must stay as received): no allocation for the text per event.
  std::string FParseBuffer;
  pugi::xml_document FDocument;
};

}  // namespace zor
