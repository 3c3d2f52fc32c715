#include "child.h"

#include <vector>

namespace hdw::launcher {

namespace {

// Every input kind up to and including QS_HOTKEY: keys, mouse, posted and
// sent messages, timers and paint.
constexpr DWORD kWakeMask = 0xFF;

SECURITY_ATTRIBUTES inheritable_attributes() {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = TRUE;
  return attributes;
}

STARTUPINFOA startup_info_for(const Pipe& pipe) {
  STARTUPINFOA info{};
  info.cb = sizeof info;
  info.dwFlags = STARTF_USESTDHANDLES;
  info.hStdInput = pipe.read_end.get();
  info.hStdOutput = pipe.write_end.get();
  return info;
}

void keep_pipe_to_this_call(Pipe& pipe) {
  ::SetHandleInformation(pipe.read_end.get(), HANDLE_FLAG_INHERIT, 0);
  pipe.write_end.reset();
}

bool has_ended(HANDLE process) {
  return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// Removes and dispatches queued messages until the queue is empty or the
// child has ended. Returns true when the child has ended; the messages
// still queued then stay there for the host.
bool dispatch_until_child_ends(HANDLE process, std::optional<int>& quit_code) {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit_code = static_cast<int>(message.wParam);
    } else {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    if (has_ended(process)) return true;
  }
  return false;
}

}  // namespace

std::optional<Pipe> make_pipe() {
  SECURITY_ATTRIBUTES attributes = inheritable_attributes();
  Pipe pipe;
  if (!::CreatePipe(pipe.read_end.put(), pipe.write_end.put(), &attributes,
                    0)) {
    return std::nullopt;
  }
  return pipe;
}

Child launch_child(const LaunchParameters& parameters, Pipe& pipe) {
  SECURITY_ATTRIBUTES attributes = inheritable_attributes();
  STARTUPINFOA startup = startup_info_for(pipe);
  PROCESS_INFORMATION created{};
  // The command line is handed over in a buffer of the call's own, since
  // the system may write to it.
  std::vector<char> command_line(parameters.command_line.begin(),
                                 parameters.command_line.end());
  command_line.push_back('\0');

  Child child;
  child.started =
      ::CreateProcessA(nullptr, command_line.data(), &attributes, &attributes,
                       TRUE, CREATE_NEW_CONSOLE, nullptr,
                       parameters.working_directory, &startup, &created);
  if (!child.started) {
    child.launch_error = ::GetLastError();
    return child;
  }
  child.process.reset(created.hProcess);
  child.thread.reset(created.hThread);
  keep_pipe_to_this_call(pipe);
  return child;
}

void wait_pumping_messages(HANDLE process) {
  std::optional<int> quit_code;
  for (;;) {
    const DWORD woken =
        ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, kWakeMask);
    // Anything but "input waiting" ends the wait: the child has ended, or
    // the wait itself failed.
    if (woken != WAIT_OBJECT_0 + 1) break;
    if (dispatch_until_child_ends(process, quit_code)) break;
  }
  if (quit_code) ::PostQuitMessage(*quit_code);
}

std::optional<outcome::Answer> read_answer(HANDLE read_end) {
  DWORD available = 0;
  if (!::PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) ||
      available == 0) {
    return std::nullopt;
  }
  outcome::Answer answer{};
  DWORD bytes_read = 0;
  if (!::ReadFile(read_end, answer.data(), outcome::kAnswerSize, &bytes_read,
                  nullptr)) {
    return std::nullopt;
  }
  return answer;
}

}  // namespace hdw::launcher
