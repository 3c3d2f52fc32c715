// Faults and bad input the call must survive without crashing or hanging
// the host, and without disturbing the next call.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdlib>
#include <functional>

#include "harness.h"

namespace hdw::test {
namespace {

using outcome::FixedMessage;

std::string head(const CallResult& result) {
  return hex(std::string_view(result.area.data(), outcome::kAnswerSize));
}

std::string message_block(FixedMessage message) {
  return hex(block(outcome::fixed_message_bytes(message)));
}

TEST(Hardening, NullStartedSlotIsSkipped) {
  set_install_dir(kDefaultDirectory);

  EXPECT_STREQ("fine", call_without_started(child("write fine").c_str()));
  EXPECT_EQ(area_address(), call_without_started("Z:\\no\\such\\program.exe"));
  delete_companion_key();
  EXPECT_EQ(area_address(), call_without_started(nullptr));
}

TEST(HardeningThreaded, QuitPostedDuringWaitReachesHostAfterTheCall) {
  set_install_dir(kDefaultDirectory);
  const DWORD thread_id = ::GetCurrentThreadId();
  MSG message;
  ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // make the queue
  Thread poster([=] {
    ::Sleep(300);
    ::PostThreadMessageA(thread_id, WM_QUIT, 42, 0);
  });

  const CallResult result = call(child("sleep 1500 done"));
  poster.join();

  EXPECT_STREQ("done", result.returned) << "the call keeps waiting";
  ASSERT_TRUE(::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(static_cast<UINT>(WM_QUIT), message.message);
  EXPECT_EQ(42u, message.wParam);
}

TEST(Hardening, CrashingChildGivesPipeMessage) {
  set_install_dir(kDefaultDirectory);

  const CallResult result = call(child("crash"));

  EXPECT_NE(0, result.started);
  EXPECT_EQ(area_address(), result.returned);
  EXPECT_EQ(message_block(FixedMessage::Pipe), head(result));
}

// Ends every running test child of this process.
void terminate_children() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more;
       more = ::Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID != ::GetCurrentProcessId()) continue;
    if (_stricmp(entry.szExeFile, "hdwchild.exe") != 0) continue;
    const HANDLE process =
        ::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process) {
      ::TerminateProcess(process, 9);
      ::CloseHandle(process);
    }
  }
  ::CloseHandle(snapshot);
}

TEST(HardeningThreaded, ChildKilledDuringWaitEndsTheCall) {
  set_install_dir(kDefaultDirectory);
  Thread killer([] {
    ::Sleep(800);
    terminate_children();
  });
  const ULONGLONG start = ::GetTickCount64();

  const CallResult result = call(child("sleep 30000 never"));
  killer.join();

  EXPECT_LT(::GetTickCount64() - start, 20000u);
  EXPECT_NE(0, result.started);
  EXPECT_EQ(message_block(FixedMessage::Pipe), head(result));
}

TEST(HardeningThreaded, TwoThreadsCallingAtOnceNeitherCrashNorHang) {
  if (std::getenv("HDW_I386_EMULATED")) {
    GTEST_SKIP() << "32-bit code is emulated here (qemu-i386), and Wine's "
                    "threads calling into it at once crash the emulator";
  }
  set_install_dir(kDefaultDirectory);
  constexpr int kCallsEach = 50;
  std::atomic<int> unexpected{0};
  auto caller = [&](const char* arguments) {
    for (int i = 0; i < kCallsEach; ++i) {
      const std::string command_line = child(arguments);
      const char* text = call_without_started(command_line.c_str());
      // The area is shared, so either thread's answer may be there.
      if (!text || (std::string(text) != "AAA" && std::string(text) != "BBB")) {
        ++unexpected;
      }
    }
  };

  Thread first(caller, "write AAA");
  Thread second(caller, "write BBB");
  first.join();
  second.join();

  EXPECT_EQ(0, unexpected.load());
}

struct BadInputCase {
  const char* name;
  std::function<void()> arrange;
  std::function<std::string()> command_line;  // empty: the default one
  std::function<void(const CallResult&)> check;
};

void expect_launch_failure_prefix(const CallResult& result,
                                  const std::string& prefix) {
  EXPECT_EQ(0, result.started);
  const std::string text(result.area.data(),
                         ::strnlen(result.area.data(), result.area.size()));
  EXPECT_LT(text.size(), result.area.size()) << "text must end inside";
  EXPECT_EQ(0u, text.rfind(prefix.substr(0, text.size()), 0))
      << "expected a text beginning " << prefix << ", got " << text;
}

void expect_registry_value_message(const CallResult& result) {
  EXPECT_EQ(kStartedPreset, result.started);
  EXPECT_EQ(message_block(FixedMessage::RegistryValue), head(result));
}

void set_text_of_length(std::size_t length) {
  set_install_dir(std::string(length, 'V'));
}

class BadInput : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(BadInput, OutcomeAsDefinedAndNextCallStillCorrect) {
  const BadInputCase& c = GetParam();
  c.arrange();

  const CallResult result =
      c.command_line ? call(c.command_line()) : call(nullptr);
  c.check(result);

  set_install_dir(kDefaultDirectory);
  EXPECT_STREQ("after", call(child("write after")).returned);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInput,
    ::testing::Values(
        BadInputCase{"CommandLineOf40000Bytes",
                     [] { set_install_dir(kDefaultDirectory); },
                     [] { return "Z:\\" + std::string(40000, 'x'); },
                     [](const CallResult& r) {
                       expect_launch_failure_prefix(
                           r, std::string(kDefaultDirectory) + "\\KVT.exe d-");
                     }},
        BadInputCase{"EmptyCommandLine",
                     [] { set_install_dir(kDefaultDirectory); },
                     [] { return std::string(); },
                     [](const CallResult& r) {
                       expect_launch_failure_prefix(
                           r, std::string(kDefaultDirectory) + "\\KVT.exe d-");
                     }},
        BadInputCase{"Value1023Bytes",
                     [] { set_text_of_length(1023); },
                     {},
                     [](const CallResult& r) {
                       expect_launch_failure_prefix(r, std::string(39, 'V'));
                     }},
        BadInputCase{"Value1025Bytes",
                     [] { set_text_of_length(1025); },
                     {},
                     expect_registry_value_message},
        BadInputCase{"EmptyValue",
                     [] { set_install_dir(""); },
                     {},
                     [](const CallResult& r) {
                       expect_launch_failure_prefix(r, "\\KVT.exe d-");
                     }},
        BadInputCase{"ZeroByteNone",
                     [] { set_install_dir_raw(REG_NONE, ""); },
                     {},
                     [](const CallResult& r) {
                       expect_launch_failure_prefix(r, "\\KVT.exe d-");
                     }},
        BadInputCase{"MultiStringTakesFirst",
                     [] {
                       set_install_dir_raw(
                           REG_MULTI_SZ, std::string("Q:\\m1\0Q:\\m2\0\0", 13));
                     },
                     {},
                     [](const CallResult& r) {
                       expect_launch_failure_prefix(r, "Q:\\m1\\KVT.exe d-");
                     }},
        BadInputCase{"DirectoryMakingHundredsOfBytes",
                     [] { set_install_dir("Q:\\" + std::string(600, 'h')); },
                     {},
                     [](const CallResult& r) {
                       expect_launch_failure_prefix(
                           r, "Q:\\" + std::string(600, 'h'));
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

std::size_t private_bytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(),
                         reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
  return counters.PrivateUsage;
}

TEST(Soak, TwoThousandCallsLeaveNothingBehind) {
  constexpr int kCalls = 2000;
  constexpr std::size_t kMemoryGrowthLimit = 64 * 1024;
  set_install_dir(kDefaultDirectory);
  const std::string command_line = child("write ok");
  call(command_line);  // whatever the platform sets up on first use
  const std::string inherited_before = inherited_pipe_handles();
  const int handles_before = count_handles();
  const std::size_t memory_before = private_bytes();

  int wrong_answers = 0;
  for (int i = 0; i < kCalls; ++i) {
    const CallResult result = call(command_line);
    if (!result.returned || std::string(result.returned) != "ok") {
      ++wrong_answers;
    }
  }

  EXPECT_EQ(0, wrong_answers);
  EXPECT_EQ(handles_before, count_handles());
  const std::size_t memory_after = private_bytes();
  EXPECT_LE(memory_after, memory_before + kMemoryGrowthLimit)
      << "private memory grew from " << memory_before << " to " << memory_after;
  EXPECT_EQ(inherited_before, inherited_pipe_handles())
      << "a child after the soak inherits nothing from the soak's calls";
}

}  // namespace
}  // namespace hdw::test
