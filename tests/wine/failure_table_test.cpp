// Every exit of the call that ends before an answer is read: what it leaves
// in the launch-result integer, in the result area and as return value.
#include <gtest/gtest.h>

#include <functional>

#include "harness.h"

namespace hdw::test {
namespace {

using outcome::fixed_message_bytes;
using outcome::FixedMessage;

struct RegistryFailureCase {
  const char* name;
  std::function<void()> arrange;
  bool with_command_line;
  FixedMessage expected;
};

class RegistryFailure : public ::testing::TestWithParam<RegistryFailureCase> {};

TEST_P(RegistryFailure, StoresMessageAndLaunchesNothing) {
  const RegistryFailureCase& c = GetParam();
  fill_area();
  const Area before = area_now();
  c.arrange();
  const std::string report = temp_path("registry-report.txt");

  const CallResult result =
      c.with_command_line ? call(child("report " + report)) : call(nullptr);

  EXPECT_EQ(area_address(), result.returned);
  EXPECT_EQ(kStartedPreset, result.started) << "pStarted must stay untouched";
  const std::string head(result.area.data(), outcome::kAnswerSize);
  EXPECT_EQ(hex(block(fixed_message_bytes(c.expected))), hex(head));
  EXPECT_EQ(hex(std::string_view(before.data() + 20, 20)),
            hex(std::string_view(result.area.data() + 20, 20)))
      << "bytes 20 to 39 keep what an earlier outcome left";
  EXPECT_EQ("", read_file(report)) << "nothing may be launched";
}

const std::string kOverlongValue(1025, 'D');

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryFailure,
    ::testing::Values(
        RegistryFailureCase{"KeyMissing", delete_companion_key, false,
                            FixedMessage::RegistryKey},
        RegistryFailureCase{"KeyMissingWithCommandLine", delete_companion_key,
                            true, FixedMessage::RegistryKey},
        RegistryFailureCase{"ValueMissing", delete_install_dir_value, false,
                            FixedMessage::RegistryValue},
        RegistryFailureCase{"ValueMissingWithCommandLine",
                            delete_install_dir_value, true,
                            FixedMessage::RegistryValue},
        RegistryFailureCase{"ValueOver1024Bytes",
                            [] {
                              set_install_dir_raw(
                                  REG_SZ, std::string_view(
                                              kOverlongValue.c_str(), 1026));
                            },
                            false, FixedMessage::RegistryValue}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LaunchFailure, FillsAreaWithDefaultCommandLineAndErrorCode) {
  set_install_dir(kDefaultDirectory);

  const CallResult result = call("Z:\\no\\such\\program.exe");

  EXPECT_EQ(area_address(), result.returned);
  EXPECT_EQ(0, result.started);
  const std::string expected =
      std::string(kDefaultDirectory) + "\\KVT.exe d-2" + '\0';
  ASSERT_EQ(40u, expected.size());
  EXPECT_EQ(hex(expected), hex(result.area))
      << "the text names the default command line, not the caller's";
}

TEST(LaunchFailure, LongTextIsCutInsideTheArea) {
  set_install_dir(std::string(300, 'L'));

  const CallResult result = call(nullptr);

  EXPECT_EQ(0, result.started);
  EXPECT_EQ(hex(std::string(39, 'L') + '\0'), hex(result.area));
}

TEST(PipeFailure, ChildThatWritesNothingGivesPipeMessage) {
  set_install_dir(kDefaultDirectory);

  const CallResult result = call(child("nothing"));

  EXPECT_EQ(area_address(), result.returned);
  EXPECT_NE(0, result.started);
  EXPECT_EQ(hex(block(fixed_message_bytes(FixedMessage::Pipe))),
            hex(std::string_view(result.area.data(), 20)));
}

}  // namespace
}  // namespace hdw::test
