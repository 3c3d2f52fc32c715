// Runs the Wine suite. Where 32-bit code is emulated, a Wine process that
// has started threads of its own can crash on its way out after every test
// has passed; there such a process ends at once with the suite's status.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "harness.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  if (std::getenv("HDW_I386_EMULATED") && hdw::test::started_threads()) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  }
  return status;
}
