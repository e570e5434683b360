#include "collection/ProcessingThread.h"

#include <chrono>
#include <exception>
#include <utility>
#include <vector>

#include "beats/RenderedBeat.h"
#include "beats/WinLogBeat.h"
#include "platform/Event.h"
#include "support/Log.h"

namespace zor {

TProcessingThread::TProcessingThread(int32_t AThreadIndex, TProcessingBatchQueue* AInboundQueue,
                                     TSyslogMessageQueue* AOutboundSyslogQueue, TLogBeatQueue* AOutboundBeatQueue,
                                     TBatchSequencer* ASequencer, TProcessingCounters* ACounters)
    : FThreadIndex(AThreadIndex),
      FInboundQueue(AInboundQueue),
      FOutboundSyslogQueue(AOutboundSyslogQueue),
      FOutboundBeatQueue(AOutboundBeatQueue),
      FSequencer(ASequencer),
      FCounters(ACounters) {}

TProcessingThread::~TProcessingThread() {
  // The body uses this object's members: it must end before they go.
  (void)ThreadStop(true, INFINITE);
}

bool TProcessingThread::Execute() {
  for (;;) {
    const uint32_t signalled = WaitForAny({FShouldFinishEvent.get(), FInboundQueue->QueueEvent()}, INFINITE);
    if (signalled == 0) break;
    if (signalled != 1) continue;
    FInboundQueue->QueueEvent()->Reset();
    LogDebug("[ProcessingThread %d] Preparing to process messages", FThreadIndex);
    try {
      ProcessQueuedBatches();
    } catch (const std::exception& e) {
      LogInfo("[ProcessingThread %d] Exception processing messages: %s", FThreadIndex, e.what());
    }
  }
  LogInfo("[ProcessingThread %d] Shutting Down", FThreadIndex);
  return true;
}

void TProcessingThread::ProcessQueuedBatches() {
  uint64_t ticket = 0;
  TProcessingBatchQueue::TItemList batches =
      FSequencer ? FSequencer->Take(*FInboundQueue, ticket) : FInboundQueue->DequeueAll();
  for (std::unique_ptr<TProcessingBatch>& batch : batches) {
    // One batch's failure (say, out of memory) must not take the later
    // batches of this drain with it.
    TBatchOutput output;
    const auto started = std::chrono::steady_clock::now();
    try {
      output = ProcessBatch(*batch);
    } catch (const std::exception& e) {
      LogInfo("[ProcessingThread %d] Exception processing messages: %s", FThreadIndex, e.what());
    }
    const std::shared_ptr<TAckBatch> ackBatch = batch->AckBatch();
    batch.reset();
    if (FCounters) {
      const auto spent = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started);
      FCounters->BatchNanoseconds.fetch_add(static_cast<uint64_t>(spent.count()), std::memory_order_relaxed);
      FCounters->Batches.fetch_add(1, std::memory_order_relaxed);
    }
    // Every item made must be taken before the batch completes; events that
    // gave none (excluded, or failed to parse: logged) are done with now.
    if (ackBatch) ackBatch->Expect(output.ItemCount());
    // The output goes on in queue order; the turn passes on whatever happened.
    if (FSequencer) FSequencer->WaitForTurn(ticket);
    try {
      Deliver(std::move(output));
    } catch (const std::exception& e) {
      LogInfo("[ProcessingThread %d] Exception processing messages: %s", FThreadIndex, e.what());
    }
    if (FSequencer) FSequencer->Done(ticket);
    if (ackBatch) ackBatch->Acknowledge();
    ++ticket;
  }
}

void TProcessingThread::Deliver(TBatchOutput&& AOutput) {
  for (auto& list : AOutput.SyslogLists) FOutboundSyslogQueue->EnqueueBatch(std::move(list));
  for (auto& list : AOutput.BeatLists) FOutboundBeatQueue->EnqueueBatch(std::move(list));
}

TProcessingThread::TBatchOutput TProcessingThread::ProcessBatch(TProcessingBatch& ABatch) {
  const TCollectionInterface& reader = ABatch.CollectionInterface();
  const TSyslogReceiverList& syslogReceivers = reader.SyslogReceivers();
  const TBeatReceiverList& beatReceivers = reader.BeatReceivers();
  TBatchOutput output;
  if (syslogReceivers.Count() == 0 && beatReceivers.Count() == 0) return output;

  // One list per receiver, filled event by event so that each event is
  // parsed once for all of them.
  std::vector<TSyslogMessageQueue::TItemList>& syslogLists = output.SyslogLists;
  std::vector<TLogBeatQueue::TItemList>& beatLists = output.BeatLists;
  syslogLists.resize(static_cast<size_t>(syslogReceivers.Count()));
  beatLists.resize(static_cast<size_t>(beatReceivers.Count()));
  for (auto& list : syslogLists) list.reserve(ABatch.EventList().size());
  for (auto& list : beatLists) list.reserve(ABatch.EventList().size());

  // Syslog messages read only System unless they carry the rendered message.
  const bool onlySystem = TProcessingBatch::ReadsSystemAlone(reader);
  std::vector<std::string>& events = ABatch.EventList();
  for (size_t index = 0; index < events.size(); ++index) {
    try {
      // The record takes the text; the last message made from it takes it on.
      // System values read on the way (by the reader's query) are not read again.
      std::string& event = events[index];
      const TEventLogSystem* const parsed = onlySystem ? ABatch.ParsedSystem(index) : nullptr;
      if (parsed)
        FEventLog.ResetSystem(std::move(event), *parsed);
      else if (onlySystem)
        FEventLog.ResetSystem(std::move(event));
      else
        FEventLog.Reset(std::move(event));
      // Build every item of this event before any list takes one, so that an
      // event either reaches every receiver or none.
      std::vector<std::unique_ptr<TRenderedBeat>> documents;
      documents.reserve(beatLists.size());
      if (!beatLists.empty()) {
        FDocument.Clear();
        FEventLog.FillWinLogBeat(FDocument);
        // The same text for every receiver: written once, copied for the others.
        for (const auto& receiver : beatReceivers) {
          std::unique_ptr<TRenderedBeat> document =
              documents.empty() ? TRenderedBeat::Render(FDocument, FDocumentText) : documents.front()->CopyText();
          document->SetDestinationHost(receiver->Host());
          document->SetDestinationPort(receiver->Port());
          document->SetLogDate(FDocument.TimeStamp());
          documents.push_back(std::move(document));
        }
      }
      std::vector<std::unique_ptr<TBaseSysLogMessage>> messages;
      messages.reserve(syslogLists.size());
      for (const auto& receiver : syslogReceivers) {
        const bool last = messages.size() + 1 == syslogLists.size();
        const std::string messageType = receiver->SyslogVersion() != 0 ? "IETF" : "BSD";
        std::unique_ptr<TBaseSysLogMessage> message =
            last ? FEventLog.TakeSyslogMessage(reader, messageType) : FEventLog.GetSyslogMessage(reader, messageType);
        message->SetDestinationHost(receiver->Host());
        message->SetDestinationPort(receiver->Port());
        messages.push_back(std::move(message));
      }
      if (const std::shared_ptr<TAckBatch>& ackBatch = ABatch.AckBatch()) {
        for (auto& message : messages) message->Receipt().Attach(ackBatch);
        for (auto& document : documents) document->Receipt().Attach(ackBatch);
      }
      for (size_t i = 0; i < messages.size(); ++i) syslogLists[i].push_back(std::move(messages[i]));
      for (size_t i = 0; i < documents.size(); ++i) beatLists[i].push_back(std::move(documents[i]));
    } catch (const std::exception& e) {
      LogError("[ProcessingThread %d] Exception processing EvtLog Message: %s", FThreadIndex, e.what());
      LogDebug("[ProcessingThread %d] Evt: %s", FThreadIndex, FEventLog.EventLogXML().c_str());
    }
  }

  return output;
}

}  // namespace zor
