// The module-wide result area and the rules that fill it.
//
// Everything a call reports goes through one 40-byte area whose address the
// call returns. Each outcome writes a prefix of the area starting at byte 0;
// the bytes after that prefix keep whatever an earlier outcome left there.
// This file is free of platform calls so that it builds and is tested on any
// host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hdw::outcome {

inline constexpr std::size_t kResultAreaSize = 40;
inline constexpr std::size_t kAnswerSize = 20;
// Every fixed message is stored as exactly this many bytes: the text, a zero
// byte, then zero bytes up to the end of the block.
inline constexpr std::size_t kFixedMessageBlockSize = 20;
inline constexpr unsigned char kSpace = 0x20;

enum class FixedMessage {
  RegistryKey,    // the companion's registry key cannot be opened
  RegistryValue,  // its install directory value cannot be read
  Pipe,           // the child's answer cannot be read
};

// The message's bytes in code page 936, without a terminator.
std::string_view fixed_message_bytes(FixedMessage message);

// The block that the child's answer is read into: the bytes the child wrote,
// at most 20, followed by zero bytes.
using Answer = std::array<unsigned char, kAnswerSize>;

// A system error code in the form the call reports it: "-%d".
std::string format_error_text(std::int32_t code);

class ResultArea {
 public:
  // Address handed to the host; the same for the life of the area.
  char* data() { return bytes_.data(); }
  const char* data() const { return bytes_.data(); }

  // Writes the message, a zero byte and zero bytes up to byte 19.
  void store_fixed_message(FixedMessage message);

  // Writes the command line, the error text and a zero byte. A text that
  // does not fit is cut so that the stored text still ends in a zero byte
  // inside the area.
  void store_launch_failure(std::string_view command_line,
                            std::string_view error_text);

  // Writes all 20 bytes of the answer block into bytes 0 to 19. Returns
  // true when the answer begins with a space, which makes the call return
  // null.
  bool store_answer(const Answer& answer);

 private:
  std::array<char, kResultAreaSize> bytes_{};
};

}  // namespace hdw::outcome
