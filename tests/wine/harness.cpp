#include "harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace hdw::test {

namespace {

constexpr char kCompanionKey[] = "SOFTWARE\\Tavrel\\KVT";
constexpr char kInstallDirValue[] = "InstallDir";
constexpr ULONG_PTR kHandleProbeLimit = 0x10000;

const char* known_area = nullptr;

ExecuteHDWProc load_module() {
  static ExecuteHDWProc execute = [] {
    HMODULE module = ::LoadLibraryA(beside_tests("ExecuteHDW.dll").c_str());
    if (!module) return ExecuteHDWProc{};
    return reinterpret_cast<ExecuteHDWProc>(
        reinterpret_cast<void*>(::GetProcAddress(module, "ExecuteHDW")));
  }();
  return execute;
}

HKEY create_companion_key() {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCompanionKey, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr));
  return key;
}

// Makes the fixed default directory and puts the sample companion in it, so
// that calls with a command line of their own have a directory to run in.
void install_companion() {
  ::CreateDirectoryA("C:\\Program Files", nullptr);
  ::CreateDirectoryA("C:\\Program Files\\tavrel", nullptr);
  ::CreateDirectoryA(kDefaultDirectory, nullptr);
  ::CopyFileA(beside_tests("KVT.exe").c_str(),
              (std::string(kDefaultDirectory) + "\\KVT.exe").c_str(), FALSE);
}

class ModuleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_NE(nullptr, load_module()) << "ExecuteHDW.dll did not load";
    install_companion();
    delete_companion_key();
    CallResult first = call(nullptr);
    ASSERT_NE(nullptr, first.returned) << "a registry failure returns the area";
  }

  // Leaves the companion registered, as the prefix had it.
  void TearDown() override { set_install_dir(kDefaultDirectory); }
};

const auto* const module_environment =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

}  // namespace

CallResult call(const char* command_line) {
  CallResult result;
  result.returned = load_module()(&result.started, command_line);
  if (result.returned && !known_area) known_area = result.returned;
  result.area = area_now();
  return result;
}

CallResult call(const std::string& command_line) {
  return call(command_line.c_str());
}

const char* call_without_started(const char* command_line) {
  return load_module()(nullptr, command_line);
}

const char* area_address() { return known_area; }

Area area_now() {
  Area area{};
  if (known_area) std::copy_n(known_area, area.size(), area.begin());
  return area;
}

void fill_area() {
  set_install_dir(std::string(28, 'F'));
  call("Z:\\no\\such\\program.exe");
}

std::string beside_tests(const char* file) {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  directory.resize(directory.find_last_of('\\') + 1);
  return directory + file;
}

std::string child(std::string_view arguments) {
  return "\"" + beside_tests("hdwchild.exe") + "\" " + std::string(arguments);
}

void set_install_dir(const std::string& directory) {
  set_install_dir_raw(
      REG_SZ, std::string_view(directory.c_str(), directory.size() + 1));
}

void set_install_dir_raw(DWORD type, std::string_view bytes) {
  HKEY key = create_companion_key();
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegSetValueExA(key, kInstallDirValue, 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())));
  ::RegCloseKey(key);
}

void delete_install_dir_value() {
  HKEY key = create_companion_key();
  ::RegDeleteValueA(key, kInstallDirValue);
  ::RegCloseKey(key);
}

void delete_companion_key() {
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCompanionKey);
}

LONG query_install_dir_like_module(std::string* directory) {
  HKEY key = nullptr;
  LONG status =
      ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCompanionKey, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return status;
  char buffer[1024] = {};
  DWORD type = REG_SZ;
  DWORD size = sizeof buffer;
  status = ::RegQueryValueExA(key, kInstallDirValue, nullptr, &type,
                              reinterpret_cast<BYTE*>(buffer), &size);
  ::RegCloseKey(key);
  directory->assign(buffer, ::strnlen(buffer, sizeof buffer));
  return status;
}

std::string temp_path(const char* name) {
  char directory[MAX_PATH];
  ::GetTempPathA(MAX_PATH, directory);
  std::string path = std::string(directory) + "hdw-" +
                     std::to_string(::GetCurrentProcessId()) + "-" + name;
  ::DeleteFileA(path.c_str());
  return path;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
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

std::string inherited_pipe_handles() {
  const std::string path = temp_path("inherited.txt");
  const CallResult result = call(child("handles " + path));
  EXPECT_STREQ("handles", result.returned);
  return read_file(path);
}

std::string hex(std::string_view bytes) {
  std::string shown;
  for (unsigned char byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02x ", byte);
    shown += digits;
  }
  if (!shown.empty()) shown.pop_back();
  return shown;
}

std::string hex(const Area& area) {
  return hex(std::string_view(area.data(), area.size()));
}

std::string block(std::string_view text) {
  std::string padded(text);
  padded.resize(outcome::kAnswerSize, '\0');
  return padded;
}

// A kept thread: waits for a task, runs it, signals, and waits again.
struct Worker {
  HANDLE has_task = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE done = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::function<void()> task;
  bool busy = false;

  static DWORD WINAPI loop(void* self) {
    auto* worker = static_cast<Worker*>(self);
    for (;;) {
      ::WaitForSingleObject(worker->has_task, INFINITE);
      worker->task();
      worker->task = nullptr;
      ::SetEvent(worker->done);
    }
  }
};

namespace {

SRWLOCK workers_lock = SRWLOCK_INIT;

std::vector<Worker*>& workers() {
  static std::vector<Worker*> kept;
  return kept;
}

Worker* idle_worker() {
  ::AcquireSRWLockExclusive(&workers_lock);
  Worker* chosen = nullptr;
  for (Worker* worker : workers()) {
    if (!worker->busy) {
      chosen = worker;
      break;
    }
  }
  if (!chosen) {
    chosen = new Worker;
    ::CloseHandle(
        ::CreateThread(nullptr, 0, &Worker::loop, chosen, 0, nullptr));
    workers().push_back(chosen);
  }
  chosen->busy = true;
  ::ReleaseSRWLockExclusive(&workers_lock);
  return chosen;
}

}  // namespace

bool started_threads() {
  ::AcquireSRWLockExclusive(&workers_lock);
  const bool any = !workers().empty();
  ::ReleaseSRWLockExclusive(&workers_lock);
  return any;
}

Worker* Thread::start(std::function<void()> task) {
  Worker* worker = idle_worker();
  worker->task = std::move(task);
  ::SetEvent(worker->has_task);
  return worker;
}

void Thread::join() {
  if (!worker_) return;
  ::WaitForSingleObject(worker_->done, INFINITE);
  ::AcquireSRWLockExclusive(&workers_lock);
  worker_->busy = false;
  ::ReleaseSRWLockExclusive(&workers_lock);
  worker_ = nullptr;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value)
    : name_(name) {
  ::SetEnvironmentVariableA(name, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
  ::SetEnvironmentVariableA(name_, nullptr);
}

}  // namespace hdw::test
