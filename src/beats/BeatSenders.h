#pragma once

#include <memory>
#include <string>

#include "beats/BeatSender.h"
#include "beats/LogBeat.h"
#include "core/SignalledQueue.h"
#include "delivery/ReceiptListener.h"
#include "delivery/SenderRegistry.h"

namespace zor {

// The registry of beat senders and the dispatcher that feeds them from the
// processor's outbound beat queue: TSenderRegistry with the beat names. See
// TSenderRegistry for life, ownership and threads. The registry owns its
// senders.
class TBeatSenders : public TSenderRegistry<TBeatSender, TLogBeat> {
 public:
  explicit TBeatSenders(TSignalledQueue<TLogBeat>* AQueue)
      : TSenderRegistry(AQueue, TSenderRegistryNames{"BeatSenders", "documents", "Beat Sender", "beat sender"}) {
    // A document the endpoint took (2xx) or refused for good is acknowledged
    // to the reader batch it came from.
    SetListener(std::make_unique<TReceiptListener<TLogBeat>>());
  }

  // Hands ADocument to the sender registered as AKey and returns true; logs
  // "Could not find sender %s" and returns false, leaving ADocument with the
  // caller, when there is none.
  bool SendBeat(std::unique_ptr<TLogBeat>& ADocument, const std::string& AKey) { return SendItem(ADocument, AKey); }
};

}  // namespace zor
