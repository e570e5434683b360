#pragma once

#include <string>
#include <vector>

namespace zor {

// Installing and removing the service: a systemd unit file.
//
// The unit folder is $ZOR_SYSTEMD_UNIT_DIR when set, else
// /etc/systemd/system. Writing goes through a temporary file and a rename, so
// a unit is never half-written.
struct TSystemdUnit {
  std::string Name;         // the unit's base name, without ".service"
  std::string Description;  // the unit's Description
  std::string DisplayName;  // shown in a comment at the top
  std::vector<std::string> Command;  // ExecStart: the program and its arguments
};

// The folder units are written to.
[[nodiscard]] std::string SystemdUnitDir();

// The unit file's text.
[[nodiscard]] std::string RenderSystemdUnit(const TSystemdUnit& AUnit);

// Writes (or replaces) the unit file; returns its path. Throws EPlatformError.
std::string InstallSystemdUnit(const TSystemdUnit& AUnit);

// Removes the unit file; returns its path. Throws EPlatformError, also when
// no such unit is installed.
std::string UninstallSystemdUnit(const std::string& AName);

}  // namespace zor
