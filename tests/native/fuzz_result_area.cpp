// libFuzzer target for the result area.
//
// Each input is read as a sequence of operations applied to one ResultArea
// that sits between guard bytes in a larger buffer. Before each operation the
// whole buffer is copied; the copy is then changed only where the operation
// may write, and the buffer must equal it afterwards. The guard bytes are
// also poisoned for AddressSanitizer while an operation runs, so any access
// outside the 40 bytes is reported where it happens.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "result_area.h"

namespace {

using hdw::outcome::Answer;
using hdw::outcome::fixed_message_bytes;
using hdw::outcome::FixedMessage;
using hdw::outcome::format_error_text;
using hdw::outcome::kAnswerSize;
using hdw::outcome::kFixedMessageBlockSize;
using hdw::outcome::kResultAreaSize;
using hdw::outcome::kSpace;
using hdw::outcome::ResultArea;

#define HDW_CHECK(condition)                                                \
  do {                                                                      \
    if (!(condition)) {                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                             \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

constexpr std::size_t kGuardSize = 64;
constexpr std::size_t kFrameSize = kGuardSize + kResultAreaSize + kGuardSize;
// Long enough to need cutting: the area holds at most 39 text bytes.
constexpr std::size_t kMaxTextLength = 2 * kResultAreaSize;

using FrameBytes = std::array<unsigned char, kFrameSize>;

class Frame {
 public:
  explicit Frame(unsigned char seed) {
    for (std::size_t i = 0; i < kFrameSize; ++i) {
      bytes_[i] = static_cast<unsigned char>(0xa5 ^ (i * 29));
    }
    area_ = new (bytes_.data() + kGuardSize) ResultArea;
    // Start from bytes that differ position by position, so that a write
    // to the wrong place or a shifted copy shows.
    for (std::size_t i = 0; i < kResultAreaSize; ++i) {
      area_->data()[i] = static_cast<char>(seed + i * 37);
    }
  }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  ResultArea& area() { return *area_; }
  FrameBytes snapshot() const { return bytes_; }

  // Guards are poisoned only while an operation runs: reading them for the
  // comparison afterwards must not trip AddressSanitizer.
  void poison_guards() {
    ASAN_POISON_MEMORY_REGION(bytes_.data(), kGuardSize);
    ASAN_POISON_MEMORY_REGION(bytes_.data() + kGuardSize + kResultAreaSize,
                              kGuardSize);
  }
  void unpoison_guards() {
    ASAN_UNPOISON_MEMORY_REGION(bytes_.data(), kFrameSize);
  }

  void check_equals(const FrameBytes& expected) const {
    HDW_CHECK(reinterpret_cast<const unsigned char*>(area_->data()) ==
              bytes_.data() + kGuardSize);
    HDW_CHECK(std::memcmp(bytes_.data(), expected.data(), kFrameSize) == 0);
  }

 private:
  alignas(ResultArea) FrameBytes bytes_;
  ResultArea* area_;
};

unsigned char* area_in(FrameBytes& frame) { return frame.data() + kGuardSize; }

void fixed_message(FuzzedDataProvider& input, Frame& frame,
                   FrameBytes& expected) {
  const auto message =
      static_cast<FixedMessage>(input.ConsumeIntegralInRange<int>(0, 2));
  const std::string_view text = fixed_message_bytes(message);
  HDW_CHECK(!text.empty() && text.size() < kFixedMessageBlockSize);

  frame.area().store_fixed_message(message);

  unsigned char* area = area_in(expected);
  std::fill_n(area, kFixedMessageBlockSize, 0);
  std::memcpy(area, text.data(), text.size());
}

void launch_failure(FuzzedDataProvider& input, Frame& frame,
                    FrameBytes& expected) {
  const std::string command_line =
      input.ConsumeRandomLengthString(kMaxTextLength);
  const std::string error_text =
      input.ConsumeBool() ? format_error_text(input.ConsumeIntegral<int32_t>())
                          : input.ConsumeRandomLengthString(kMaxTextLength);

  frame.area().store_launch_failure(command_line, error_text);

  const std::string text = command_line + error_text;
  const std::size_t stored = std::min(text.size(), kResultAreaSize - 1);
  unsigned char* area = area_in(expected);
  std::memcpy(area, text.data(), stored);
  area[stored] = 0;  // the terminator, at byte 39 at the latest
}

void answer(FuzzedDataProvider& input, Frame& frame, FrameBytes& expected) {
  Answer block{};
  input.ConsumeData(block.data(), block.size());

  const bool leading_space = frame.area().store_answer(block);

  HDW_CHECK(leading_space == (block[0] == kSpace));
  std::memcpy(area_in(expected), block.data(), kAnswerSize);
}

void error_text(FuzzedDataProvider& input) {
  const int32_t code = input.ConsumeIntegral<int32_t>();
  char reference[32];
  const int length = std::snprintf(reference, sizeof reference, "-%d", code);
  HDW_CHECK(length > 0 && static_cast<std::size_t>(length) < sizeof reference);

  HDW_CHECK(format_error_text(code) ==
            std::string(reference, static_cast<std::size_t>(length)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Frame frame(input.ConsumeIntegral<unsigned char>());

  while (input.remaining_bytes() > 0) {
    FrameBytes expected = frame.snapshot();
    frame.poison_guards();
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        fixed_message(input, frame, expected);
        break;
      case 1:
        launch_failure(input, frame, expected);
        break;
      case 2:
        answer(input, frame, expected);
        break;
      default:
        error_text(input);
        break;
    }
    frame.unpoison_guards();
    frame.check_equals(expected);
  }
  return 0;
}
