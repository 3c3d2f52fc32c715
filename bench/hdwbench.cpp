// Benchmark of ExecuteHDW.dll against bare inline equivalents, all in one
// run of one 32-bit host:
//
//   1. call overhead: the same child through the module and through a bare
//      CreatePipe, CreateProcessA, WaitForSingleObject, ReadFile;
//   2. the module's floor: calls that end at the registry message, against
//      a bare CreatePipe and RegOpenKeyExA;
//   3. responsiveness: how soon a message posted during the wait is
//      dispatched, in the module and in a peer that polls every 50 ms;
//   4. return latency: from the child's last write to the call's return;
//   5. scale: 2,000 calls in a row, their speed, handles and memory.
//
// Comparisons are interleaved (A B A B ...). It prints a table per section
// and writes every figure as CSV. It never fails on a number: the exit
// status is nonzero only when the benchmark itself cannot run or more than
// one call in a hundred ends otherwise than expected.
//
//   hdwbench.exe [CSV_PATH] [--calls N] [--floor N] [--rounds N]
//                [--returns N] [--scale N] [--quick] [--sections LIST]
//                [--progress]
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "ExecuteHDW.h"

namespace {

constexpr char kCompanionKey[] = "SOFTWARE\\Tavrel\\KVT";
constexpr char kInstallDirValue[] = "InstallDir";
constexpr char kWorkingDirectory[] = "C:\\Program Files\\tavrel\\KVT";
constexpr char kAnswer[] = "ok";
constexpr char kMissingProgram[] = "Z:\\no\\such\\program.exe";
constexpr DWORD kAnswerSize = 20;
constexpr std::size_t kAreaSize = 40;
constexpr std::size_t kCommandLineSize = 2 * MAX_PATH;
constexpr ULONG_PTR kHandleProbeLimit = 0x10000;
// What the launch-result integer holds before a call, to see that a call
// ending at the registry leaves it alone.
constexpr int kStartedPreset = 77;
// The child of the responsiveness section, its posting period, and the
// polling peer's wait timeout.
constexpr char kSleepingChild[] = "sleep 500 ok";
constexpr DWORD kPostPeriodMs = 5;
constexpr DWORD kPeerPollMs = 50;
constexpr UINT kStampedMessage = WM_APP + 7;
constexpr UINT kProbeMessage = WM_APP + 8;
constexpr char kWindowClass[] = "hdwbench-pump";

struct Options {
  std::string csv_path = "hdwbench.csv";
  int overhead_calls = 200;
  int floor_calls = 1000;
  int pump_rounds = 10;
  int return_calls = 100;
  int scale_calls = 2000;
  std::string sections = "12345";  // which sections run, by number
  bool progress = false;           // progress lines on the error output
};

bool show_progress = false;

// A line on the error output every tenth of a long loop, when asked for.
void progress(const char* section, int done, int total) {
  if (!show_progress || total < 10 || done % (total / 10) != 0) return;
  std::fprintf(stderr, "  [%s: %d of %d]\n", section, done, total);
}

// ---------------------------------------------------------------- clocks

LONGLONG counter_frequency = 0;
double ticks_per_ms = 0;

LONGLONG now_ticks() {
  LARGE_INTEGER count;
  ::QueryPerformanceCounter(&count);
  return count.QuadPart;
}

double ticks_to_ms(LONGLONG ticks) {
  return static_cast<double>(ticks) / ticks_per_ms;
}

ULONGLONG now_file_time() {
  FILETIME now;
  ::GetSystemTimePreciseAsFileTime(&now);
  return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// ------------------------------------------------------------ statistics

struct Summary {
  std::size_t count = 0;
  double min = NAN;
  double median = NAN;
  double p99 = NAN;
  double max = NAN;
};

Summary summarize(std::vector<double> values) {
  Summary summary;
  summary.count = values.size();
  if (values.empty()) return summary;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  summary.min = values.front();
  summary.max = values.back();
  summary.median =
      n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
  // Nearest rank: the smallest value that at least 99 % of them do not
  // exceed.
  const std::size_t rank =
      static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
  summary.p99 = values[std::max<std::size_t>(rank, 1) - 1];
  return summary;
}

// ---------------------------------------------------------------- report

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string number(double value) {
  if (std::isnan(value)) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// A figure as the tables show it: whole numbers without decimals.
std::string table_number(double value) {
  char text[64];
  if (std::isfinite(value) && value == std::floor(value) &&
      std::fabs(value) < 1e12) {
    std::snprintf(text, sizeof text, "%.0f    ", value);
  } else {
    std::snprintf(text, sizeof text, "%.3f", value);
  }
  return text;
}

// Prints the tables and keeps every figure for the CSV file, one figure a
// row: section, item, statistic, value, unit, target, met.
class Report {
 public:
  void heading(const std::string& title) {
    std::printf("\n%s\n", title.c_str());
    std::printf("  %-42s %6s %10s %10s %10s %10s  %s\n", "series", "n", "min",
                "median", "p99", "max", "unit");
  }

  Summary series(const char* section, const std::string& name, const char* unit,
                 const std::vector<double>& values) {
    const Summary summary = summarize(values);
    std::printf("  %-42s %6u %10.3f %10.3f %10.3f %10.3f  %s\n", name.c_str(),
                static_cast<unsigned>(summary.count), summary.min,
                summary.median, summary.p99, summary.max, unit);
    row(section, name, "count", static_cast<double>(summary.count), "");
    row(section, name, "min", summary.min, unit);
    row(section, name, "median", summary.median, unit);
    row(section, name, "p99", summary.p99, unit);
    row(section, name, "max", summary.max, unit);
    return summary;
  }

  void figure(const char* section, const std::string& name, double value,
              const char* unit) {
    std::printf("  %-60s %12s %s\n", name.c_str(), table_number(value).c_str(),
                unit);
    row(section, name, "value", value, unit);
  }

  void target(const char* section, const std::string& name, double value,
              const char* unit, const std::string& target, bool met) {
    std::printf("  %-60s %12s %-5s target %-10s %s\n", name.c_str(),
                table_number(value).c_str(), unit, target.c_str(),
                met ? "met" : "not met");
    row(section, name, "value", value, unit, target, met ? "met" : "not met");
  }

  void note(const std::string& text) { std::printf("  %s\n", text.c_str()); }

  bool write_csv(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file << "section,item,statistic,value,unit,target,met\n";
    for (const std::string& line : rows_) file << line << "\n";
    return static_cast<bool>(file);
  }

 private:
  void row(const char* section, const std::string& item, const char* statistic,
           double value, const char* unit, const std::string& target = "",
           const char* met = "") {
    rows_.push_back(csv_field(section) + "," + csv_field(item) + "," +
                    statistic + "," + number(value) + "," + unit + "," +
                    csv_field(target) + "," + met);
  }

  std::vector<std::string> rows_;
};

// -------------------------------------------------------- module and child

ExecuteHDWProc execute = nullptr;
std::string child_program;

// Calls whose outcome was checked, and those that did not end as expected
// (a launch that failed, a wrong answer); the first few of a section are
// shown with its table.
int checked_total = 0;
int unexpected_total = 0;
int unexpected_in_section = 0;
std::vector<std::string> unexpected_notes;
constexpr std::size_t kNotesShown = 5;

void count_checked() { ++checked_total; }

void count_wrong(const char* what, const std::string& detail) {
  ++unexpected_total;
  ++unexpected_in_section;
  if (unexpected_notes.size() < kNotesShown) {
    unexpected_notes.push_back(std::string(what) + ": " + detail);
  }
}

void end_section(Report& report, const char* section) {
  report.figure(section, "unexpected outcomes", unexpected_in_section, "");
  for (const std::string& note : unexpected_notes) report.note("! " + note);
  unexpected_in_section = 0;
  unexpected_notes.clear();
  std::fflush(stdout);
}

std::string beside_program(const char* file) {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  directory.resize(directory.find_last_of('\\') + 1);
  return directory + file;
}

std::string child_command(const std::string& arguments) {
  return "\"" + child_program + "\" " + arguments;
}

bool is_answer(const char* text, const char* expected) {
  return text && std::strncmp(text, expected, kAnswerSize) == 0;
}

// The text at a returned address: the 20-byte answer block, or the whole
// 40-byte area when the launch failed (the command line and error code).
std::string shown(const char* text, std::size_t size = kAnswerSize) {
  if (!text) return "(null)";
  return "\"" + std::string(text, ::strnlen(text, size)) + "\"";
}

void check_module_answer(const char* returned, int started) {
  count_checked();
  if (!is_answer(returned, kAnswer) || started != 1) {
    count_wrong("ExecuteHDW",
                shown(returned, started ? kAnswerSize : kAreaSize) +
                    ", started " + std::to_string(started));
  }
}

// ---------------------------------------------------------------- registry

bool set_install_dir(const char* directory) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCompanionKey, 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status =
      ::RegSetValueExA(key, kInstallDirValue, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(directory),
                       static_cast<DWORD>(std::strlen(directory) + 1));
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool delete_companion_key() {
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCompanionKey);
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCompanionKey, 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    ::RegCloseKey(key);
    return false;
  }
  return true;
}

// ---------------------------------------------------- the bare equivalents

struct BareChild {
  HANDLE read_end = nullptr;
  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  DWORD launch_error = 0;
};

// The pipe and the launch as the module makes them: a new console, handles
// inherited, standard input on the read end and standard output on the
// write end, in the same working directory. The write end is closed once
// the child has it.
bool bare_launch(const std::string& command_line, BareChild* child) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.bInheritHandle = TRUE;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&child->read_end, &write_end, &attributes, 0)) {
    child->launch_error = ::GetLastError();
    return false;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child->read_end;
  startup.hStdOutput = write_end;
  char line[kCommandLineSize];
  std::snprintf(line, sizeof line, "%s", command_line.c_str());
  PROCESS_INFORMATION created{};
  const BOOL started = ::CreateProcessA(nullptr, line, nullptr, nullptr, TRUE,
                                        CREATE_NEW_CONSOLE, nullptr,
                                        kWorkingDirectory, &startup, &created);
  if (!started) child->launch_error = ::GetLastError();
  ::CloseHandle(write_end);
  if (!started) {
    ::CloseHandle(child->read_end);
    return false;
  }
  child->process = created.hProcess;
  child->thread = created.hThread;
  return true;
}

// One ReadFile of up to 20 bytes, then the closes.
void bare_finish(const BareChild& child, char (&answer)[kAnswerSize + 1]) {
  DWORD got = 0;
  if (!::ReadFile(child.read_end, answer, kAnswerSize, &got, nullptr)) got = 0;
  answer[got] = '\0';
  ::CloseHandle(child.read_end);
  ::CloseHandle(child.thread);
  ::CloseHandle(child.process);
}

void check_bare_answer(const char* what, const BareChild& child, bool launched,
                       const char* answer) {
  if (!launched) {
    count_wrong(what, "the child could not be started (error " +
                          std::to_string(child.launch_error) + ")");
  } else if (!is_answer(answer, kAnswer)) {
    count_wrong(what, shown(answer));
  }
}

// The bare baseline: launch, a plain wait, read, close.
void bare_call(const std::string& command_line) {
  BareChild child;
  char answer[kAnswerSize + 1] = "";
  const bool launched = bare_launch(command_line, &child);
  if (launched) {
    ::WaitForSingleObject(child.process, INFINITE);
    bare_finish(child, answer);
  }
  check_bare_answer("the bare baseline", child, launched, answer);
}

void module_call(const std::string& command_line) {
  int started = kStartedPreset;
  const char* returned = execute(&started, command_line.c_str());
  check_module_answer(returned, started);
}

// A call whose child cannot be started: it reports the launch as failed.
void failed_launch_call() {
  int started = kStartedPreset;
  const char* returned = execute(&started, kMissingProgram);
  count_checked();
  if (started != 0) {
    count_wrong(
        "ExecuteHDW with a missing program",
        shown(returned, kAreaSize) + ", started " + std::to_string(started));
  }
}

template <typename Call>
double time_ms(Call call) {
  const LONGLONG start = now_ticks();
  call();
  return ticks_to_ms(now_ticks() - start);
}

// ---------------------------------------------------------------- sections

std::string target_text(const char* comparison, double limit) {
  return std::string(comparison) + " " + number(limit);
}

void measure_overhead(const Options& options, Report& report) {
  const char* section = "overhead";
  const std::string command = child_command("write ok");
  const int n = options.overhead_calls;
  std::vector<double> module_ms;
  std::vector<double> bare_ms;
  module_ms.reserve(n);
  bare_ms.reserve(n);

  module_call(command);  // warm-up, not counted
  bare_call(command);
  for (int i = 0; i < n; ++i) {
    module_ms.push_back(time_ms([&] { module_call(command); }));
    bare_ms.push_back(time_ms([&] { bare_call(command); }));
    progress(section, i + 1, n);
  }

  report.heading("1. Call overhead: \"hdwchild.exe write ok\", " +
                 std::to_string(n) + " calls each, interleaved");
  const Summary module = report.series(section, "ExecuteHDW", "ms", module_ms);
  const Summary bare = report.series(section, "bare baseline", "ms", bare_ms);
  const double ratio = module.median / bare.median;
  report.target(section, "median ratio ExecuteHDW / baseline", ratio, "x",
                target_text("<=", 1.05), ratio <= 1.05);
  end_section(report, section);
}

void measure_floor(const Options& options, Report& report) {
  const char* section = "floor";
  const int n = options.floor_calls;
  std::vector<double> module_us;
  std::vector<double> bare_us;
  module_us.reserve(n);
  bare_us.reserve(n);

  if (!delete_companion_key()) {
    count_wrong("deleting the registry key", "the key is still there");
  }
  auto module_floor_call = [] {
    int started = kStartedPreset;
    const char* returned = execute(&started, nullptr);
    count_checked();
    if (!returned || started != kStartedPreset) {
      count_wrong("ExecuteHDW without the registry key",
                  shown(returned) + ", started " + std::to_string(started));
    }
  };
  // Only what the module's call has to do before it can tell the key is
  // missing: make the pipe, try the key, close.
  auto bare_floor_call = [] {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = TRUE;
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    count_checked();
    if (!::CreatePipe(&read_end, &write_end, &attributes, 0)) {
      count_wrong("CreatePipe", "failure");
      return;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCompanionKey, 0, KEY_ALL_ACCESS,
                        &key) == ERROR_SUCCESS) {
      ::RegCloseKey(key);
    }
    ::CloseHandle(write_end);
    ::CloseHandle(read_end);
  };

  module_floor_call();  // warm-up, not counted
  bare_floor_call();
  for (int i = 0; i < n; ++i) {
    module_us.push_back(1000.0 * time_ms(module_floor_call));
    bare_us.push_back(1000.0 * time_ms(bare_floor_call));
    progress(section, i + 1, n);
  }
  if (!set_install_dir(kWorkingDirectory)) {
    count_wrong("restoring the registry value", "failure");
  }

  report.heading(
      "2. Floor: calls that end at the registry message (key "
      "missing), " +
      std::to_string(n) + " calls each, interleaved");
  const Summary module =
      report.series(section, "ExecuteHDW (key missing)", "us", module_us);
  const Summary bare =
      report.series(section, "bare CreatePipe + RegOpenKeyExA", "us", bare_us);
  const double ratio = module.median / bare.median;
  report.target(section, "median ratio ExecuteHDW / baseline", ratio, "x",
                target_text("<=", 1.2), ratio <= 1.2);
  end_section(report, section);
}

// Responsiveness: a second thread posts messages stamped with the counter
// to a message-only window of the waiting thread, whose window procedure
// keeps each one's latency while a call is in progress. The thread first
// posts a probe and starts the stamped messages only once the probe has
// been dispatched, that is once the waiting thread is pumping: messages
// queued while the child is being launched would measure the launch.
struct PumpRound {
  bool in_call = false;
  HANDLE probe_seen = nullptr;
  std::vector<double> latencies_ms;
};
PumpRound pump_round;

LRESULT CALLBACK pump_window_procedure(HWND window, UINT message, WPARAM wparam,
                                       LPARAM lparam) {
  if (message == kProbeMessage) {
    if (pump_round.in_call) ::SetEvent(pump_round.probe_seen);
    return 0;
  }
  if (message != kStampedMessage) {
    return ::DefWindowProcA(window, message, wparam, lparam);
  }
  const LONGLONG dispatched = now_ticks();
  if (pump_round.in_call) {
    const LONGLONG posted = static_cast<LONGLONG>(
        (static_cast<ULONGLONG>(static_cast<DWORD>(lparam)) << 32) |
        static_cast<DWORD>(wparam));
    pump_round.latencies_ms.push_back(ticks_to_ms(dispatched - posted));
  }
  return 0;
}

struct Poster {
  HWND window = nullptr;
  HANDLE probe_seen = nullptr;
  std::atomic<bool> stop{false};
};

DWORD WINAPI post_stamped_messages(void* parameter) {
  Poster* poster = static_cast<Poster*>(parameter);
  ::PostMessageA(poster->window, kProbeMessage, 0, 0);
  while (::WaitForSingleObject(poster->probe_seen, 1) == WAIT_TIMEOUT) {
    if (poster->stop.load()) return 0;
  }
  while (!poster->stop.load()) {
    const ULONGLONG stamp = static_cast<ULONGLONG>(now_ticks());
    ::PostMessageA(poster->window, kStampedMessage,
                   static_cast<WPARAM>(static_cast<DWORD>(stamp)),
                   static_cast<LPARAM>(static_cast<DWORD>(stamp >> 32)));
    ::Sleep(kPostPeriodMs);
  }
  return 0;
}

void drain_queue() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

// The polling peer: launch as the baseline does, then wait 50 ms at a time
// and dispatch whatever is queued on each timeout.
void polling_peer_call(const std::string& command_line) {
  BareChild child;
  char answer[kAnswerSize + 1] = "";
  const bool launched = bare_launch(command_line, &child);
  if (launched) {
    while (::WaitForSingleObject(child.process, kPeerPollMs) == WAIT_TIMEOUT) {
      drain_queue();
    }
    bare_finish(child, answer);
  }
  check_bare_answer("the polling peer", child, launched, answer);
}

// Runs one call with the poster going, and adds the latencies of the
// messages dispatched before the call returned. (Those still queued when
// the child ends are dispatched afterwards and not counted.)
template <typename Call>
void pump_one_round(HWND window, Call call, std::vector<double>* latencies_ms,
                    int* rounds_failed) {
  drain_queue();
  pump_round.latencies_ms.clear();
  Poster poster;
  poster.window = window;
  poster.probe_seen = pump_round.probe_seen;
  ::ResetEvent(pump_round.probe_seen);
  pump_round.in_call = true;
  HANDLE thread =
      ::CreateThread(nullptr, 0, &post_stamped_messages, &poster, 0, nullptr);
  if (!thread) {
    pump_round.in_call = false;
    ++*rounds_failed;
    return;
  }
  call();
  pump_round.in_call = false;
  poster.stop = true;
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  drain_queue();

  if (pump_round.latencies_ms.empty()) ++*rounds_failed;
  latencies_ms->insert(latencies_ms->end(), pump_round.latencies_ms.begin(),
                       pump_round.latencies_ms.end());
}

void measure_responsiveness(const Options& options, Report& report) {
  const char* section = "responsiveness";
  const std::string command = child_command(kSleepingChild);
  const int rounds = options.pump_rounds;

  WNDCLASSA window_class{};
  window_class.lpfnWndProc = pump_window_procedure;
  window_class.hInstance = ::GetModuleHandleA(nullptr);
  window_class.lpszClassName = kWindowClass;
  ::RegisterClassA(&window_class);
  HWND window = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!window) {
    count_wrong("CreateWindowExA", "no message-only window");
    return;
  }
  pump_round.latencies_ms.reserve(1000);
  pump_round.probe_seen = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);

  std::vector<double> module_ms;
  std::vector<double> peer_ms;
  int module_failed = 0;
  int peer_failed = 0;
  auto module_round = [&] { module_call(command); };
  auto peer_round = [&] { polling_peer_call(command); };
  for (int i = 0; i < rounds; ++i) {
    pump_one_round(window, module_round, &module_ms, &module_failed);
    pump_one_round(window, peer_round, &peer_ms, &peer_failed);
    progress(section, i + 1, rounds);
  }
  ::DestroyWindow(window);
  ::CloseHandle(pump_round.probe_seen);

  report.heading(
      "3. Responsiveness: post-to-dispatch latency of a message posted every " +
      std::to_string(kPostPeriodMs) + " ms while \"hdwchild.exe " +
      kSleepingChild + "\" runs, " + std::to_string(rounds) +
      " rounds each, interleaved");
  const Summary module = report.series(section, "ExecuteHDW", "ms", module_ms);
  const Summary peer = report.series(
      section, "polling peer (WaitForSingleObject 50 ms)", "ms", peer_ms);
  if (module_failed || peer_failed) {
    report.note("rounds without samples: ExecuteHDW " +
                std::to_string(module_failed) + ", peer " +
                std::to_string(peer_failed));
  }
  report.target(section, "ExecuteHDW p99", module.p99, "ms",
                target_text("<=", 2), module.p99 <= 2);
  const double ratio = peer.median / module.median;
  report.target(section, "median ratio peer / ExecuteHDW", ratio, "x",
                target_text(">=", 10), ratio >= 10);
  end_section(report, section);
}

// Return latency: the child writes its answer, then the counter and the
// precise file time to a file just before it exits; the host reads both
// clocks as soon as its call returns.
struct Stamp {
  bool valid = false;
  LONGLONG count = 0;
  LONGLONG frequency = 0;
  ULONGLONG file_time = 0;
};

Stamp read_stamp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  Stamp stamp;
  if (file >> stamp.count >> stamp.frequency >> stamp.file_time) {
    stamp.valid = true;
  }
  return stamp;
}

void measure_return_latency(const Options& options, Report& report) {
  const char* section = "return latency";
  char temp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "hdwbench-stamp-" +
                           std::to_string(::GetCurrentProcessId()) + ".txt";
  const std::string command = child_command("stamp \"" + path + "\" ok");
  const int n = options.return_calls;

  std::vector<double> module_qpc;
  std::vector<double> bare_qpc;
  std::vector<double> module_file_time;
  std::vector<double> bare_file_time;
  bool frequencies_agree = true;
  auto one = [&](auto call, std::vector<double>* by_counter,
                 std::vector<double>* by_file_time) {
    ::DeleteFileA(path.c_str());
    call();
    const LONGLONG returned = now_ticks();
    const ULONGLONG returned_file_time = now_file_time();
    const Stamp stamp = read_stamp(path);
    if (!stamp.valid) {
      count_wrong("the stamping child", "no stamp in " + path);
      return;
    }
    if (stamp.frequency != counter_frequency) {
      frequencies_agree = false;
    }
    by_counter->push_back(ticks_to_ms(returned - stamp.count));
    by_file_time->push_back(static_cast<double>(static_cast<LONGLONG>(
                                returned_file_time - stamp.file_time)) /
                            10000.0);
  };
  auto module_stamp_call = [&] { module_call(command); };
  auto bare_stamp_call = [&] { bare_call(command); };

  module_stamp_call();  // warm-up, not counted
  bare_stamp_call();
  for (int i = 0; i < n; ++i) {
    one(module_stamp_call, &module_qpc, &module_file_time);
    one(bare_stamp_call, &bare_qpc, &bare_file_time);
    progress(section, i + 1, n);
  }
  ::DeleteFileA(path.c_str());

  report.heading(
      "4. Return latency: child's last write to the call's return, "
      "\"hdwchild.exe stamp PATH ok\", " +
      std::to_string(n) + " calls each, interleaved");
  const Summary module = report.series(
      section, "ExecuteHDW (QueryPerformanceCounter)", "ms", module_qpc);
  const Summary bare = report.series(
      section, "bare baseline (QueryPerformanceCounter)", "ms", bare_qpc);
  const Summary module_ft = report.series(
      section, "ExecuteHDW (precise file time)", "ms", module_file_time);
  const Summary bare_ft = report.series(
      section, "bare baseline (precise file time)", "ms", bare_file_time);
  // The counter is the measure when both processes count at the same rate;
  // otherwise the system time, which every process shares.
  const bool by_counter = frequencies_agree && !module_qpc.empty();
  if (!by_counter) {
    report.note(
        "the child's counter frequency differs: the file time is the measure");
  }
  const double difference = by_counter ? module.median - bare.median
                                       : module_ft.median - bare_ft.median;
  const double ratio = by_counter ? module.median / bare.median
                                  : module_ft.median / bare_ft.median;
  report.figure(section, "median ratio ExecuteHDW / baseline", ratio, "x");
  report.target(section, "median ExecuteHDW - median baseline", difference,
                "ms", target_text("<=", 2), difference <= 2);
  end_section(report, section);
}

int count_handles() {
  int count = 0;
  for (ULONG_PTR value = 4; value < kHandleProbeLimit; value += 4) {
    DWORD flags;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++count;
    }
  }
  return count;
}

struct MemoryFigures {
  double private_usage = NAN;    // PrivateUsage
  double pagefile_usage = NAN;   // PagefileUsage, the commit charge
  double committed_private = 0;  // private committed regions, by VirtualQuery
};

MemoryFigures memory_figures() {
  MemoryFigures figures;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (::GetProcessMemoryInfo(
          ::GetCurrentProcess(),
          reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
          sizeof counters)) {
    figures.private_usage = static_cast<double>(counters.PrivateUsage);
    figures.pagefile_usage = static_cast<double>(counters.PagefileUsage);
  }
  MEMORY_BASIC_INFORMATION region;
  const char* address = nullptr;
  while (::VirtualQuery(address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
      figures.committed_private += static_cast<double>(region.RegionSize);
    }
    const char* next =
        static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return figures;
}

void measure_scale(const Options& options, Report& report) {
  const char* section = "scale";
  const std::string command = child_command("write ok");
  const int n = options.scale_calls;
  const int window = std::max(1, std::min(200, n / 10));
  std::vector<double> call_ms;
  call_ms.reserve(n);

  // Warm-up, not counted: a call that succeeds and one whose launch fails,
  // so that what the platform opens on first use and keeps is open before
  // the count. (Wine's OutputDebugStringA, which a failed launch reaches,
  // keeps two handles from its first use.)
  module_call(command);
  failed_launch_call();
  const int handles_before = count_handles();
  const MemoryFigures memory_before = memory_figures();
  for (int i = 0; i < n; ++i) {
    call_ms.push_back(time_ms([&] { module_call(command); }));
    progress(section, i + 1, n);
  }
  const int handles_after = count_handles();
  const MemoryFigures memory_after = memory_figures();

  const std::vector<double> first(call_ms.begin(), call_ms.begin() + window);
  const std::vector<double> last(call_ms.end() - window, call_ms.end());
  report.heading("5. Scale: " + std::to_string(n) +
                 " consecutive ExecuteHDW calls of \"hdwchild.exe write ok\"");
  report.series(section, "all calls", "ms", call_ms);
  const Summary head = report.series(
      section, "first " + std::to_string(window) + " calls", "ms", first);
  const Summary tail = report.series(
      section, "last " + std::to_string(window) + " calls", "ms", last);
  const double ratio = tail.median / head.median;
  report.target(section, "median ratio last / first", ratio, "x",
                target_text("<=", 1.1), ratio <= 1.1);
  report.figure(section, "handles before", handles_before, "");
  report.figure(section, "handles after", handles_after, "");
  const double handle_growth = handles_after - handles_before;
  report.target(section, "handle growth", handle_growth, "",
                target_text("<=", 0), handle_growth <= 0);

  // On Windows PrivateUsage and PagefileUsage are the same figure, the
  // commit charge. Wine leaves PrivateUsage at zero; its PagefileUsage is
  // the anonymous memory of the Unix process (and so, where 32-bit code is
  // emulated, includes the emulator's own).
  report.figure(section, "PrivateUsage before",
                memory_before.private_usage / 1024.0, "KiB");
  report.figure(section, "PrivateUsage after",
                memory_after.private_usage / 1024.0, "KiB");
  report.figure(section, "PagefileUsage before",
                memory_before.pagefile_usage / 1024.0, "KiB");
  report.figure(section, "PagefileUsage after",
                memory_after.pagefile_usage / 1024.0, "KiB");
  report.figure(section, "private committed (VirtualQuery) before",
                memory_before.committed_private / 1024.0, "KiB");
  report.figure(section, "private committed (VirtualQuery) after",
                memory_after.committed_private / 1024.0, "KiB");
  report.figure(
      section, "private committed (VirtualQuery) growth",
      (memory_after.committed_private - memory_before.committed_private) /
          1024.0,
      "KiB");
  const bool reported = memory_before.private_usage > 0;
  if (!reported) {
    report.note("PrivateUsage reads zero here: PagefileUsage stands in for it");
  }
  const double before =
      reported ? memory_before.private_usage : memory_before.pagefile_usage;
  const double after =
      reported ? memory_after.private_usage : memory_after.pagefile_usage;
  const double private_growth = (after - before) / 1024.0;
  report.target(section,
                reported ? "private memory growth (PrivateUsage)"
                         : "private memory growth (PagefileUsage)",
                private_growth, "KiB", target_text("<=", 64),
                private_growth <= 64);
  end_section(report, section);
}

// ------------------------------------------------------------------ setup

bool parse_count(const char* text, int* count) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (!*text || *end || value < 1 || value > 1000000) return false;
  *count = static_cast<int>(value);
  return true;
}

bool parse_options(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    int* count = nullptr;
    if (argument == "--calls") {
      count = &options->overhead_calls;
    } else if (argument == "--floor") {
      count = &options->floor_calls;
    } else if (argument == "--rounds") {
      count = &options->pump_rounds;
    } else if (argument == "--returns") {
      count = &options->return_calls;
    } else if (argument == "--scale") {
      count = &options->scale_calls;
    } else if (argument == "--sections") {
      if (++i >= argc) return false;
      options->sections = argv[i];
      if (options->sections.empty() ||
          options->sections.find_first_not_of("12345") != std::string::npos) {
        return false;
      }
      continue;
    } else if (argument == "--progress") {
      options->progress = true;
      continue;
    } else if (argument == "--quick") {
      options->overhead_calls = 20;
      options->floor_calls = 100;
      options->pump_rounds = 2;
      options->return_calls = 10;
      options->scale_calls = 200;
      continue;
    } else if (argument.rfind("--", 0) != 0) {
      options->csv_path = argument;
      continue;
    } else {
      return false;
    }
    if (++i >= argc || !parse_count(argv[i], count)) return false;
  }
  return true;
}

void print_usage() {
  std::fputs(
      "usage: hdwbench.exe [CSV_PATH] [--calls N] [--floor N] [--rounds N]\n"
      "                    [--returns N] [--scale N] [--quick]\n"
      "                    [--sections LIST] [--progress]\n"
      "  CSV_PATH    where the figures go (default hdwbench.csv)\n"
      "  --calls N   call-overhead calls of each kind (default 200)\n"
      "  --floor N   registry-floor calls of each kind (default 1000)\n"
      "  --rounds N  responsiveness rounds of each kind (default 10)\n"
      "  --returns N return-latency calls of each kind (default 100)\n"
      "  --scale N   consecutive calls of the scale section (default 2000)\n"
      "  --quick     small counts for a quick try\n"
      "  --sections LIST  only the sections numbered in LIST, e.g. 15\n"
      "  --progress  progress lines on the error output\n",
      stderr);
}

std::string platform_description() {
  std::string text;
  using WineVersion = const char*(CDECL*)();
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  const auto wine_version = reinterpret_cast<WineVersion>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
  text = wine_version ? std::string("Wine ") + wine_version() : "Windows";
  SYSTEM_INFO system{};
  ::GetNativeSystemInfo(&system);
  text += ", " + std::to_string(system.dwNumberOfProcessors) + " processors";
  text += ", counter " + std::to_string(counter_frequency) + " Hz";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) {
    print_usage();
    return 2;
  }
  show_progress = options.progress;
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  counter_frequency = frequency.QuadPart;
  ticks_per_ms = static_cast<double>(counter_frequency) / 1000.0;

  HMODULE module = ::LoadLibraryA(beside_program("ExecuteHDW.dll").c_str());
  if (module) {
    execute = reinterpret_cast<ExecuteHDWProc>(
        reinterpret_cast<void*>(::GetProcAddress(module, "ExecuteHDW")));
  }
  if (!execute) {
    std::fprintf(stderr, "hdwbench: cannot load ExecuteHDW.dll (error %lu)\n",
                 ::GetLastError());
    return 1;
  }
  child_program = beside_program("hdwchild.exe");
  if (::GetFileAttributesA(child_program.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "hdwbench: %s is missing\n", child_program.c_str());
    return 1;
  }
  ::CreateDirectoryA("C:\\Program Files", nullptr);
  ::CreateDirectoryA("C:\\Program Files\\tavrel", nullptr);
  ::CreateDirectoryA(kWorkingDirectory, nullptr);
  if (!set_install_dir(kWorkingDirectory)) {
    std::fprintf(stderr, "hdwbench: cannot write HKLM\\%s\n", kCompanionKey);
    return 1;
  }

  std::printf("ExecuteHDW.dll benchmark (%s)\n",
              platform_description().c_str());
  std::printf("figures to %s\n", options.csv_path.c_str());
  if (options.sections.find('3') != std::string::npos &&
      options.sections.find_first_of("45") != std::string::npos) {
    std::printf(
        "section 3 runs last: it is the only one that starts a "
        "thread\n");
  }
  std::fflush(stdout);

  Report report;
  auto wanted = [&](char section) {
    return options.sections.find(section) != std::string::npos;
  };
  // Section 3 runs last because it is the only one that starts a thread:
  // where 32-bit code is emulated, a process that has had several threads
  // can crash in Wine's OutputDebugStringA, which the module calls when a
  // launch fails (a rare, transient failure under load).
  if (wanted('1')) measure_overhead(options, report);
  if (wanted('2')) measure_floor(options, report);
  if (wanted('4')) measure_return_latency(options, report);
  if (wanted('5')) measure_scale(options, report);
  if (wanted('3')) measure_responsiveness(options, report);

  if (!report.write_csv(options.csv_path)) {
    std::fprintf(stderr, "hdwbench: cannot write %s\n",
                 options.csv_path.c_str());
    return 1;
  }
  std::printf("\nfigures written to %s\n", options.csv_path.c_str());
  if (unexpected_total > 0) {
    std::printf(
        "%d of %d calls ended otherwise than expected (shown with "
        "their sections)\n",
        unexpected_total, checked_total);
  }
  // A rare failed launch leaves the figures standing; more than one call in
  // a hundred means the benchmark did not measure what it says.
  if (unexpected_total * 100 > checked_total) {
    std::printf(
        "that is more than 1 %% of the calls: the figures do not "
        "stand\n");
    return 3;
  }
  return 0;
}
