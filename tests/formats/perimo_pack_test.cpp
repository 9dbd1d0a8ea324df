// The perimo-pack tool, run as a separate program the way the end-to-end tests use it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/compressed_file.h"
#include "formats/format_test_support.h"

namespace perimo::test {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string output;  // standard output and standard error
};

class PerimoPack : public ::testing::Test {
 protected:
  void SetUp() override {
    // Beside this test program when PERIMO_BIN_DIR is not set.
    const char* bin = std::getenv("PERIMO_BIN_DIR");
    tool_ = (bin ? std::filesystem::path(bin)
                 : std::filesystem::read_symlink("/proc/self/exe").parent_path()) /
            "perimo-pack";
    if (::access(tool_.c_str(), X_OK) != 0) GTEST_SKIP() << "perimo-pack not built: " << tool_;
  }

  Outcome Run(const std::vector<std::string>& args) {
    const std::string log = dir_.Path("log");
    const pid_t child = ::fork();
    if (child == 0) {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      std::vector<char*> argv{tool_.data()};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(tool_.c_str(), argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Outcome outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes text = ReadFileBytes(log);
    outcome.output.assign(text.begin(), text.end());
    return outcome;
  }

  TempDir dir_;
  std::string tool_;
};

TEST_F(PerimoPack, CompressesWithEachMethodAsTheLibraryDoesAndExpandsBack) {
  const Bytes data = TextData(200000);
  WriteFileBytes(dir_.Path("in"), data);
  const struct {
    const char* option;
    int kind;
  } methods[] = {{"--lzss", kLzss}, {"--lzw", kLzw}, {"--huffman", kHuffman}, {"--plain", kPlain}};
  for (const auto& method : methods) {
    SCOPED_TRACE(method.option);
    ASSERT_EQ(Run({"compress", method.option, dir_.Path("in"), dir_.Path("packed")}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(dir_.Path("packed")), Compress(method.kind, data));
    ASSERT_EQ(Run({"expand", dir_.Path("packed"), dir_.Path("out")}).exitCode, 0);
    EXPECT_TRUE(ReadFileBytes(dir_.Path("out")) == data);
  }
  // LZSS when no method is named.
  ASSERT_EQ(Run({"compress", dir_.Path("in"), dir_.Path("packed")}).exitCode, 0);
  EXPECT_EQ(DetectCompression(dir_.Path("packed")), kLzss);
  const Outcome info = Run({"info", dir_.Path("packed")});
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_NE(info.output.find("LZSS"), std::string::npos);
  EXPECT_NE(info.output.find("original size: 200000"), std::string::npos);
}

TEST_F(PerimoPack, FailedExpansionExplainsAndLeavesNoOutput) {
  Bytes image = Compress(kLzw, TextData(50000));
  image.resize(image.size() / 2);
  WriteFileBytes(dir_.Path("cut"), image);
  const Outcome cut = Run({"expand", dir_.Path("cut"), dir_.Path("out")});
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_NE(cut.output.find("cut short"), std::string::npos) << cut.output;
  const Outcome missing = Run({"expand", dir_.Path("missing"), dir_.Path("out")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find("No such file"), std::string::npos) << missing.output;
  // Nothing but the inputs and the log is left in the folder.
  EXPECT_FALSE(FileExists(dir_.Path("out")));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.Path(""))) {
    ++entries;
  }
  EXPECT_EQ(entries, 2u);
}

TEST_F(PerimoPack, WrongUsageExitsWithTwo) {
  EXPECT_EQ(Run({}).exitCode, 2);
  EXPECT_EQ(Run({"squash", "a", "b"}).exitCode, 2);
  EXPECT_EQ(Run({"compress", "--lzw", "--lzss", "a", "b"}).exitCode, 2);
  EXPECT_EQ(Run({"compress", "only-one"}).exitCode, 2);
  EXPECT_EQ(Run({"expand", "--lzw", "a", "b"}).exitCode, 2);
  const Outcome help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("perimo-pack compress"), std::string::npos);
}

}  // namespace
}  // namespace perimo::test
