#include "result_area.h"

#include <algorithm>
#include <cstdio>

namespace hdw::outcome {

namespace {

// 读取注册表错误!
constexpr char kRegistryKeyMessage[] =
    "\xb6\xc1\xc8\xa1\xd7\xa2\xb2\xe1\xb1\xed\xb4\xed\xce\xf3\x21";
// 读取注册表键值错误!
constexpr char kRegistryValueMessage[] =
    "\xb6\xc1\xc8\xa1\xd7\xa2\xb2\xe1\xb1\xed\xbc\xfc\xd6\xb5\xb4\xed\xce\xf3"
    "\x21";
// 读取数据管道错误!
constexpr char kPipeMessage[] =
    "\xb6\xc1\xc8\xa1\xca\xfd\xbe\xdd\xb9\xdc\xb5\xc0\xb4\xed\xce\xf3\x21";

template <std::size_t N>
constexpr std::string_view without_terminator(const char (&text)[N]) {
  return std::string_view(text, N - 1);
}

static_assert(without_terminator(kRegistryValueMessage).size() <
              kFixedMessageBlockSize);

}  // namespace

std::string_view fixed_message_bytes(FixedMessage message) {
  switch (message) {
    case FixedMessage::RegistryKey:
      return without_terminator(kRegistryKeyMessage);
    case FixedMessage::RegistryValue:
      return without_terminator(kRegistryValueMessage);
    case FixedMessage::Pipe:
      return without_terminator(kPipeMessage);
  }
  return {};
}

std::string format_error_text(std::int32_t code) {
  char text[16];
  const int length =
      std::snprintf(text, sizeof text, "-%ld", static_cast<long>(code));
  return std::string(text, static_cast<std::size_t>(length));
}

void ResultArea::store_fixed_message(FixedMessage message) {
  const std::string_view text = fixed_message_bytes(message);
  std::fill_n(bytes_.begin(), kFixedMessageBlockSize, '\0');
  std::copy(text.begin(), text.end(), bytes_.begin());
}

void ResultArea::store_launch_failure(std::string_view command_line,
                                      std::string_view error_text) {
  constexpr std::size_t kTextRoom = kResultAreaSize - 1;
  const std::size_t from_command_line =
      std::min(command_line.size(), kTextRoom);
  const std::size_t from_error_text =
      std::min(error_text.size(), kTextRoom - from_command_line);
  auto out =
      std::copy_n(command_line.begin(), from_command_line, bytes_.begin());
  out = std::copy_n(error_text.begin(), from_error_text, out);
  *out = '\0';
}

bool ResultArea::store_answer(const Answer& answer) {
  std::copy(answer.begin(), answer.end(), bytes_.begin());
  return answer[0] == kSpace;
}

}  // namespace hdw::outcome
