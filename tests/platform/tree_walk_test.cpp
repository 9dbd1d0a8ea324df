#include "platform/tree_walk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/paths.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// Every file the walk reports, by its path below the root, with how often it came.
std::map<std::string, int> Files(const std::string& root) {
  std::map<std::string, int> files;
  WalkTree(root, [&](const TreeEntry& entry) {
    if (!entry.directory) ++files[ToUtf8(entry.relative)];
    return true;
  });
  return files;
}

class TreeWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Drives().Clear();
    Drives().Set('C', folder.path());
    fs::create_directories(folder / "A/Deep");
    fs::create_directories(folder / "B");
    folder.Write("A/Deep/d.txt", "d");
    folder.Write("B/b.txt", "b");
  }
  void TearDown() override { Drives().Clear(); }

  TempFolder folder;
};

TEST_F(TreeWalkTest, LinkCyclesEndAndEveryRealFileComesOnce) {
  fs::create_directory_symlink("..", folder / "A/Deep/up");
  fs::create_directory_symlink(folder / "A", folder / "B/toA");
  fs::create_directory_symlink(folder / "nowhere", folder / "B/dangling");
  const auto files = Files(folder.path());
  EXPECT_EQ(files.at("A\\Deep\\d.txt"), 1);
  EXPECT_EQ(files.at("B\\b.txt"), 1);
  for (const auto& [name, count] : files) {
    EXPECT_EQ(count, 1) << name;
    EXPECT_LT(name.size(), 40u) << name;
  }
}

TEST_F(TreeWalkTest, VisitorDecidesWhereToGoAndSeesDepths) {
  std::map<std::string, int> depths;
  EXPECT_TRUE(WalkTree(folder.path(), [&](const TreeEntry& entry) {
    depths[ToUtf8(entry.relative)] = entry.depth;
    return entry.name != u"B";
  }));
  EXPECT_EQ(depths.at("A"), 0);
  EXPECT_EQ(depths.at("A\\Deep"), 1);
  EXPECT_EQ(depths.at("A\\Deep\\d.txt"), 2);
  EXPECT_EQ(depths.count("B\\b.txt"), 0u);
  EXPECT_FALSE(WalkTree(folder / "missing", [](const TreeEntry&) { return true; }));
  EXPECT_FALSE(WalkTree(folder / "B/b.txt", [](const TreeEntry&) { return true; }));
}

}  // namespace
}  // namespace perimo::platform
