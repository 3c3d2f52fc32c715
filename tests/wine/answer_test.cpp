// The child's answer: the first 20 bytes it wrote, unconverted, and a null
// return when it begins with a space.
#include <gtest/gtest.h>

#include "harness.h"

namespace hdw::test {
namespace {

struct AnswerCase {
  const char* name;
  const char* child_arguments;
  std::string expected_block;
  bool returns_area;
};

class Answer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(Answer, FirstTwentyBytesReachTheArea) {
  const AnswerCase& c = GetParam();
  set_install_dir(kDefaultDirectory);

  const CallResult result = call(child(c.child_arguments));

  EXPECT_NE(0, result.started);
  EXPECT_EQ(c.returns_area ? area_address() : nullptr, result.returned);
  EXPECT_EQ(hex(c.expected_block),
            hex(std::string_view(result.area.data(), outcome::kAnswerSize)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Answer,
    ::testing::Values(
        AnswerCase{"ThreeBytes", "write abc", block("abc"), true},
        AnswerCase{"LeadingSpaceReturnsNull", "write \\x20abc", block(" abc"),
                   false},
        AnswerCase{"ThirtyBytesGiveTwenty",
                   "write 012345678901234567890123456789",
                   "01234567890123456789", true},
        AnswerCase{"LineEndingKept", "write ok\\r\\n", block("ok\r\n"), true},
        AnswerCase{"Cp936BytesKept", "write \\xb6\\xc1", block("\xb6\xc1"),
                   true},
        AnswerCase{"NonzeroExitStatus", "exit 3 done", block("done"), true},
        AnswerCase{"AfterSleeping", "sleep 700 late", block("late"), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Answer, DefaultCommandLineRunsTheCompanion) {
  set_install_dir(kDefaultDirectory);

  const CallResult result = call(nullptr);

  EXPECT_NE(0, result.started);
  ASSERT_EQ(area_address(), result.returned);
  EXPECT_STREQ("KVT:ready", result.returned);
}

}  // namespace
}  // namespace hdw::test
