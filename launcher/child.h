// The child process: its pipe, its launch, the wait for its end while the
// calling thread's messages keep flowing, and the single read of its answer.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "result_area.h"
#include "unique_handle.h"

namespace hdw::launcher {

// One call's anonymous pipe. The child's standard input is the read end and
// its standard output the write end.
struct Pipe {
  unique_handle read_end;
  unique_handle write_end;
};

std::optional<Pipe> make_pipe();

struct LaunchParameters {
  std::string command_line;
  const char* working_directory;  // null: the child inherits the host's
};

struct Child {
  bool started = false;
  DWORD launch_error = 0;  // the last-error code when not started
  unique_handle process;
  unique_handle thread;
};

// Starts the child in a new console with its standard handles on the pipe.
// Once it runs, this call's own pipe ends stop being inheritable, so that
// no later child (of a nested or concurrent call) gets a copy of them, and
// the write end is closed, so that the read sees the end of the pipe once
// the child and everything it started have let go of it.
Child launch_child(const LaunchParameters& parameters, Pipe& pipe);

// Waits for the process to end while removing, translating and dispatching
// the calling thread's messages. A WM_QUIT removed during the wait is held
// back and posted again once the wait is over, so that it reaches the host's
// own message loop.
void wait_pumping_messages(HANDLE process);

// Reads the child's answer once: at most 20 bytes of what is already in the
// pipe. Fails, instead of blocking, when the pipe holds nothing.
std::optional<outcome::Answer> read_answer(HANDLE read_end);

}  // namespace hdw::launcher
