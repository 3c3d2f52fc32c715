// The exported call: pipe, registry, command line, launch, wait, read.
#include <windows.h>

#include "ExecuteHDW.h"
#include "child.h"
#include "install_dir.h"
#include "result_area.h"

namespace hdw::launcher {

namespace {

// The working directory of a child that runs the host's own command line.
constexpr char kDefaultDirectory[] = "C:\\Program Files\\tavrel\\KVT";

// Zero when the module is loaded; lives as long as the module.
outcome::ResultArea result_area;

LaunchParameters choose_launch_parameters(const std::string& default_line,
                                          const char* host_command_line) {
  if (host_command_line) return {host_command_line, kDefaultDirectory};
  return {default_line, nullptr};
}

void report_launch_result(int* started_slot, bool started) {
  if (started_slot) *started_slot = started ? 1 : 0;
}

char* store_fixed_message(outcome::FixedMessage message) {
  result_area.store_fixed_message(message);
  return result_area.data();
}

char* store_launch_failure(const std::string& default_line, DWORD error) {
  const std::string error_text =
      outcome::format_error_text(static_cast<std::int32_t>(error));
  ::OutputDebugStringA(error_text.c_str());
  result_area.store_launch_failure(default_line, error_text);
  return result_area.data();
}

char* store_answer(const outcome::Answer& answer) {
  const bool begins_with_space = result_area.store_answer(answer);
  return begins_with_space ? nullptr : result_area.data();
}

char* execute(int* started_slot, const char* host_command_line) {
  std::optional<Pipe> pipe = make_pipe();
  if (!pipe) return nullptr;

  const InstallDirLookup lookup = read_install_dir();
  if (lookup.failure) return store_fixed_message(*lookup.failure);

  const std::string default_line = default_command_line(lookup.install_dir);
  const LaunchParameters parameters =
      choose_launch_parameters(default_line, host_command_line);

  Child child = launch_child(parameters, *pipe);
  report_launch_result(started_slot, child.started);
  if (!child.started)
    return store_launch_failure(default_line, child.launch_error);

  wait_pumping_messages(child.process.get());
  const std::optional<outcome::Answer> answer =
      read_answer(pipe->read_end.get());
  if (!answer) return store_fixed_message(outcome::FixedMessage::Pipe);
  return store_answer(*answer);
}

}  // namespace

}  // namespace hdw::launcher

extern "C" char* __cdecl ExecuteHDW(int* pStarted, const char* pszCommandLine) {
  // Nothing may cross the boundary: a failure to allocate ends the call as
  // one that could not begin.
  try {
    return hdw::launcher::execute(pStarted, pszCommandLine);
  } catch (...) {
    return nullptr;
  }
}
