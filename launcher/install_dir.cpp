#include "install_dir.h"

#include <windows.h>

#include <array>
#include <cstring>

#include "unique_handle.h"

namespace hdw::launcher {

namespace {

constexpr char kCompanionKey[] = "SOFTWARE\\Tavrel\\KVT";
constexpr char kInstallDirValue[] = "InstallDir";
constexpr char kCompanionInvocation[] = "\\KVT.exe d";
constexpr DWORD kInstallDirBufferSize = 1024;

}  // namespace

InstallDirLookup read_install_dir() {
  unique_hkey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCompanionKey, 0, KEY_ALL_ACCESS,
                      key.put()) != ERROR_SUCCESS) {
    return {outcome::FixedMessage::RegistryKey, {}};
  }

  std::array<char, kInstallDirBufferSize> buffer{};
  DWORD type = REG_SZ;
  DWORD size = kInstallDirBufferSize;
  if (::RegQueryValueExA(key.get(), kInstallDirValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS) {
    return {outcome::FixedMessage::RegistryValue, {}};
  }

  // A value that fills the whole buffer has no terminator inside it: stop at
  // the buffer's end.
  const std::size_t length = ::strnlen(buffer.data(), buffer.size());
  return {std::nullopt, std::string(buffer.data(), length)};
}

std::string default_command_line(const std::string& install_dir) {
  return install_dir + kCompanionInvocation;
}

}  // namespace hdw::launcher
