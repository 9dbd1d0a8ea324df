#include "dataprot/data_protection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"

namespace perimo::dataprot {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class DataProtectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/perimo-dataprot-XXXXXX";
    root = mkdtemp(pattern);
    fs::create_directories(root / "Bin");
    platform::Drives().Set('C', root.string());
  }
  void TearDown() override {
    platform::Drives() = platform::DriveMap();
    fs::remove_all(root);
  }
  fs::path root;
};

TEST_F(DataProtectionTest, CopiesMissingFilesAndNeverOverwrites) {
  std::ofstream(root / "Bin" / "MFC90U.dll") << "bin";
  std::ofstream(root / "Bin" / "msvcr90.dll") << "bin";
  std::ofstream(root / "Bin" / "other.dll") << "bin";
  std::ofstream(root / "msvcr90.dll") << "kept";
  CopyLibraryFiles(u"C:");
  EXPECT_EQ(ReadFile(root / "MFC90U.dll"), "bin");
  EXPECT_EQ(ReadFile(root / "msvcr90.dll"), "kept");
  EXPECT_FALSE(fs::exists(root / "other.dll"));
  EXPECT_FALSE(fs::exists(root / "KalderDataProtection.dll"));
}

TEST_F(DataProtectionTest, MissingLibraryActsAsEntriesReturningZero) {
  DataProtectionLibrary library;
  library.Prepare(u"C:");
  EXPECT_FALSE(library.loaded());
  EXPECT_EQ(library.Initialize(nullptr, u"C:"), 0);
  EXPECT_EQ(library.State(), 0);
  std::u16string text;
  EXPECT_FALSE(library.GetDeviceId(text));
  EXPECT_FALSE(library.SetPassword(u"pw", text));
  EXPECT_EQ(text, kInvalidResult);
  EXPECT_EQ(library.GetActiveFiles(), (std::pair<std::u16string, std::u16string>{}));
  library.Configure(nullptr);
}

TEST_F(DataProtectionTest, ConfigureNeedsAnActiveProject) {
  DataProtectionLibrary library;
  EXPECT_TRUE(ConfigureDataProtection(library, u"C:", nullptr).noActiveProject);
  std::ofstream(root / "CEApp.INI") << "[Application]\nDirectory=C:\\Plant\\\n";
  const ConfigureOutcome outcome = ConfigureDataProtection(library, u"C:", nullptr);
  EXPECT_FALSE(outcome.noActiveProject);
  EXPECT_FALSE(outcome.initialized);  // no library here
}

}  // namespace
}  // namespace perimo::dataprot
