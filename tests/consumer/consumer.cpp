// Calls the module the way a C++ host does, then lets the C half call it
// too. Exit status 0 when both got the companion's answer.
#include "consumer.h"

#include <cstdio>
#include <optional>
#include <string>

#include "ExecuteHDW.h"

namespace {

constexpr std::size_t kAnswerSize = 20;

bool check_from_cpp() {
  int started = 0;
  const char* text = ExecuteHDW(&started, nullptr);
  // The text lives until the next call: take a copy (an answer is at most
  // 20 bytes and may have no terminator in them).
  std::optional<std::string> copy;
  if (text) copy = std::string(text, kAnswerSize).c_str();
  return consumer_judge("C++", copy ? copy->c_str() : nullptr, started) != 0;
}

}  // namespace

int main() {
  const bool cpp_ok = check_from_cpp();
  const bool c_ok = consumer_check_from_c() != 0;
  std::fflush(stdout);
  return cpp_ok && c_ok ? 0 : 1;
}
