// What the call leaves behind: no handles, no inheritable pipe ends, one
// result area at one address; and no wait on a pipe that a grandchild keeps
// open.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "harness.h"

namespace hdw::test {
namespace {

// One call for each way the call can end.
void call_every_outcome() {
  set_install_dir(kDefaultDirectory);
  call(child("write abc"));
  call(child("write \\x20space"));
  call(child("nothing"));
  call("Z:\\no\\such\\program.exe");
  delete_install_dir_value();
  call(nullptr);
  delete_companion_key();
  call(child("write abc"));
}

TEST(Resources, NoHandleOutlivesTheCall) {
  call_every_outcome();  // whatever the platform caches on first use
  const int before = count_handles();

  for (int round = 0; round < 3; ++round) call_every_outcome();

  EXPECT_EQ(before, count_handles());
}

TEST(Resources, EveryReturnedAddressIsTheResultArea) {
  set_install_dir(kDefaultDirectory);
  const std::vector<const char*> returned = {
      call(child("write one")).returned,
      call(child("nothing")).returned,
      call("Z:\\no\\such\\program.exe").returned,
      call(nullptr).returned,
  };
  for (const char* address : returned) EXPECT_EQ(area_address(), address);
}

TEST(Resources, LaterChildInheritsNothingFromEarlierCalls) {
  set_install_dir(kDefaultDirectory);
  const std::string first = inherited_pipe_handles();

  call_every_outcome();
  set_install_dir(kDefaultDirectory);
  const std::string later = inherited_pipe_handles();

  EXPECT_EQ(first, later) << "pipe handles a child holds, one per line";
  EXPECT_LE(2, std::count(first.begin(), first.end(), '\n'))
      << "its own standard input and output are pipes";
}

TEST(Resources, GrandchildHoldingThePipeDoesNotHoldTheCall) {
  set_install_dir(kDefaultDirectory);
  const ULONGLONG start = ::GetTickCount64();

  const CallResult result = call(child("grandchild"));

  const ULONGLONG elapsed_ms = ::GetTickCount64() - start;
  EXPECT_NE(0, result.started);
  EXPECT_EQ(
      hex(block(outcome::fixed_message_bytes(outcome::FixedMessage::Pipe))),
      hex(std::string_view(result.area.data(), 20)));
  EXPECT_LT(elapsed_ms, 15000u)
      << "the call waited for the grandchild (it lives 20 s)";
}

}  // namespace
}  // namespace hdw::test
