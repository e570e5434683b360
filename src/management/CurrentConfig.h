#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/Collector.h"
#include "platform/ControlWindow.h"
#include "platform/CriticalSection.h"

namespace zor {

// What became of a requested change of the configuration.
struct TConfigChange {
  enum class TOutcome : uint8_t {
    coApplied = 0,    // saved, made current, WM_RECONFIGURE posted
    coUnchanged = 1,  // nothing that the file keeps would change: nothing done
    coRejected = 2,   // Problems says why; nothing done
  };
  TOutcome Outcome = TOutcome::coUnchanged;
  // One text per problem, each starting with the key path (as check-config).
  std::vector<std::string> Problems;
};

// The one owner of the service's current configuration.
//
// Readers take an immutable snapshot (Snapshot) and keep it as long as they
// like: a change never alters a collector that someone may be reading, it
// makes a new one current. Every change runs the same path under one lock,
// so changes never interleave and none is lost:
//   copy the current configuration, apply the change to the copy, check the
//   result with the rules of check-config (TConfigValidator), save it, make
//   it current, and post WM_RECONFIGURE so the service thread restarts the
//   pipeline from the saved file.
// A change that fails the check, or whose save fails, changes nothing.
//
// Users: the manager (loads the file at start-up and reconfiguration, and
// takes a snapshot for each start-up), the management endpoint (PUT, POST,
// DELETE) and the configuration-server client (Adopt).
//
// Threads: every method may be called from any thread. Changes hold
// FChangeLock for their whole run (including the file write); Snapshot
// holds FSnapshotLock only to copy one pointer.
//
// Ownership: the control window is borrowed (null: nothing is posted) and
// must outlive every change; snapshots share ownership of their collector
// with this object (shared_ptr: a snapshot outlives its replacement for as
// long as a reader holds it).
class TCurrentConfig {
 public:
  // AFileName: the file that changes are saved to and loads read.
  TCurrentConfig(std::string AFileName, TControlWindow* AControlWindow);
  // Where WM_RECONFIGURE goes from now on (null: nowhere); for an owner that
  // creates its window after loading the configuration.
  void SetControlWindow(TControlWindow* AControlWindow) { FControlWindow.store(AControlWindow); }
  TCurrentConfig(const TCurrentConfig&) = delete;
  TCurrentConfig& operator=(const TCurrentConfig&) = delete;

  // The current configuration; never null (defaults before any load).
  [[nodiscard]] std::shared_ptr<const TCollector> Snapshot() const EXCLUDES(FSnapshotLock);
  [[nodiscard]] const std::string& FileName() const { return FFileName; }

  // Reads the file and makes the result current; returns it. AFresh: a new
  // collector at its defaults is loaded, and a missing file is an error (a
  // reconfiguration); otherwise the file, when it exists, is applied on top
  // of a copy of the current configuration (start-up). Raises what
  // TCollector::LoadFromJson raises; the current configuration then stays.
  std::shared_ptr<const TCollector> Load(bool AFresh) EXCLUDES(FChangeLock);

  // PUT of the configuration: ABody, a JSON object, applied to a copy of the
  // current configuration (keys present replace, keys absent stay, a present
  // "interfaces" replaces every reader). Always saved and posted when it
  // passes the check, even when it changes nothing. Text that is not JSON or
  // not an object raises EJSONError or EConfigError and changes nothing.
  TConfigChange ApplyJson(std::string_view ABody) EXCLUDES(FChangeLock);

  // DELETE of a reader: the first reader whose name equals AName without
  // regard to letter case goes and the result is saved. WM_RECONFIGURE is
  // posted whether or not one was found. coUnchanged when none matched.
  TConfigChange RemoveReader(const std::string& AName) EXCLUDES(FChangeLock);

  // A configuration received from the configuration server. The local
  // configuration-server settings ("useConfigServer", "configServer",
  // "configServerUserName", "configServerPassword" and the server's
  // certificate check) are kept. Compared by
  // what the file would hold, so keys the file does not keep cause no
  // restart: coUnchanged when TCollector::HasChanged finds no difference.
  TConfigChange Adopt(const TCollector& AReceived) EXCLUDES(FChangeLock);

  // Asks the service thread to restart the pipeline from the saved file.
  void RequestReconfigure();

 private:
  // Saves ACandidate, makes it current and posts WM_RECONFIGURE.
  void Commit(std::unique_ptr<TCollector>&& ACandidate) REQUIRES(FChangeLock);
  void MakeCurrent(std::unique_ptr<TCollector>&& ACollector) EXCLUDES(FSnapshotLock);

  const std::string FFileName;
  std::atomic<TControlWindow*> FControlWindow;
  TCriticalSection FChangeLock;
  mutable TCriticalSection FSnapshotLock;
  std::shared_ptr<const TCollector> FCurrent GUARDED_BY(FSnapshotLock);
};

}  // namespace zor
