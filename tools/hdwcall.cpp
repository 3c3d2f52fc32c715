// A host for people: loads ExecuteHDW.dll, calls it once (with no command
// line, or with the one given on this program's own command line) and shows
// what came back.
//
// Exit status: 0 an answer, 1 null after a launch (the answer begins with a
// space), 2 a registry or pipe message, 3 the launch failed, 4 null before
// anything was launched, 5 the module could not be loaded.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ExecuteHDW.h"
#include "result_area.h"

namespace {

constexpr int kStartedUnset = -1;
constexpr unsigned kCodePage936 = 936;

enum ExitStatus {
  kAnswer = 0,
  kNullAfterLaunch = 1,
  kFixedMessage = 2,
  kLaunchFailed = 3,
  kNullBeforeLaunch = 4,
  kNotLoaded = 5,
};

// The rest of this program's command line after its own name, or null.
const char* own_arguments() {
  const char* line = ::GetCommandLineA();
  bool quoted = false;
  for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line) {
    if (*line == '"') quoted = !quoted;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return *line ? line : nullptr;
}

bool is_fixed_message(const char* text) {
  using hdw::outcome::FixedMessage;
  for (FixedMessage message :
       {FixedMessage::RegistryKey, FixedMessage::RegistryValue,
        FixedMessage::Pipe}) {
    const std::string_view bytes = hdw::outcome::fixed_message_bytes(message);
    if (std::memcmp(text, bytes.data(), bytes.size()) == 0 &&
        text[bytes.size()] == '\0') {
      return true;
    }
  }
  return false;
}

// Code page 936 text as UTF-8, for a terminal to show.
std::string utf8_from_cp936(const char* text) {
  const int wide_length =
      ::MultiByteToWideChar(kCodePage936, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  ::MultiByteToWideChar(kCodePage936, 0, text, -1, wide.data(), wide_length);
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1,
                                           nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length,
                        nullptr, nullptr);
  utf8.resize(std::strlen(utf8.c_str()));
  return utf8;
}

// Bytes as printable ASCII, with everything else escaped.
std::string escaped(const char* text, std::size_t limit) {
  std::string shown;
  for (std::size_t i = 0; i < limit && text[i]; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      shown += static_cast<char>(byte);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    }
  }
  return shown;
}

void print_area(const char* area) {
  std::printf("area:");
  for (std::size_t i = 0; i < hdw::outcome::kResultAreaSize; ++i) {
    std::printf(" %02x", static_cast<unsigned char>(area[i]));
  }
  std::printf("\n");
}

}  // namespace

int main() {
  HMODULE module = ::LoadLibraryA("ExecuteHDW.dll");
  auto execute = module
                     ? reinterpret_cast<ExecuteHDWProc>(reinterpret_cast<void*>(
                           ::GetProcAddress(module, "ExecuteHDW")))
                     : nullptr;
  if (!execute) {
    std::printf("ExecuteHDW.dll could not be loaded (error %lu)\n",
                ::GetLastError());
    return kNotLoaded;
  }

  const char* command_line = own_arguments();
  int started = kStartedUnset;
  const char* result = execute(&started, command_line);
  std::printf("command line: %s\n", command_line
                                        ? command_line
                                        : "(default: <InstallDir>\\KVT.exe d)");
  if (started == kStartedUnset) {
    std::printf("launch: not attempted\n");
  } else {
    std::printf("launch: %s (%d)\n", started ? "started" : "failed", started);
  }
  std::printf("returned: %s\n", result ? "the result area" : "null");
  if (!result) {
    std::printf("area: not shown, the call returned no address\n");
    return started == kStartedUnset ? kNullBeforeLaunch : kNullAfterLaunch;
  }

  const bool fixed = is_fixed_message(result);
  std::printf("text: %s\n",
              fixed ? utf8_from_cp936(result).c_str()
                    : escaped(result, hdw::outcome::kResultAreaSize).c_str());
  print_area(result);
  if (fixed) return kFixedMessage;
  return started ? kAnswer : kLaunchFailed;
}
