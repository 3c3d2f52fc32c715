// The command line the child gets and the directory it runs in. A copy of
// the test child stands in for the companion: called as "KVT.exe d" it
// writes its command line and working directory to a report file.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

namespace hdw::test {
namespace {

class CommandLine : public ::testing::Test {
 protected:
  // Makes a directory holding the stand-in companion and returns it.
  static std::string companion_directory(const char* name) {
    const std::string directory = temp_path(name);
    ::CreateDirectoryA(directory.c_str(), nullptr);
    EXPECT_TRUE(::CopyFileA(beside_tests("hdwchild.exe").c_str(),
                            (directory + "\\KVT.exe").c_str(), FALSE));
    return directory;
  }

  struct Report {
    std::string command_line;
    std::string directory;
  };

  // Runs one call with the stand-in reporting, and reads the report.
  static Report run(const char* command_line) {
    const std::string path = temp_path("child-report.txt");
    ScopedEnvironment report_to("HDW_CHILD_REPORT", path);
    const CallResult result = command_line ? call(command_line) : call(nullptr);
    EXPECT_NE(0, result.started);
    const std::string contents = read_file(path);
    const std::size_t first_end = contents.find('\n');
    if (first_end == std::string::npos) return {};
    return {contents.substr(0, first_end),
            contents.substr(first_end + 1, contents.find('\n', first_end + 1) -
                                               first_end - 1)};
  }

  static std::string current_directory() {
    char directory[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, directory);
    return directory;
  }
};

struct StoredValueCase {
  const char* name;
  const char* directory_name;  // made in the temporary directory
  DWORD type;
  const char* stored_suffix;  // stored after the directory, zero included
  std::size_t suffix_size;
  const char* expected_separator;
};

class StoredValue : public CommandLine,
                    public ::testing::WithParamInterface<StoredValueCase> {};

TEST_P(StoredValue, DefaultCommandLineIsDirectoryThenCompanion) {
  const StoredValueCase& c = GetParam();
  const std::string directory = companion_directory(c.directory_name);
  set_install_dir_raw(c.type,
                      directory + std::string(c.stored_suffix, c.suffix_size));

  const Report report = run(nullptr);

  // Wine shows a child whose program path holds a space that path in
  // quotes, although the module passes it without; compare without them.
  std::string seen = report.command_line;
  seen.erase(std::remove(seen.begin(), seen.end(), '"'), seen.end());
  EXPECT_EQ(directory + c.expected_separator + "KVT.exe d", seen);
  EXPECT_EQ(current_directory(), report.directory)
      << "the default command line runs in the host's directory";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredValue,
    ::testing::Values(StoredValueCase{"Text", "kvt-text", REG_SZ, "\0", 1,
                                      "\\"},
                      StoredValueCase{"SpaceInPathNotQuoted", "kvt with space",
                                      REG_SZ, "\0", 1, "\\"},
                      StoredValueCase{"TrailingBackslashKept", "kvt-slash",
                                      REG_SZ, "\\\0", 2, "\\\\"},
                      StoredValueCase{"BinaryUpToZeroByte", "kvt-binary",
                                      REG_BINARY, "\0junk", 5, "\\"},
                      StoredValueCase{"ExpandableNotExpanded", "kvt-%TEMP%",
                                      REG_EXPAND_SZ, "\0", 1, "\\"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandLine, HostCommandLineRunsUnchangedInFixedDirectory) {
  set_install_dir(kDefaultDirectory);
  const std::string path = temp_path("own-report.txt");
  const std::string command_line = child("report " + path);

  const CallResult result = call(command_line);

  EXPECT_NE(0, result.started);
  const std::string contents = read_file(path);
  EXPECT_EQ(command_line + "\n" + kDefaultDirectory + "\n", contents);
}

struct UnlaunchableCase {
  const char* name;
  DWORD type;
  std::string stored;
  const char* expected_prefix;
};

class UnlaunchableValue : public ::testing::TestWithParam<UnlaunchableCase> {};

TEST_P(UnlaunchableValue, LaunchFailureNamesTheRawValue) {
  const UnlaunchableCase& c = GetParam();
  set_install_dir_raw(c.type, c.stored);

  const CallResult result = call(nullptr);

  EXPECT_EQ(0, result.started);
  EXPECT_EQ(area_address(), result.returned);
  const std::string text(result.area.data());
  EXPECT_EQ(0u, text.rfind(c.expected_prefix, 0))
      << "expected a text beginning " << c.expected_prefix << ", got " << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnlaunchableValue,
    ::testing::Values(
        UnlaunchableCase{"Empty", REG_SZ, std::string("\0", 1), "\\KVT.exe d-"},
        UnlaunchableCase{"NumberAsRawBytes", REG_DWORD, std::string("ABC\0", 4),
                         "ABC\\KVT.exe d-"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FullBuffer, ValueOf1024BytesWithoutZeroIsReadAsThePlatformGivesIt) {
  const std::string stored(1024, 'Q');
  set_install_dir_raw(REG_SZ, stored);
  std::string platform_reads;
  const LONG status = query_install_dir_like_module(&platform_reads);

  const CallResult result = call(nullptr);

  if (status == ERROR_SUCCESS) {
    ASSERT_EQ(stored, platform_reads);
    EXPECT_EQ(0, result.started);
    EXPECT_EQ(hex(std::string(39, 'Q') + '\0'), hex(result.area));
  } else {
    EXPECT_EQ(kStartedPreset, result.started);
    EXPECT_EQ(hex(block(outcome::fixed_message_bytes(
                  outcome::FixedMessage::RegistryValue))),
              hex(std::string_view(result.area.data(), 20)));
  }
}

}  // namespace
}  // namespace hdw::test
