#include "collection/ChannelWatcher.h"

#include <algorithm>
#include <cctype>

#include "platform/File.h"

namespace zor {

namespace {

std::string Lower(std::string AText) {
  std::transform(AText.begin(), AText.end(), AText.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return AText;
}

}  // namespace

TChannelWatcher::TChannelWatcher(TChannelStore AStore, std::vector<std::string> AChannels,
                                 std::function<void()> AOnChange, TOptions AOptions)
    : FStore(std::move(AStore)), FOnChange(std::move(AOnChange)), FOptions(AOptions), FWatch(AOptions.UseInotify) {
  for (std::string& channel : AChannels) {
    TTarget target;
    if (!channel.empty() && channel.front() == '/') {
      const std::filesystem::path file(channel);
      target.Directory = file.parent_path().string();
      target.Name = Lower(file.filename().string());
    } else {
      target.Directory = FStore.Root().string();
      target.Stem = Lower(TChannelStore::FileStem(channel));
    }
    if (std::none_of(FDirectories.begin(), FDirectories.end(),
                     [&](const TDirectory& d) { return d.Path == target.Directory; }))
      FDirectories.push_back({target.Directory, -1});
    target.Channel = std::move(channel);
    FTargets.push_back(std::move(target));
  }
  AddWatches();
  (void)CompareSignatures();
  FThread = std::thread([this] { Run(); });
}

TChannelWatcher::~TChannelWatcher() {
  FWatch.Stop();
  FThread.join();
}

void TChannelWatcher::AddWatches() {
  bool all = true;
  for (TDirectory& directory : FDirectories) {
    if (directory.Watch < 0) directory.Watch = FWatch.Add(directory.Path);
    all = all && directory.Watch >= 0;
  }
  FAllWatched.store(all);
}

bool TChannelWatcher::NameMatches(const std::string& ADirectory, const std::string& AName) const {
  const std::string name = Lower(AName);
  for (const TTarget& target : FTargets) {
    if (target.Directory != ADirectory) continue;
    if (!target.Name.empty() ? name == target.Name : (name == target.Stem + ".evtx" || name == target.Stem + ".xml"))
      return true;
  }
  return false;
}

bool TChannelWatcher::CompareSignatures() {
  bool changed = false;
  for (TTarget& target : FTargets) {
    std::string signature;
    try {
      const TChannelStore::TLocation location = FStore.Locate(target.Channel);
      const std::optional<TFileIdentity> info =
          location.Exists ? TFile::IdentityOf(location.File.string()) : std::nullopt;
      if (info)
        signature = location.File.string() + '|' + std::to_string(info->Device) + '|' + std::to_string(info->Inode) +
                    '|' + std::to_string(info->Size) + '|' + std::to_string(info->ModifiedSeconds) + '.' +
                    std::to_string(info->ModifiedNanoseconds);
    } catch (const EZorError&) {
      // A name the store rejects never gets a file: nothing to compare.
    }
    if (signature != target.Signature) {
      target.Signature = std::move(signature);
      changed = true;
    }
  }
  return changed;
}

void TChannelWatcher::HandleNotices() {
  bool changed = false;
  FWatch.ReadNotices([&](const TDirectoryWatch::TNotice& ANotice) {
    if (ANotice.Overflow) {
      changed = true;
      return;
    }
    const auto directory = std::find_if(FDirectories.begin(), FDirectories.end(),
                                        [&](const TDirectory& d) { return d.Watch == ANotice.Watch; });
    if (directory == FDirectories.end()) return;
    if (ANotice.FolderGone) {
      // The folder went away: poll until it is back, then watch it again.
      directory->Watch = -1;
      FAllWatched.store(false);
      changed = true;
      return;
    }
    if (!ANotice.Name.empty() && NameMatches(directory->Path, ANotice.Name)) changed = true;
  });
  if (changed) FOnChange();
}

void TChannelWatcher::Run() {
  while (true) {
    const auto interval = FAllWatched.load() ? FOptions.SafetyInterval : FOptions.PollInterval;
    switch (FWatch.Wait(interval)) {
      case TDirectoryWatch::TWaitResult::wrStop: return;
      case TDirectoryWatch::TWaitResult::wrNotices: HandleNotices(); continue;
      case TDirectoryWatch::TWaitResult::wrTimeout: break;
    }
    const bool wasWatched = FAllWatched.load();
    AddWatches();
    const bool newlyWatched = !wasWatched && FAllWatched.load();
    if (CompareSignatures() || newlyWatched) FOnChange();
  }
}

}  // namespace zor
