#include "platform/window_endpoint.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

namespace perimo::platform {
namespace {

namespace fs = std::filesystem;

class WindowEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("perimo-win-" + std::to_string(getpid()));
    setenv("PERIMO_WINDOWS_DIR", folder.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("PERIMO_WINDOWS_DIR");
    fs::remove_all(folder);
  }
  fs::path folder;
};

TEST(WindowEndpointNames, SocketNamesHashTheLowerCasedName) {
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(WindowSocketPath(WindowKey::kClass, u"PerimoClass"),
            WindowSocketPath(WindowKey::kClass, u"perimoclass"));
  EXPECT_NE(WindowSocketPath(WindowKey::kClass, u"x"), WindowSocketPath(WindowKey::kTitle, u"x"));
}

TEST_F(WindowEndpointTest, PostAndSendReachTheWindow) {
  WindowEndpoint window;
  ASSERT_TRUE(window.Open(WindowKey::kClass, u"PerimoClass"));
  EXPECT_TRUE(WindowExists(WindowKey::kClass, u"perimoCLASS"));
  EXPECT_FALSE(WindowExists(WindowKey::kTitle, u"PerimoClass"));

  std::vector<WindowMessage> seen;
  auto handler = [&](const WindowMessage& m) {
    seen.push_back(m);
    return m.lParam * 2;
  };
  EXPECT_FALSE(window.ServeOne(handler));  // the look-up sent no request

  std::thread poster([] {
    EXPECT_TRUE(PostWindowMessage(WindowKey::kClass, u"PerimoClass", kWmActivate, 1, -3));
  });
  poster.join();
  EXPECT_TRUE(window.ServeOne(handler));
  std::optional<int32_t> result;
  std::thread sender(
      [&] { result = SendWindowMessage(WindowKey::kClass, u"PerimoClass", 1024, 7, 21); });
  while (!window.ServeOne(handler)) std::this_thread::yield();
  sender.join();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].message, kWmActivate);
  EXPECT_EQ(seen[0].lParam, -3);
  EXPECT_EQ(seen[1].operation, kWindowSend);
  EXPECT_EQ(result, 42);
}

TEST_F(WindowEndpointTest, OneLiveOwnerPerNameAndStaleFilesAreReplaced) {
  auto first = std::make_unique<WindowEndpoint>();
  ASSERT_TRUE(first->Open(WindowKey::kClass, u"PerimoClass"));
  WindowEndpoint second;
  EXPECT_FALSE(second.Open(WindowKey::kClass, u"PerimoClass"));
  // A file nobody listens on (its owner was killed) does not block a new owner.
  const std::string path = first->path();
  const int fd = dup(first->descriptor());
  first.reset();  // removes the file; recreate a dead one by hand
  close(fd);
  std::ofstream(path) << "";
  EXPECT_FALSE(WindowExists(WindowKey::kClass, u"PerimoClass"));
  EXPECT_TRUE(second.Open(WindowKey::kClass, u"PerimoClass"));
}

}  // namespace
}  // namespace perimo::platform
