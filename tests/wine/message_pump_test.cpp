// The wait keeps the calling thread's messages flowing: messages that arrive
// while the child runs are dispatched inside the call, and those still
// queued when the child has ended are left for the host.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "harness.h"

namespace hdw::test {
namespace {

constexpr UINT kCounted = WM_APP + 1;
constexpr UINT kBlocking = WM_APP + 2;
constexpr UINT kNested = WM_APP + 3;

std::atomic<int> counted{0};
constexpr int kNestingDepth = 3;
// What the call made at each nesting level returned, by level.
std::map<int, std::string> nested_answers;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  switch (message) {
    case kCounted:
      ++counted;
      return 0;
    case kBlocking:
      ++counted;
      // Outlives the child, so that it has ended once this returns.
      ::Sleep(static_cast<DWORD>(wparam));
      return 0;
    case kNested: {
      // Each level asks for one more level from inside its own wait.
      const int level = static_cast<int>(wparam);
      std::unique_ptr<Thread> deeper;
      if (level < kNestingDepth) {
        deeper = std::make_unique<Thread>([window, level] {
          ::Sleep(300);
          ::PostMessageA(window, kNested, level + 1, 0);
        });
      }
      const std::string answer = "level" + std::to_string(level);
      const CallResult inner = call(child("sleep 1200 " + answer));
      nested_answers[level] = inner.returned ? inner.returned : "(null)";
      return 0;
    }
    default:
      return ::DefWindowProcA(window, message, wparam, lparam);
  }
}

class MessagePump : public ::testing::Test {
 protected:
  void SetUp() override {
    set_install_dir(kDefaultDirectory);
    counted = 0;
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = ::GetModuleHandleA(nullptr);
    window_class.lpszClassName = "hdw-pump-test";
    ::RegisterClassA(&window_class);
    window_ = ::CreateWindowExA(0, "hdw-pump-test", "", 0, 0, 0, 0, 0,
                                HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window_);
    drain_queue();
  }

  void TearDown() override {
    drain_queue();
    ::DestroyWindow(window_);
  }

  // Posts messages to the window from another thread after a delay, while
  // the call waits for its child.
  Thread post_later(DWORD delay_ms, UINT message, int count,
                    WPARAM wparam = 0) {
    HWND window = window_;
    return Thread([=] {
      ::Sleep(delay_ms);
      for (int i = 0; i < count; ++i)
        ::PostMessageA(window, message, wparam, 0);
    });
  }

  static int drain_queue() {
    MSG message;
    int removed = 0;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ++removed;
    return removed;
  }

  HWND window_ = nullptr;
};

TEST_F(MessagePump, MessagePostedDuringWaitIsDispatchedInsideTheCall) {
  Thread poster = post_later(300, kCounted, 1);

  const CallResult result = call(child("sleep 2000 done"));
  poster.join();

  EXPECT_STREQ("done", result.returned);
  EXPECT_EQ(1, counted.load()) << "the call should have dispatched it";
}

TEST_F(MessagePump, MessagesQueuedWhenChildEndsStayForTheHost) {
  Thread poster = post_later(300, kBlocking, 5, 3000);

  const CallResult result = call(child("sleep 1200 done"));
  poster.join();

  EXPECT_STREQ("done", result.returned);
  EXPECT_EQ(1, counted.load()) << "one dispatch, then the poll saw the end";
  EXPECT_EQ(4, drain_queue()) << "the other messages stay queued";
}

TEST_F(MessagePump, NestedCallsThreeDeepEachKeepTheirOwnAnswer) {
  nested_answers.clear();
  Thread poster = post_later(300, kNested, 1, 1);

  const CallResult outer = call(child("sleep 2000 outer"));
  poster.join();

  for (int level = 1; level <= kNestingDepth; ++level) {
    EXPECT_EQ("level" + std::to_string(level), nested_answers[level])
        << "at nesting level " << level;
  }
  EXPECT_STREQ("outer", outer.returned);
}

TEST_F(MessagePump, SentMessageFromAnotherThreadIsHandledDuringTheWait) {
  HWND window = window_;
  std::atomic<bool> returned_during_call{false};
  std::atomic<bool> call_done{false};
  Thread sender([&] {
    ::Sleep(300);
    ::SendMessageA(window, kCounted, 0, 0);
    returned_during_call = !call_done.load();
  });

  const CallResult result = call(child("sleep 2500 done"));
  call_done = true;
  sender.join();

  EXPECT_STREQ("done", result.returned);
  EXPECT_EQ(1, counted.load());
  EXPECT_TRUE(returned_during_call.load())
      << "the sender was blocked until the child ended";
}

}  // namespace
}  // namespace hdw::test
