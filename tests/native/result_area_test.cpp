// Which bytes each store operation writes into the 40-byte area.
#include "result_area.h"

#include <gtest/gtest.h>

#include <string>

namespace hdw::outcome {
namespace {

std::string area_bytes(const ResultArea& area) {
  return std::string(area.data(), kResultAreaSize);
}

ResultArea area_filled_with(char byte) {
  ResultArea area;
  area.store_launch_failure(std::string(kResultAreaSize - 1, byte), "");
  return area;
}

struct FixedMessageCase {
  FixedMessage message;
  std::string expected;  // code page 936 bytes
};

class FixedMessages : public ::testing::TestWithParam<FixedMessageCase> {};

TEST_P(FixedMessages, WritesTextAndZerosToByteNineteenOnly) {
  const FixedMessageCase& c = GetParam();
  ResultArea area = area_filled_with('#');

  area.store_fixed_message(c.message);

  std::string expected = c.expected;
  expected.resize(kFixedMessageBlockSize, '\0');
  expected += std::string(19, '#') + '\0';
  EXPECT_EQ(expected, area_bytes(area));
}

INSTANTIATE_TEST_SUITE_P(
    Cp936, FixedMessages,
    ::testing::Values(
        FixedMessageCase{FixedMessage::RegistryKey,
                         "\xb6\xc1\xc8\xa1\xd7\xa2\xb2\xe1\xb1\xed\xb4\xed\xce"
                         "\xf3\x21"},
        FixedMessageCase{FixedMessage::RegistryValue,
                         "\xb6\xc1\xc8\xa1\xd7\xa2\xb2\xe1\xb1\xed\xbc\xfc\xd6"
                         "\xb5\xb4\xed\xce\xf3\x21"},
        FixedMessageCase{FixedMessage::Pipe,
                         "\xb6\xc1\xc8\xa1\xca\xfd\xbe\xdd\xb9\xdc\xb5\xc0\xb4"
                         "\xed\xce\xf3\x21"}));

TEST(LaunchFailure, FixedDirectoryAndOneDigitCodeFillExactlyFortyBytes) {
  ResultArea area = area_filled_with('#');

  area.store_launch_failure("C:\\Program Files\\tavrel\\KVT\\KVT.exe d",
                            format_error_text(2));

  EXPECT_EQ(std::string("C:\\Program Files\\tavrel\\KVT\\KVT.exe d-2") + '\0',
            area_bytes(area));
}

TEST(LaunchFailure, ShortTextLeavesTheRestAlone) {
  ResultArea area = area_filled_with('#');

  area.store_launch_failure("\\KVT.exe d", format_error_text(123));

  EXPECT_EQ(std::string("\\KVT.exe d-123") + '\0' + std::string(24, '#') + '\0',
            area_bytes(area));
}

TEST(LaunchFailure, OverlongTextIsCutToEndInZeroInsideTheArea) {
  ResultArea area;
  const std::string command_line(36, 'c');

  area.store_launch_failure(command_line, format_error_text(1234));

  EXPECT_EQ(command_line + "-12" + '\0', area_bytes(area));
}

TEST(ErrorText, SignedDecimalAfterMinus) {
  EXPECT_EQ("-2", format_error_text(2));
  EXPECT_EQ("-0", format_error_text(0));
  EXPECT_EQ("--2147024894", format_error_text(-2147024894));
}

TEST(Answer, WritesAllTwentyBytesAndReportsLeadingSpace) {
  ResultArea area = area_filled_with('#');
  Answer answer{};
  answer[0] = ' ';
  answer[1] = 'x';

  EXPECT_TRUE(area.store_answer(answer));

  EXPECT_EQ(
      std::string(" x") + std::string(18, '\0') + std::string(19, '#') + '\0',
      area_bytes(area));
}

TEST(Answer, EmptyAnswerIsNotASpace) {
  ResultArea area;
  EXPECT_FALSE(area.store_answer(Answer{}));
  EXPECT_EQ(std::string(kResultAreaSize, '\0'), area_bytes(area));
}

}  // namespace
}  // namespace hdw::outcome
