#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "collection/EventLogSystem.h"
#include "config/CollectionInterface.h"
#include "delivery/AckBatch.h"

namespace zor {

// One set of events read by a subscriber: the rendered event XML texts in read
// order, the batch's own copy of the reader, and the bookmark XML of the set's
// last record read (excluded or not), so that every batch can be traced to its
// reader and to how far in the channel it reaches.
//
// Ownership: the batch owns its texts and its reader copy. It belongs to the
// subscriber that fills it, then to the processor's inbound queue, then to the
// processing thread that drains it. Used by one thread at a time.
class TProcessingBatch {
 public:
  // Stores a copy of AInterface (a reference: a batch always has a reader)
  // and an empty event list.
  explicit TProcessingBatch(const TCollectionInterface& AInterface)
      : FInterface(std::make_unique<TCollectionInterface>(AInterface)) {}
  TProcessingBatch(const TProcessingBatch&) = delete;
  TProcessingBatch& operator=(const TProcessingBatch&) = delete;

  // Changed in place by the subscriber while it fills the batch.
  [[nodiscard]] std::vector<std::string>& EventList() { return FEventList; }
  [[nodiscard]] const std::vector<std::string>& EventList() const { return FEventList; }
  [[nodiscard]] const TCollectionInterface& CollectionInterface() const { return *FInterface; }

  // Appends one event's text, with the System values read from that same
  // text on its way here (null: none; the processor parses the text).
  void AddEvent(std::string&& AXml, std::shared_ptr<const TEventLogSystem> ASystem) {
    if (ASystem) {
      FSystems.resize(FEventList.size());
      FSystems.push_back(std::move(ASystem));
    }
    FEventList.push_back(std::move(AXml));
  }
  // The System values that came with event AIndex of EventList, or null.
  [[nodiscard]] const TEventLogSystem* ParsedSystem(size_t AIndex) const {
    return AIndex < FSystems.size() ? FSystems[AIndex].get() : nullptr;
  }
  // Whether the processor reads only the System values of AReader's events:
  // syslog messages alone, which carry the XML rather than the rendered message.
  [[nodiscard]] static bool ReadsSystemAlone(const TCollectionInterface& AReader) {
    return AReader.BeatReceivers().Count() == 0 && !AReader.Parse();
  }

  // The bookmark XML (as the Event Log API renders it) after the last record
  // of the set; empty when the producer did not set one.
  [[nodiscard]] const std::string& LastRecordBookmark() const { return FLastRecordBookmark; }
  void SetLastRecordBookmark(const std::string& AValue) { FLastRecordBookmark = AValue; }

  // The batch's place in its reader's acknowledgement window (null: not
  // tracked). Every message and document made from the batch carries it, and
  // whoever makes them releases the batch's hold once they are handed on.
  [[nodiscard]] const std::shared_ptr<TAckBatch>& AckBatch() const { return FAckBatch; }
  void SetAckBatch(std::shared_ptr<TAckBatch> AValue) { FAckBatch = std::move(AValue); }

 private:
  std::vector<std::string> FEventList;
  std::vector<std::shared_ptr<const TEventLogSystem>> FSystems;  // by index into FEventList; may be shorter
  const std::unique_ptr<TCollectionInterface> FInterface;
  std::string FLastRecordBookmark;
  std::shared_ptr<TAckBatch> FAckBatch;
};

}  // namespace zor
