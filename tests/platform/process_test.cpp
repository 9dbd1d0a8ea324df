#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "platform/paths.h"
#include "platform/shared_memory.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

using Words = std::vector<std::u16string>;

TEST(SplitCommandLine, FollowsTheWindowsQuotingRules) {
  struct Case {
    std::u16string_view line;
    Words words;
  };
  const Case cases[] = {
      {u"", {}},
      {u"   ", {}},
      {u"prog", {u"prog"}},
      {u"\"C:\\A B\\Run.EXE\" \"C:\\P\\x.app\"", {u"C:\\A B\\Run.EXE", u"C:\\P\\x.app"}},
      // Backslashes in the program name are literal, even before the closing quote.
      {u"\"C:\\dir\\\" arg", {u"C:\\dir\\", u"arg"}},
      {u"p a\tb  c", {u"p", u"a", u"b", u"c"}},
      {u"p \"a b\"c d", {u"p", u"a bc", u"d"}},
      {u"p \"\" x", {u"p", u"", u"x"}},
      {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},    // 3 backslashes + quote: \ and "
      {u"p a\\\\\"b c\"", {u"p", u"a\\b c"}},  // 2 backslashes + quote: \ and a quoted run
      {u"p a\\b\\\\c", {u"p", u"a\\b\\\\c"}},  // not before a quote: literal
      {u"p \"a\"\"b\"", {u"p", u"a\"b"}},      // doubled quote inside a quoted run
      {u"p \"open", {u"p", u"open"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.words) << ToUtf8(c.line);
  }
  EXPECT_EQ(SplitArguments(u" /RegServer"), Words{u"/RegServer"});
  EXPECT_EQ(SplitArguments(u"/PID 12 /Perimo \"C:\\A\\Bin\""),
            (Words{u"/PID", u"12", u"/Perimo", u"C:\\A\\Bin"}));
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { Drives().Set('C', folder.path()); }
  void TearDown() override { Drives() = DriveMap(); }

  void Script(const std::string& name, const std::string& body) {
    folder.Write(name, "#!/bin/sh\n" + body);
    chmod((folder / name).c_str(), 0755);
  }

  testing::TempFolder folder;
};

TEST_F(ProcessTest, StartsTheProgramWithTheArgumentsUnchanged) {
  Script("Run Me.EXE", "printf '%s|' \"$@\" > \"$(dirname \"$0\")/args\"\nexit 7\n");
  const auto pid = CreateProcess({}, u"\"C:\\run me.exe\" \"C:\\P\\x.app\" two");
  ASSERT_TRUE(pid);
  int code = 0;
  EXPECT_EQ(WaitForProcess(*pid, 10000, &code), WaitResult::kEnded);
  EXPECT_EQ(code, 7);
  EXPECT_EQ(folder.Read("args"), "C:\\P\\x.app|two|");

  const auto named = CreateProcess(u"C:\\Run Me.EXE", u"/PID 5 /Perimo \"C:\"");
  ASSERT_TRUE(named);
  EXPECT_EQ(WaitForProcess(*named, 10000), WaitResult::kEnded);
  EXPECT_EQ(folder.Read("args"), "/PID|5|/Perimo|C:|");
}

TEST_F(ProcessTest, MissingOrUnrunnableProgramsFail) {
  folder.Write("plain.exe", "not a program");
  EXPECT_FALSE(CreateProcess({}, u"\"C:\\nothing.exe\""));
  EXPECT_FALSE(CreateProcess({}, u"C:\\plain.exe"));
  EXPECT_FALSE(CreateProcess({}, u"  "));
  EXPECT_FALSE(CreateProcess({}, u"Q:\\unmapped.exe"));
}

TEST_F(ProcessTest, WaitStopsAtItsLimit) {
  Script("slow", "exec sleep 30\n");
  const auto pid = CreateProcess({}, u"C:\\slow");
  ASSERT_TRUE(pid);
  EXPECT_EQ(WaitForProcess(*pid, 50), WaitResult::kTimedOut);
  kill(*pid, SIGKILL);
  int code = 0;
  EXPECT_EQ(WaitForProcess(*pid, -1, &code), WaitResult::kEnded);
  EXPECT_EQ(code, 128 + SIGKILL);
}

TEST(SharedMemory, TwoMappingsOfOneNameShareTheirBytes) {
  testing::TempFolder windows;
  setenv("PERIMO_WINDOWS_DIR", windows.path().c_str(), 1);
  const std::u16string name = u"Local\\PerimoTest" + FromUtf8(std::to_string(getpid()));
  EXPECT_EQ(SharedMemoryObjectName(name).find('\\'), std::string::npos);
  SharedMemory writer;
  SharedMemory reader;
  EXPECT_FALSE(reader.Open(name, 512));
  ASSERT_TRUE(writer.CreateOrOpen(name, 512));
  ASSERT_TRUE(reader.Open(name, 512));
  std::memcpy(writer.data(), "task", 5);
  EXPECT_STREQ(static_cast<const char*>(reader.data()), "task");
  // Another windows folder is another session: another mapping.
  setenv("PERIMO_WINDOWS_DIR", (windows / "other").c_str(), 1);
  SharedMemory elsewhere;
  EXPECT_FALSE(elsewhere.Open(name, 512));
  setenv("PERIMO_WINDOWS_DIR", windows.path().c_str(), 1);
  shm_unlink(SharedMemoryObjectName(name).c_str());
  unsetenv("PERIMO_WINDOWS_DIR");
}

}  // namespace
}  // namespace perimo::platform
