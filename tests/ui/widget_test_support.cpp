#include "widget_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"

namespace perimo::test {
namespace {

namespace fs = std::filesystem;

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    app_->setQuitOnLastWindowClosed(false);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

AgentFolder::AgentFolder() {
  static std::atomic<int> counter{0};
  native = (fs::temp_directory_path() /
            ("perimo-ui-" + std::to_string(getpid()) + "-" + std::to_string(counter++)))
               .string();
  fs::create_directories(native);
  agent.paths.exeDir = platform::ToWirePath(native);
  agent.paths.agentIniPath = platform::ToWirePath(native + "/perimo.ini");
  agent.title = u"Remote Agent (v7.12)";
}

AgentFolder::~AgentFolder() {
  fs::remove_all(native);
}

std::string AgentFolder::ReadSettings() const {
  std::ifstream in(native + "/perimo.ini");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void AgentFolder::WriteFile(const std::string& name, const std::string& text) const {
  std::ofstream(native + "/" + name) << text;
}

std::string PicturesFolder() {
  const char* bin = std::getenv("PERIMO_BIN_DIR");
  const fs::path folder = fs::path(bin ? bin : ".").parent_path() / "pictures";
  fs::create_directories(folder);
  return folder.string();
}

}  // namespace perimo::test
