// Where the companion is installed, as recorded in the registry.
#pragma once

#include <optional>
#include <string>

#include "result_area.h"

namespace hdw::launcher {

struct InstallDirLookup {
  // Set when the lookup failed: the fixed message the call stores.
  std::optional<outcome::FixedMessage> failure;
  std::string install_dir;
};

// Opens HKLM "SOFTWARE\Tavrel\KVT" and reads "InstallDir". Whatever type the
// value has, its bytes up to the first zero byte (or all 1024 of them) are
// taken as the install directory, unexpanded.
InstallDirLookup read_install_dir();

// "<install dir>\KVT.exe d", with the directory used exactly as stored.
std::string default_command_line(const std::string& install_dir);

}  // namespace hdw::launcher
