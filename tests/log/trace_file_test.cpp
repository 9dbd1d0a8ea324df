// CELog.TXT: where it lies, when it is written, its line form and size rule, a file deleted
// while the agent runs, and lines from several threads.
#include "log/trace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/temp_folder.h"

namespace perimo::log {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(TraceFilePath, CutAfterTheFirstBackslashBehindTheFirstCharacter) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\Program Files\\Perimo\\perimo", u"C:\\CELog.TXT"},
      {u"\\Windows\\Perimo\\perimo", u"\\Windows\\CELog.TXT"},
      {u"\\perimo", u"\\perimo\\CELog.TXT"},
      {u"\\\\?\\unix\\opt\\perimo\\perimo", u"\\\\?\\unix\\opt\\CELog.TXT"},
      {u"perimo", u"perimo\\CELog.TXT"},
  };
  for (const auto& [exe, expected] : cases) EXPECT_EQ(TraceFilePath(exe), expected);
}

class TraceFileTest : public ::testing::Test {
 protected:
  perimo::testing::TempFolder temp;
  fs::path path = fs::path(temp.path()) / "CELog.TXT";
};

TEST_F(TraceFileTest, WithoutTheFileNothingIsEverWritten) {
  TraceFile trace(path.string());
  trace.Write(u"Tx:06 ");
  EXPECT_FALSE(trace.enabled());
  // Created later: the decision of the first line holds.
  std::ofstream(path).close();
  trace.Write(u"Tx:06 ");
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(TraceFileTest, LinesEndInCrLfAndLineFeedsInsideToo) {
  std::ofstream(path).close();
  TraceFile trace(path.string());
  trace.Write(u"Tx:02 06 10 03 06 ");
  trace.Write(u"");
  trace.Write(u"one\ntwo");
  trace.Write(std::u16string(u"\u00E9\u0141", 2));  // the low byte of each unit
  EXPECT_TRUE(trace.enabled());
  EXPECT_EQ(Read(path), "Tx:02 06 10 03 06 \r\none\r\ntwo\r\n\xE9\x41\r\n");
}

TEST_F(TraceFileTest, AFileAboveTheLimitIsEmptiedBeforeTheNextLine) {
  for (size_t size : {size_t(64000), size_t(64001)}) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    TraceFile trace(path.string());
    trace.Write(u"Rx:41 ");
    const std::string text = Read(path);
    if (size == 64000) {
      EXPECT_EQ(text.size(), 64000u + 8);
    } else {
      EXPECT_EQ(text, "Rx:41 \r\n");
    }
  }
}

TEST_F(TraceFileTest, ADeletedFileIsNotCreatedAgain) {
  std::ofstream(path).close();
  TraceFile trace(path.string());
  trace.Write(u"a");
  fs::remove(path);
  trace.Write(u"b");
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(trace.enabled());
}

TEST_F(TraceFileTest, LinesFromSeveralThreadsStayWhole) {
  std::ofstream(path).close();
  TraceFile trace(path.string());
  const std::u16string line(200, u'A');
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::u16string mine = line;
      mine[0] = static_cast<char16_t>(u'0' + t);
      for (int i = 0; i < 50; ++i) trace.Write(mine);
    });
  }
  for (auto& t : threads) t.join();
  std::istringstream lines(Read(path));
  std::string one;
  int count = 0;
  while (std::getline(lines, one)) {
    ASSERT_EQ(one.size(), 201u);
    EXPECT_EQ(one.substr(1, 199), std::string(199, 'A'));
    ++count;
  }
  EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace perimo::log
