// Downloads and uploads as a workstation drives them: a real agent over TCP in framed mode.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/agent_harness.h"
#include "workstation/workstation.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Frame;

constexpr uint8_t kAck = 0x06;
constexpr uint32_t kBlock = 16384;
constexpr int kBlocksPerFlush = 55;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Content(size_t size, unsigned seed) {
  std::string content(size, 0);
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
  return content;
}

Bytes Payload(uint8_t code, std::string_view text) {
  Bytes frame(1 + text.size());
  frame[0] = code;
  std::copy(text.begin(), text.end(), frame.begin() + 1);
  return frame;
}

// Creation, last access, last write (all zero: left as they are), attributes archive.
Bytes CloseFrame(int64_t sequence = -1) {
  Bytes frame{0x03};
  if (sequence >= 0) workstation::AppendU32(frame, static_cast<uint32_t>(sequence));
  frame.resize(frame.size() + 24, 0);
  workstation::AppendU32(frame, 0x20);
  return frame;
}

bool NoTemporaryFiles(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("tmp", 0) == 0 || name.ends_with(".tmp")) return false;
  }
  return true;
}

class FilesTransferTest : public ::testing::Test {
 protected:
  void Boot(AgentOptions options = {}) {
    options.env.emplace_back("LC_ALL", "C");
    options.files.emplace_back("Data/earlier.txt", "earlier");
    agent = std::make_unique<AgentHarness>(std::move(options));
    ASSERT_TRUE(agent->Start()) << agent->error();
    ws = agent->Connect();
    ASSERT_TRUE(ws.connected());
    auto reply = ws.Request(Frame(0x13));
    ASSERT_TRUE(reply && !reply->empty() && (*reply)[0] == kAck);
    ws.SetFramed(true);
  }

  std::optional<Bytes> Ask(const Bytes& frame) { return ws.Request(frame, 30000); }

  // The extended procedure: runs of BufferBlock frames, each run closed by FlushBlocks.
  // Returns the replies to the flushes and the close.
  std::vector<Bytes> DownloadEx(const std::string& wireName, const std::string& content,
                                const std::string& flags = {}) {
    std::vector<Bytes> replies;
    Bytes open{0x2D};
    workstation::AppendU32(open, static_cast<uint32_t>(content.size()));
    open.insert(open.end(), wireName.begin(), wireName.end());
    if (!flags.empty()) {
      open.push_back('\t');
      open.insert(open.end(), flags.begin(), flags.end());
    }
    auto opened = Ask(open);
    if (!opened) return {};
    replies.push_back(*opened);
    if (*opened != Bytes{kAck}) return replies;
    int64_t sequence = flags.empty() ? -1 : 1;
    int buffered = 0;
    for (size_t at = 0; at < content.size(); at += kBlock) {
      const size_t n = std::min<size_t>(kBlock, content.size() - at);
      Bytes block{0x2E};
      if (sequence > 0) workstation::AppendU32(block, static_cast<uint32_t>(sequence++));
      workstation::AppendU32(block, static_cast<uint32_t>(n));
      block.insert(block.end(), content.begin() + at, content.begin() + at + n);
      EXPECT_TRUE(ws.SendFrame(block));
      if (++buffered == kBlocksPerFlush || at + n == content.size()) {
        Bytes flush{0x2C};
        if (sequence > 0) workstation::AppendU32(flush, static_cast<uint32_t>(sequence++));
        auto reply = Ask(flush);
        replies.push_back(reply ? *reply : Bytes{});
        buffered = 0;
      }
    }
    auto closed = Ask(CloseFrame(sequence));
    replies.push_back(closed ? *closed : Bytes{});
    return replies;
  }

  std::unique_ptr<AgentHarness> agent;
  workstation::Workstation ws;
};

TEST_F(FilesTransferTest, SimpleDownloadIsAnsweredFrameByFrame) {
  Boot();
  const std::string content = Content(50000, 1);
  EXPECT_EQ(Ask(Payload(0x01, "C:\\Data\\simple.bin")), Bytes{kAck});
  for (size_t at = 0; at < content.size(); at += 20000) {
    const size_t n = std::min<size_t>(20000, content.size() - at);
    Bytes block{0x02};
    workstation::AppendU32(block, static_cast<uint32_t>(n));
    block.insert(block.end(), content.begin() + at, content.begin() + at + n);
    EXPECT_EQ(Ask(block), Bytes{kAck});
  }
  EXPECT_EQ(Ask(CloseFrame()), Bytes{kAck});
  EXPECT_EQ(ReadFile(agent->Path("Data/simple.bin")), content);
  EXPECT_TRUE(agent->WaitForLine("C:\\Data\\simple.bin was updated with success."));
}

TEST_F(FilesTransferTest, ExtendedDownloadWithSequenceNumbersReplacesTheFile) {
  Boot();
  const std::string content = Content(3 * kBlocksPerFlush * kBlock / 2 + 123, 2);
  const auto replies = DownloadEx("C:\\data\\EARLIER.TXT", content, "0");
  EXPECT_EQ(replies, std::vector<Bytes>(replies.size(), Bytes{kAck}));
  EXPECT_EQ(replies.size(), 1u + 2 + 1);
  // The replaced file takes the letter case the workstation sent.
  EXPECT_EQ(ReadFile(agent->Path("Data/EARLIER.TXT")), content);
  EXPECT_FALSE(std::filesystem::exists(agent->Path("Data/earlier.txt")));
  EXPECT_TRUE(NoTemporaryFiles(agent->Path("Data")));
}

TEST_F(FilesTransferTest, CompressedDownloadIsExpanded) {
  const char* binDir = std::getenv("PERIMO_BIN_DIR");
  const fs::path pack = fs::path(binDir ? binDir : "") / "perimo-pack";
  if (!binDir || !fs::exists(pack)) GTEST_SKIP() << "perimo-pack is not built";
  Boot();
  std::string plain;
  for (int i = 0; i < 20000; ++i) plain += "record " + std::to_string(i % 311) + ";\n";
  const fs::path work = agent->Path("packing");
  fs::create_directories(work);
  std::ofstream(work / "plain.txt", std::ios::binary) << plain;
  const std::string command = pack.string() + " compress --lzss '" + (work / "plain.txt").string() +
                              "' '" + (work / "packed.bin").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string packed = ReadFile(work / "packed.bin");
  ASSERT_LT(packed.size(), plain.size());

  const auto replies = DownloadEx("C:\\Data\\earlier.txt", packed, "1");
  EXPECT_EQ(replies, std::vector<Bytes>(replies.size(), Bytes{kAck}));
  EXPECT_EQ(ReadFile(agent->Path("Data/earlier.txt")), plain);
  EXPECT_TRUE(NoTemporaryFiles(agent->Path("Data")));
}

TEST_F(FilesTransferTest, UploadReturnsTheFileBlockByBlock) {
  const std::string content = Content(100000, 3);
  AgentOptions options;
  options.files.emplace_back("Data/up.bin", content);
  Boot(options);
  auto opened = Ask(Payload(0x04, "C:\\Data\\UP.BIN"));
  ASSERT_TRUE(opened);
  EXPECT_EQ(*opened, (Bytes{kAck, 0xA0, 0x86, 0x01, 0x00, 0x00}));
  std::string received;
  for (int i = 0; i < 20; ++i) {
    auto reply = Ask(Frame(0x05));
    ASSERT_TRUE(reply && reply->size() >= 5 && (*reply)[0] == kAck);
    const uint32_t count = workstation::ReadU32(*reply, 1);
    ASSERT_EQ(reply->size(), count + 5u);
    if (count == 0) break;
    EXPECT_LE(count, 16384u);
    received.append(reply->begin() + 5, reply->end());
  }
  EXPECT_EQ(received, content);
  auto closed = Ask(Frame(0x06));
  ASSERT_TRUE(closed);
  ASSERT_EQ(closed->size(), 30u);
  EXPECT_EQ(workstation::ReadU32(*closed, 25), 0x20u);
  EXPECT_TRUE(agent->WaitForLine("File C:\\Data\\UP.BIN sent with success."));
}

TEST_F(FilesTransferTest, AFullDiskIsReportedAndTheEarlierFileKept) {
  AgentOptions options;
  // Files of the agent may not grow past 1 MiB.
  options.rlimits.emplace_back(RLIMIT_FSIZE, rlimit{1 << 20, 1 << 20});
  Boot(options);
  // The declared size fits; what arrives does not.
  const std::string content = Content(2 * kBlocksPerFlush * kBlock, 4);
  Bytes open{0x2D};
  workstation::AppendU32(open, 100000);
  const std::string name = "C:\\Data\\earlier.txt";
  open.insert(open.end(), name.begin(), name.end());
  ASSERT_EQ(Ask(open), Bytes{kAck});
  std::vector<Bytes> flushReplies;
  int buffered = 0;
  for (size_t at = 0; at < content.size(); at += kBlock) {
    Bytes block{0x2E};
    workstation::AppendU32(block, kBlock);
    block.insert(block.end(), content.begin() + at, content.begin() + at + kBlock);
    ASSERT_TRUE(ws.SendFrame(block));
    if (++buffered == kBlocksPerFlush) {
      auto reply = Ask(Frame(0x2C));
      flushReplies.push_back(reply ? *reply : Bytes{});
      buffered = 0;
    }
  }
  // The first run fits, the second reaches the limit.
  ASSERT_EQ(flushReplies.size(), 2u);
  EXPECT_EQ(flushReplies[0], Bytes{kAck});
  EXPECT_EQ(flushReplies[1], (Bytes{0x15, 0x08, 13, 0, 0, 0}));
  EXPECT_EQ(Ask(CloseFrame()), (Bytes{0x15, 0x08}));
  EXPECT_EQ(ReadFile(agent->Path("Data/earlier.txt")), "earlier");
  EXPECT_TRUE(NoTemporaryFiles(agent->Path("Data")));
  EXPECT_TRUE(agent->Running());
  EXPECT_TRUE(agent->WaitForLine("Cannot write in the file C:\\Data\\earlier.txt."));
}

TEST_F(FilesTransferTest, ADroppedConnectionLeavesTheTemporaryFileToTheNextOpening) {
  Boot();
  Bytes open{0x2D};
  workstation::AppendU32(open, 5);
  const std::string name = "C:\\Data\\earlier.txt";
  open.insert(open.end(), name.begin(), name.end());
  ASSERT_EQ(Ask(open), Bytes{kAck});
  ws.Close();
  EXPECT_FALSE(NoTemporaryFiles(agent->Path("Data")));

  ws = agent->Connect();
  ASSERT_TRUE(ws.Request(Frame(0x13)));
  ws.SetFramed(true);
  EXPECT_EQ(Ask(Payload(0x04, "C:\\Data\\earlier.txt")).value_or(Bytes{}).at(0), kAck);
  EXPECT_TRUE(NoTemporaryFiles(agent->Path("Data")));
  EXPECT_EQ(ReadFile(agent->Path("Data/earlier.txt")), "earlier");
}

// The simple procedure writes beside the target until CloseDownload: a workstation that
// goes away halfway leaves the earlier file whole, one that never closes still gets its file
// when it opens the next transfer, and the agent's exit drops an open one.
TEST_F(FilesTransferTest, ASimpleDownloadCutOffKeepsTheEarlierFile) {
  Boot();
  auto openAndWrite = [this](const std::string& content, const std::string& current) {
    ASSERT_EQ(Ask(Payload(0x01, "C:\\Data\\earlier.txt")), Bytes{kAck});
    Bytes block{0x02};
    workstation::AppendU32(block, static_cast<uint32_t>(content.size()));
    block.insert(block.end(), content.begin(), content.end());
    ASSERT_EQ(Ask(block), Bytes{kAck});
    EXPECT_FALSE(NoTemporaryFiles(agent->Path("Data")));
    EXPECT_EQ(ReadFile(agent->Path("Data/earlier.txt")), current);
  };
  auto waitForNoTemporaryFiles = [this] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!NoTemporaryFiles(agent->Path("Data")) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return NoTemporaryFiles(agent->Path("Data"));
  };

  openAndWrite("cut off", "earlier");
  ws.Close();
  ASSERT_TRUE(agent->WaitForLine("Close Socket."));
  EXPECT_TRUE(waitForNoTemporaryFiles());
  EXPECT_EQ(ReadFile(agent->Path("Data/earlier.txt")), "earlier");

  ws = agent->Connect();
  ASSERT_TRUE(ws.Request(Frame(0x13)));
  ws.SetFramed(true);
  openAndWrite("never closed", "earlier");
  const auto opened = Ask(Payload(0x04, "C:\\Data\\earlier.txt"));
  ASSERT_TRUE(opened);
  EXPECT_EQ(*opened, (Bytes{kAck, 12, 0, 0, 0, 0}));
  EXPECT_EQ(ReadFile(agent->Path("Data/earlier.txt")), "never closed");
  EXPECT_TRUE(NoTemporaryFiles(agent->Path("Data")));

  openAndWrite("dropped at exit", "never closed");
  EXPECT_EQ(agent->Stop(), 0);
  EXPECT_TRUE(NoTemporaryFiles(agent->Path("Data")));
  EXPECT_EQ(ReadFile(agent->Path("Data/earlier.txt")), "never closed");
}

TEST_F(FilesTransferTest, AReplacedProgramStaysExecutable) {
  AgentOptions options;
  options.files.emplace_back("Bin/start.sh", "#!/bin/sh\nexit 1\n");
  Boot(options);
  fs::permissions(agent->Path("Bin/start.sh"), fs::perms(0755));
  const auto replies = DownloadEx("C:\\Bin\\start.sh", "#!/bin/sh\nexit 0\n");
  EXPECT_EQ(replies, std::vector<Bytes>(replies.size(), Bytes{kAck}));
  EXPECT_EQ(fs::status(agent->Path("Bin/start.sh")).permissions(), fs::perms(0755));

  EXPECT_EQ(Ask(Payload(0x01, "C:\\Bin\\start.sh")), Bytes{kAck});
  Bytes block{0x02};
  workstation::AppendU32(block, 3);
  block.insert(block.end(), {'#', '!', '\n'});
  EXPECT_EQ(Ask(block), Bytes{kAck});
  EXPECT_EQ(Ask(CloseFrame()), Bytes{kAck});
  EXPECT_EQ(fs::status(agent->Path("Bin/start.sh")).permissions(), fs::perms(0755));
}

TEST_F(FilesTransferTest, ExtendedDownloadGivesTheNameInTheLetterCaseSent) {
  AgentOptions options;
  options.files.emplace_back("Proj/Main.APP", "old project");
  Boot(options);
  const auto replies = DownloadEx("C:\\Proj\\MAIN.app", "new project", "0");
  EXPECT_EQ(replies, std::vector<Bytes>(replies.size(), Bytes{kAck}));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(agent->Path("Proj"))) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"MAIN.app"});
  EXPECT_EQ(ReadFile(agent->Path("Proj/MAIN.app")), "new project");
}

TEST_F(FilesTransferTest, AFifoIsRefusedForUploadAndTheAgentAnswersOn) {
  Boot();
  ASSERT_EQ(::mkfifo(agent->Path("Data/pipe").c_str(), 0600), 0);
  EXPECT_EQ(ws.Request(Payload(0x04, "C:\\Data\\pipe"), 5000), (Bytes{0x15, 0x05}));
  EXPECT_EQ(ws.Request(Frame(0x05), 5000), (Bytes{0x15, 0x07}));
  EXPECT_EQ(ws.Request(Frame(0x80), 5000), Bytes{kAck});
}

TEST_F(FilesTransferTest, TheAgentsExitRemovesAnOpenDownloadsTemporaryFile) {
  Boot();
  Bytes open{0x2D};
  workstation::AppendU32(open, 50 << 20);
  const std::string name = "C:\\Data\\earlier.txt";
  open.insert(open.end(), name.begin(), name.end());
  ASSERT_EQ(Ask(open), Bytes{kAck});
  EXPECT_FALSE(NoTemporaryFiles(agent->Path("Data")));
  EXPECT_EQ(agent->Stop(), 0);
  EXPECT_TRUE(NoTemporaryFiles(agent->Path("Data")));
  EXPECT_EQ(ReadFile(agent->Path("Data/earlier.txt")), "earlier");
}

}  // namespace
}  // namespace perimo::e2e
