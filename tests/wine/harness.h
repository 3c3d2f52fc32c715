// Drives ExecuteHDW.dll the way a host does: loaded with LoadLibraryA, with
// the real registry, pipes and processes of the Wine prefix it runs in.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "ExecuteHDW.h"
#include "result_area.h"

namespace hdw::test {

inline constexpr char kDefaultDirectory[] = "C:\\Program Files\\tavrel\\KVT";
// What a test puts in the launch-result integer before a call, to see
// whether the call wrote it.
inline constexpr int kStartedPreset = 77;

using Area = std::array<char, outcome::kResultAreaSize>;

struct CallResult {
  const char* returned = nullptr;
  int started = kStartedPreset;
  Area area{};  // the result area as the call left it
};

// Calls the module once; command_line null runs the default command line.
CallResult call(const char* command_line);
CallResult call(const std::string& command_line);
// Calls the module with no launch-result integer at all.
const char* call_without_started(const char* command_line);

// The module's result area: the address every non-null return gives.
const char* area_address();
Area area_now();
// Puts a 40-byte launch-failure text in the area, so that a test can see
// which bytes a later outcome leaves alone.
void fill_area();

// Programs beside the test executable.
std::string beside_tests(const char* file);
// A command line that runs the test child with the given arguments.
std::string child(std::string_view arguments);

// The companion's registry entry, written from this 32-bit process so that
// the module sees it through the same registry view.
void set_install_dir(const std::string& directory);
void set_install_dir_raw(DWORD type, std::string_view bytes);
void delete_install_dir_value();
void delete_companion_key();
// Reads "InstallDir" the way the platform does for a 1024-byte buffer.
LONG query_install_dir_like_module(std::string* directory);

// A fresh path in the temporary directory, and the contents of a file.
std::string temp_path(const char* name);
std::string read_file(const std::string& path);

// Every handle the process holds, found by probing.
int count_handles();
// The pipe handles a child started by the module holds: its own standard
// input and output, and whatever else it inherited.
std::string inherited_pipe_handles();

std::string hex(std::string_view bytes);
std::string hex(const Area& area);
// The 20-byte block a fixed message or answer occupies.
std::string block(std::string_view text);

// Runs a function on a thread of its own, made with CreateThread, and waits
// for it on join() or destruction. The threads are kept and reused rather
// than ended: where 32-bit code is emulated, threads of a Wine process that
// end (and those of the C++ run time) upset the emulator.
struct Worker;

// Whether the test process has started threads of its own.
bool started_threads();

class Thread {
 public:
  template <typename Function, typename... Arguments>
  explicit Thread(Function function, Arguments... arguments)
      : worker_(start([=] { function(arguments...); })) {}
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread() { join(); }

  void join();

 private:
  // Hands the task to an idle kept thread and returns that thread.
  static Worker* start(std::function<void()> task);

  Worker* worker_;
};

// Sets an environment variable for the duration of a scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value);
  ~ScopedEnvironment();

 private:
  const char* name_;
};

}  // namespace hdw::test
