#include "protocol/file_transfer_commands.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "formats/compressed_file.h"
#include "formats/decompress.h"
#include "platform/file_system.h"
#include "platform/file_time.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "protocol/agent_state.h"
#include "protocol/language_redirect.h"

namespace perimo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct FakeLink : Connection {
  bool serial = false;
  bool sends = true;  // false: the transport takes nothing (a reply too large for it)
  std::vector<Bytes> replies;
  bool IsSerial() const override { return serial; }
};

int Record(Connection* connection, const uint8_t* bytes, int32_t count) {
  auto* link = static_cast<FakeLink*>(connection);
  link->replies.emplace_back(bytes, bytes + count);
  return link->sends ? 1 : 0;
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

uint32_t CountOf(const Bytes& reply) {
  return reply.size() < 5 ? 0xFFFFFFFF : reply[1] | reply[2] << 8 | reply[3] << 16 | reply[4] << 24;
}

void Put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(Bytes& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutText(Bytes& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

Bytes Block(std::string_view data, int64_t sequence = -1) {
  Bytes out;
  if (sequence >= 0) Put32(out, static_cast<uint32_t>(sequence));
  Put32(out, static_cast<uint32_t>(data.size()));
  PutText(out, data);
  return out;
}

// Creation, last access, last write (local FILETIMEs), attributes.
Bytes CloseFields(uint64_t write, uint32_t attributes, int64_t sequence = -1) {
  Bytes out;
  if (sequence >= 0) Put32(out, static_cast<uint32_t>(sequence));
  Put64(out, write);
  Put64(out, write);
  Put64(out, write);
  Put32(out, attributes);
  return out;
}

Bytes OpenEx(uint32_t size, std::string_view name, std::string_view flags = {}) {
  Bytes out;
  Put32(out, size);
  PutText(out, name);
  if (!flags.empty()) {
    out.push_back('\t');
    PutText(out, flags);
  }
  return out;
}

Bytes Nak(uint8_t reason) {
  return {0x15, reason};
}
const Bytes kAckOnly{0x06};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, std::string_view content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Files the download left behind in a folder, other than the named ones.
std::vector<std::string> TemporaryFiles(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("tmp", 0) == 0 || name.ends_with(".tmp")) found.push_back(name);
  }
  return found;
}

// A temporary folder mapped as drive C; the agent lives in C:\A\Bin.
class FileTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/perimo-transfer-XXXXXX";
    root = mkdtemp(pattern);
    platform::Drives().Set('C', root.string());
    fs::create_directories(root / "A" / "Bin");
    fs::create_directories(data());
    agent.paths.exeDir = u"C:\\A\\Bin";
    agent.blockBuffer.assign(55 * static_cast<size_t>(agent.settings.packSize), 0);
    agent.statusSink = [this](std::u16string_view text) {
      lines.push_back(platform::ToUtf8(text));
    };
    agent.pause = [this](uint32_t ms) { pauses.push_back(ms); };
  }

  void TearDown() override {
    if (agent.transfer.fd >= 0) ::close(agent.transfer.fd);
    platform::Drives() = platform::DriveMap();
    fs::remove_all(root);
  }

  fs::path data() const { return root / "Data"; }

  // Runs one handler on a frame and returns what it replied.
  std::vector<Bytes> Run(void (*handler)(Request&), const Bytes& payload) {
    Bytes frame{0x00};
    frame.insert(frame.end(), payload.begin(), payload.end());
    link.replies.clear();
    Request request{agent, frame.data() + 1, static_cast<int32_t>(frame.size()), &link, Record};
    handler(request);
    return link.replies;
  }
  std::vector<Bytes> Run(void (*handler)(Request&, bool), const Bytes& payload,
                         bool replyOn = true) {
    Bytes frame{0x00};
    frame.insert(frame.end(), payload.begin(), payload.end());
    link.replies.clear();
    Request request{agent, frame.data() + 1, static_cast<int32_t>(frame.size()), &link, Record};
    handler(request, replyOn);
    return link.replies;
  }
  static Bytes Name(std::string_view name) { return Bytes(name.begin(), name.end()); }

  std::vector<Bytes> One(Bytes reply) { return {std::move(reply)}; }

  // A complete extended download of content into name.
  void DownloadEx(std::string_view name, std::string_view content, std::string_view flags = {}) {
    ASSERT_EQ(Run(OpenDownloadEx, OpenEx(content.size(), name, flags)), One(kAckOnly));
    int64_t sequence = flags.empty() ? -1 : 1;
    for (size_t at = 0; at < content.size(); at += 1000) {
      EXPECT_TRUE(Run(BufferBlock, Block(content.substr(at, 1000), sequence)).empty());
      if (sequence > 0) ++sequence;
    }
    Bytes flush;
    if (sequence > 0) Put32(flush, static_cast<uint32_t>(sequence++));
    ASSERT_EQ(Run(FlushBlocks, flush), One(kAckOnly));
    EXPECT_EQ(Run(CloseDownload, CloseFields(0, platform::kAttrArchive, sequence)), One(kAckOnly));
  }

  fs::path root;
  AgentState agent;
  FakeLink link;
  std::vector<std::string> lines;
  std::vector<uint32_t> pauses;
};

// 2026-01-02 03:04:05 as a FILETIME.
constexpr uint64_t kSomeTime = 134117102450000000ULL;

TEST_F(FileTransferTest, SimpleDownloadWritesTheTargetWithTimesAndAttributes) {
  WriteFile(data() / "a.bin", "earlier");
  EXPECT_EQ(Run(OpenDownload, Name("C:\\Data\\a.bin")), One(kAckOnly));
  EXPECT_EQ(Run(WriteBlock, Block("hello ")), One(kAckOnly));
  EXPECT_EQ(Run(WriteBlock, Block("world")), One(kAckOnly));
  EXPECT_EQ(
      Run(CloseDownload, CloseFields(kSomeTime, platform::kAttrReadOnly | platform::kAttrArchive)),
      One(kAckOnly));

  EXPECT_EQ(ReadFile(data() / "a.bin"), "hello world");
  auto times = platform::GetFileTimes(u"C:\\Data\\a.bin");
  ASSERT_TRUE(times);
  EXPECT_EQ(times->write, platform::LocalFileTimeToFileTime(kSomeTime));
  EXPECT_EQ(platform::GetFileAttributes(u"C:\\Data\\a.bin") & platform::kAttrReadOnly,
            platform::kAttrReadOnly);
  EXPECT_EQ(lines, (std::vector<std::string>{"Updating file C:\\Data\\a.bin.",
                                             "C:\\Data\\a.bin was updated with success."}));
}

TEST_F(FileTransferTest, SimpleDownloadReplacesAReadOnlyTargetFoundInAnotherCase) {
  WriteFile(data() / "Main.app", "old");
  fs::permissions(data() / "Main.app", fs::perms::owner_read);
  EXPECT_EQ(Run(OpenDownload, Name("c:\\DATA\\MAIN.APP")), One(kAckOnly));
  EXPECT_EQ(Run(WriteBlock, Block("new")), One(kAckOnly));
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, platform::kAttrArchive)), One(kAckOnly));
  // The file is made anew, with the name as given.
  EXPECT_EQ(ReadFile(data() / "MAIN.APP"), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(data()), fs::directory_iterator()), 1);
}

TEST_F(FileTransferTest, BadBlocksAreAnsweredOnceAndFailTheDownload) {
  ASSERT_EQ(Run(OpenDownload, Name("C:\\Data\\a.bin")), One(kAckOnly));
  EXPECT_EQ(Run(WriteBlock, Block("")), One(Nak(0x06)));  // size 0 in a frame of 5 bytes
  EXPECT_EQ(lines.back(), "Invalid block size: 0, 5.");
  Bytes tooLarge;
  Put32(tooLarge, 32769);
  tooLarge.resize(4 + 32769, 'x');
  EXPECT_TRUE(Run(WriteBlock, tooLarge).empty());
  Bytes shortData;
  Put32(shortData, 10);
  PutText(shortData, "abc");
  EXPECT_TRUE(Run(WriteBlock, shortData).empty());
  EXPECT_EQ(Run(WriteBlock, Block("fine")), One(kAckOnly));
  // The dropped block is not reported as a success at the end.
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, 0)), One(Nak(0x06)));
}

TEST_F(FileTransferTest, OpenDownloadFailures) {
  EXPECT_EQ(Run(OpenDownload, Bytes{}), One(Nak(0x01)));
  EXPECT_EQ(lines.back(), "Invalid file name.");
  EXPECT_EQ(Run(OpenDownload, Name("C:\\Missing\\a.bin")), One(Nak(0x04)));
  EXPECT_EQ(lines.back(), "Cannot create file C:\\Missing\\a.bin.");
  EXPECT_EQ(Run(WriteBlock, Block("x")), One(Nak(0x07)));
}

TEST_F(FileTransferTest, ExtendedDownloadKeepsTheEarlierTargetUntilOneRename) {
  WriteFile(data() / "p.app", "earlier");
  const std::string content(2500, 'q');
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(content.size(), "C:\\Data\\p.app")), One(kAckOnly));
  EXPECT_EQ(Run(BufferBlock, Block(content.substr(0, 2000))), std::vector<Bytes>{});
  EXPECT_EQ(Run(FlushBlocks, {}), One(kAckOnly));
  EXPECT_EQ(ReadFile(data() / "p.app"), "earlier");
  ASSERT_EQ(TemporaryFiles(data()).size(), 1u);
  EXPECT_EQ(TemporaryFiles(data())[0].rfind("tmp", 0), 0u);
  EXPECT_TRUE(Run(BufferBlock, Block(content.substr(2000))).empty());
  // The close flushes what is still buffered.
  EXPECT_EQ(Run(CloseDownload, CloseFields(kSomeTime, platform::kAttrArchive)), One(kAckOnly));
  EXPECT_EQ(ReadFile(data() / "p.app"), content);
  EXPECT_TRUE(TemporaryFiles(data()).empty());
  EXPECT_EQ(platform::GetFileTimes(u"C:\\Data\\p.app")->write,
            platform::LocalFileTimeToFileTime(kSomeTime));
  EXPECT_EQ(lines.back(), "C:\\Data\\p.app was updated with success.");
}

TEST_F(FileTransferTest, SequenceNumbersCountFromOne) {
  DownloadEx("C:\\Data\\s.bin", std::string(3000, 's'), "0");
  EXPECT_EQ(ReadFile(data() / "s.bin"), std::string(3000, 's'));
}

TEST_F(FileTransferTest, AWrongSequenceNumberFailsTheDownloadAndKeepsTheEarlierTarget) {
  WriteFile(data() / "s.bin", "earlier");
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(6, "C:\\Data\\s.bin", "0")), One(kAckOnly));
  EXPECT_TRUE(Run(BufferBlock, Block("abc", 1)).empty());
  EXPECT_TRUE(Run(BufferBlock, Block("def", 3)).empty());
  EXPECT_EQ(lines.back(), "Invalid file format: C:\\Data\\s.bin");
  EXPECT_TRUE(Run(BufferBlock, Block("ghi", 3)).empty());
  Bytes flush;
  Put32(flush, 4);
  EXPECT_EQ(Run(FlushBlocks, flush), One(Nak(0x02)));
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, 0, 5)), One(Nak(0x02)));
  EXPECT_EQ(ReadFile(data() / "s.bin"), "earlier");
  EXPECT_TRUE(TemporaryFiles(data()).empty());
}

TEST_F(FileTransferTest, CloseRefusesAFileShorterThanDeclared) {
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(10, "C:\\Data\\s.bin", "0")), One(kAckOnly));
  EXPECT_TRUE(Run(BufferBlock, Block("abc", 1)).empty());
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, 0, 2)), One(Nak(0x02)));
  EXPECT_FALSE(fs::exists(data() / "s.bin"));
}

TEST_F(FileTransferTest, WithoutSequenceNumbersAShortFileKeepsOnlyWhatArrived) {
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(10, "C:\\Data\\s.bin")), One(kAckOnly));
  EXPECT_TRUE(Run(BufferBlock, Block("abc")).empty());
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, platform::kAttrArchive)), One(kAckOnly));
  EXPECT_EQ(ReadFile(data() / "s.bin"), "abc");
}

TEST_F(FileTransferTest, FlushWithAWrongNumberIsAnsweredEvenAfterAnotherFailure) {
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(3, "C:\\Data\\s.bin", "0")), One(kAckOnly));
  Bytes flush;
  Put32(flush, 7);
  EXPECT_EQ(Run(FlushBlocks, flush), One(Nak(0x02)));
  EXPECT_TRUE(Run(FlushBlocks, flush).empty());  // the status is now reported once only
}

TEST_F(FileTransferTest, WithoutTabThereAreNoSequenceNumbers) {
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(3, "C:\\Data\\n.bin")), One(kAckOnly));
  EXPECT_EQ(agent.transfer.sequence, -1);
  EXPECT_FALSE(agent.transfer.compressed);
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(3, "C:\\Data\\n.bin", "1")), One(kAckOnly));
  EXPECT_EQ(agent.transfer.sequence, 0);
  EXPECT_TRUE(agent.transfer.compressed);
}

TEST_F(FileTransferTest, QuietForms) {
  EXPECT_TRUE(Run(OpenDownloadEx, OpenEx(3, ""), false).empty());
  EXPECT_EQ(lines.back(), "Invalid file name.");
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, 0)), One(Nak(0x01)));

  EXPECT_TRUE(Run(OpenDownloadEx, OpenEx(3, "C:\\Missing\\q.bin"), false).empty());
  EXPECT_EQ(Run(FlushBlocks, {}), One(Nak(0x04)));

  EXPECT_TRUE(Run(OpenDownloadEx, OpenEx(3, "C:\\Data\\q.bin"), false).empty());
  EXPECT_TRUE(Run(BufferBlock, Block("abc")).empty());
  EXPECT_TRUE(Run(CloseDownload, CloseFields(0, 0), false).empty());
  EXPECT_EQ(ReadFile(data() / "q.bin"), "abc");
}

TEST_F(FileTransferTest, SerialLinkAnswersEveryBlock) {
  link.serial = true;
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(3, "C:\\Data\\r.bin", "0")), One(kAckOnly));
  EXPECT_EQ(Run(BufferBlock, Block("abc", 1)), One(kAckOnly));
  EXPECT_EQ(Run(BufferBlock, Block("abc", 5)), One(Nak(0x02)));
  EXPECT_TRUE(Run(BufferBlock, Block("abc", 6)).empty());
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(3, "C:\\Data\\r.bin")), One(kAckOnly));
  EXPECT_EQ(Run(BufferBlock, Block("")), One(Nak(0x06)));
}

TEST_F(FileTransferTest, ABlockThatWouldOverflowTheBufferIsRefused) {
  agent.blockBuffer.assign(3000, 0);
  WriteFile(data() / "o.bin", "earlier");
  link.serial = true;
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(4000, "C:\\Data\\o.bin")), One(kAckOnly));
  EXPECT_EQ(Run(BufferBlock, Block(std::string(2000, 'a'))), One(kAckOnly));
  EXPECT_EQ(Run(BufferBlock, Block(std::string(1001, 'b'))), One(Nak(0x06)));
  EXPECT_EQ(lines.back(), "Invalid block size: 1001, 1006.");
  EXPECT_EQ(agent.blockBuffer.size(), 3000u);
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, 0)), One(Nak(0x06)));
  EXPECT_EQ(ReadFile(data() / "o.bin"), "earlier");
  EXPECT_TRUE(TemporaryFiles(data()).empty());
}

TEST_F(FileTransferTest, ADroppedDownloadIsCleanedUpByTheNextOpening) {
  WriteFile(data() / "d.bin", "earlier");
  for (auto open : {0, 1, 2}) {
    ASSERT_EQ(Run(OpenDownloadEx, OpenEx(3, "C:\\Data\\d.bin")), One(kAckOnly));
    EXPECT_TRUE(Run(BufferBlock, Block("new")).empty());
    EXPECT_EQ(Run(FlushBlocks, {}), One(kAckOnly));
    ASSERT_EQ(TemporaryFiles(data()).size(), 1u);
    if (open == 0) Run(OpenDownloadEx, OpenEx(3, "C:\\Other\\x.bin"));
    if (open == 1) Run(OpenUpload, Name("C:\\Data\\d.bin"));
    // The simple procedure writes its own temporary file beside its target.
    if (open == 2) Run(OpenDownload, Name("C:\\e.bin"));
    EXPECT_TRUE(TemporaryFiles(data()).empty()) << open;
    EXPECT_EQ(ReadFile(data() / "d.bin"), "earlier");
  }
}

TEST_F(FileTransferTest, CompressedDownloadOfAPlainFileIsCopiedIntoPlace) {
  WriteFile(data() / "c.bin", "earlier");
  DownloadEx("C:\\Data\\c.bin", "plain content", "1");
  EXPECT_EQ(ReadFile(data() / "c.bin"), "plain content");
  EXPECT_TRUE(TemporaryFiles(data()).empty());
}

TEST_F(FileTransferTest, CompressedDownloadIsExpandedIntoPlace) {
  std::string plain;
  for (int i = 0; i < 5000; ++i) plain += "line " + std::to_string(i % 97) + "\n";
  WriteFile(root / "plain", plain);
  ASSERT_TRUE(CompressFile((root / "plain").string(), (root / "packed").string(), kLzss));
  const std::string packed = ReadFile(root / "packed");
  ASSERT_LT(packed.size(), plain.size());

  WriteFile(data() / "c.app", "earlier");
  DownloadEx("C:\\Data\\c.app", packed, "1");
  EXPECT_EQ(ReadFile(data() / "c.app"), plain);
  EXPECT_TRUE(TemporaryFiles(data()).empty());

  // A stream cut short does not expand; the earlier file stays as it was.
  const std::string cut = packed.substr(0, packed.size() / 2);
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(cut.size(), "C:\\Data\\c.app", "1")), One(kAckOnly));
  EXPECT_TRUE(Run(BufferBlock, Block(cut.substr(0, 1000), 1)).empty());
  EXPECT_TRUE(Run(BufferBlock, Block(cut.substr(1000), 2)).empty());
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, 0, 3)), One(Nak(0x3E)));
  EXPECT_EQ(lines.back(), "Error uncompressing file: C:\\Data\\c.app");
  EXPECT_EQ(ReadFile(data() / "c.app"), plain);
  EXPECT_TRUE(TemporaryFiles(data()).empty());
}

TEST_F(FileTransferTest, RelativeNamesAndTheLanguageLibrary) {
  DownloadEx("Bin\\tool.dll", "tool");
  EXPECT_EQ(ReadFile(root / "A" / "Bin" / "tool.dll"), "tool");
  DownloadEx("C:\\Data\\perimo-exe-MUI.dll", "language");
  EXPECT_EQ(ReadFile(data() / "Perimo-EXE-mui-New.dll"), "language");
  EXPECT_FALSE(fs::exists(data() / "perimo-exe-MUI.dll"));

  std::u16string out = u"stale";
  EXPECT_TRUE(RedirectLanguageDownload(u"D:\\x/Perimo-EXE-MUI.DLL", out));
  EXPECT_EQ(out, u"D:\\x/Perimo-EXE-mui-New.dll");
  EXPECT_FALSE(RedirectLanguageDownload(u"D:\\x\\Perimo-EXE-mui.dll.bak", out));
  EXPECT_TRUE(out.empty());
}

TEST_F(FileTransferTest, WideNames) {
  agent.wideStrings = true;
  Bytes name;
  for (char16_t c : std::u16string(u"C:\\Data\\w\u00e9.bin")) {
    name.push_back(static_cast<uint8_t>(c));
    name.push_back(static_cast<uint8_t>(c >> 8));
  }
  Bytes open;
  Put32(open, 2);
  open.insert(open.end(), name.begin(), name.end());
  open.insert(open.end(), {'\t', 0, '0', 0});
  ASSERT_EQ(Run(OpenDownloadEx, open), One(kAckOnly));
  EXPECT_EQ(agent.transfer.sequence, 0);
  EXPECT_TRUE(Run(BufferBlock, Block("ok", 1)).empty());
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, 0, 2)), One(kAckOnly));
  EXPECT_EQ(ReadFile(data() / "w\u00e9.bin"), "ok");
}

TEST_F(FileTransferTest, UploadSendsContentTimesAndAttributes) {
  std::string content(40000, 0);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  WriteFile(data() / "u.bin", content);
  platform::FileTimes stamp{0, kSomeTime, kSomeTime};
  ASSERT_TRUE(platform::SetFileTimes(u"C:\\Data\\u.bin", stamp));

  EXPECT_EQ(Run(OpenUpload, Name("c:\\data\\U.BIN")),
            One(Bytes{0x06, 0x40, 0x9C, 0x00, 0x00, 0x00}));
  EXPECT_EQ(lines.back(), "Sending file c:\\data\\U.BIN.");
  std::string received;
  std::vector<size_t> counts;
  for (int i = 0; i < 10; ++i) {
    auto replies = Run(ReadBlock, {});
    ASSERT_EQ(replies.size(), 1u);
    const Bytes& r = replies[0];
    ASSERT_GE(r.size(), 5u);
    ASSERT_EQ(r[0], 0x06);
    size_t count = r[1] | r[2] << 8 | r[3] << 16 | r[4] << 24;
    ASSERT_EQ(r.size(), count + 5);
    counts.push_back(count);
    if (count == 0) break;
    received.append(r.begin() + 5, r.end());
  }
  EXPECT_EQ(counts, (std::vector<size_t>{16384, 16384, 7232, 0}));
  EXPECT_EQ(received, content);

  // Reading may move the access time on; the others are as stamped.
  auto times = platform::GetFileTimes(u"C:\\Data\\u.bin");
  auto replies = Run(CloseUpload, {});
  ASSERT_EQ(replies.size(), 1u);
  Bytes expected{0x06};
  Put64(expected, platform::FileTimeToLocalFileTime(times->creation));
  Put64(expected, platform::FileTimeToLocalFileTime(times->access));
  Put64(expected, platform::FileTimeToLocalFileTime(kSomeTime));
  Put32(expected, platform::kAttrArchive);
  expected.push_back(0x00);
  EXPECT_EQ(replies[0], expected);
  EXPECT_EQ(lines.back(), "File c:\\data\\U.BIN sent with success.");
}

TEST_F(FileTransferTest, UploadOnTheSerialPortSendsHalfPacks) {
  link.serial = true;
  WriteFile(data() / "u.bin", std::string(20000, 'u'));
  ASSERT_EQ(Run(OpenUpload, Name("C:\\Data\\u.bin")).size(), 1u);
  EXPECT_EQ(Run(ReadBlock, {})[0].size(), 8192u + 5);
}

TEST_F(FileTransferTest, UploadFailures) {
  EXPECT_EQ(Run(OpenUpload, Bytes{}), One(Nak(0x01)));
  EXPECT_EQ(Run(OpenUpload, Name("C:\\Data\\none.bin")), One(Nak(0x05)));
  EXPECT_EQ(lines.back(), "Cannot find file C:\\Data\\none.bin.");
  EXPECT_EQ(Run(OpenUpload, Name("C:\\Data")), One(Nak(0x05)));
  EXPECT_EQ(Run(ReadBlock, {}), One(Nak(0x07)));
  EXPECT_EQ(lines.back(), "Cannot open file C:\\Data.");
  Run(OpenUpload, Name("C:\\Data\\none.bin"));
  Bytes missing{0x06};
  missing.resize(25, 0);
  Put32(missing, 0xFFFFFFFF);
  missing.push_back(0);
  EXPECT_EQ(Run(CloseUpload, {}), One(missing));
}

TEST_F(FileTransferTest, RefusalsUnderSecurity) {
  WriteFile(data() / "u.bin", "u");
  WriteFile(root / "A" / "Bin" / "CEApp.INI", "[Application]\nDirectory=C:\\Proj\\\n");
  agent.login.securityEnabled = true;
  agent.login.loggedInRights = {0, 0, 0, 0, 0};
  EXPECT_EQ(Run(OpenDownload, Name("C:\\Data\\a.bin")), One(Nak(0x35)));
  EXPECT_EQ(Run(OpenDownloadEx, OpenEx(1, "C:\\Data\\a.bin")), One(Nak(0x35)));
  EXPECT_EQ(Run(OpenDownloadEx, OpenEx(1, "C:\\Data\\a.bin"), false), One(Nak(0x35)));
  EXPECT_EQ(Run(OpenUpload, Name("C:\\Data\\u.bin")), One(Nak(0x35)));
  EXPECT_EQ(pauses, (std::vector<uint32_t>{10000, 10000, 10000, 10000}));
  EXPECT_FALSE(fs::exists(data() / "a.bin"));
  EXPECT_TRUE(TemporaryFiles(data()).empty());

  // Each right opens its own door: reading, and writing outside the project and system folders.
  agent.login.loggedInRights[kGetFromTarget] = 1;
  EXPECT_EQ(Run(OpenUpload, Name("C:\\Data\\u.bin")).at(0).at(0), 0x06);
  agent.login.loggedInRights[kSendFile] = 1;
  DownloadEx("C:\\Data\\a.bin", "granted");
  EXPECT_EQ(ReadFile(data() / "a.bin"), "granted");
  EXPECT_EQ(Run(OpenDownload, Name("Bin\\x.dll")), One(Nak(0x35)));
  agent.login.loggedInRights[kInstallSystemFiles] = 1;
  EXPECT_EQ(Run(OpenDownload, Name("Bin\\x.dll")), One(kAckOnly));
}

TEST_F(FileTransferTest, TheProjectRightGovernsTheProjectFolder) {
  fs::create_directories(root / "Proj");
  WriteFile(root / "A" / "Bin" / "CEApp.INI", "[Application]\nDirectory=C:\\Proj\\\n");
  agent.login.securityEnabled = true;
  agent.login.loggedInRights = {0, 0, 0, 1, 0};
  EXPECT_EQ(Run(OpenDownloadEx, OpenEx(1, "C:\\Proj\\main.app")), One(Nak(0x35)));
  agent.login.loggedInRights = {1, 0, 0, 0, 0};
  EXPECT_EQ(Run(OpenDownloadEx, OpenEx(1, "C:\\Proj\\main.app")), One(kAckOnly));
}

constexpr uid_t kNobody = 65534;

// The download runs in a child process whose files may not grow past fileSizeLimit bytes (a
// full disk at 4096), as an ordinary user when asked (permissions do not bind root). Its
// replies come back through a pipe.
std::vector<Bytes> RunInChild(const std::function<std::vector<Bytes>()>& body, rlim_t fileSizeLimit,
                              bool asOrdinaryUser = false) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    if (asOrdinaryUser && ::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(2);
    }
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{fileSizeLimit, fileSizeLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    for (const Bytes& reply : body()) {
      uint8_t size = static_cast<uint8_t>(reply.size());
      (void)!::write(fds[1], &size, 1);
      (void)!::write(fds[1], reply.data(), reply.size());
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::vector<Bytes> replies;
  uint8_t size;
  while (::read(fds[0], &size, 1) == 1) {
    Bytes reply(size);
    if (size > 0 && ::read(fds[0], reply.data(), size) != size) break;
    replies.push_back(reply);
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child did not run through";
  return replies;
}

std::vector<Bytes> RunWithFileSizeLimit(const std::function<std::vector<Bytes>()>& body) {
  return RunInChild(body, 4096);
}

TEST_F(FileTransferTest, AFullDiskDuringTheCloseKeepsTheEarlierTarget) {
  WriteFile(data() / "f.bin", "earlier");
  auto replies = RunWithFileSizeLimit([this] {
    std::vector<Bytes> all;
    for (auto& r : Run(OpenDownloadEx, OpenEx(1000, "C:\\Data\\f.bin"))) all.push_back(r);
    for (int i = 0; i < 3; ++i) Run(BufferBlock, Block(std::string(3000, 'f')));
    for (auto& r : Run(CloseDownload, CloseFields(0, 0))) all.push_back(r);
    return all;
  });
  EXPECT_EQ(replies, (std::vector<Bytes>{kAckOnly, {0x15, 0x08, 13, 0, 0, 0}}));
  EXPECT_EQ(ReadFile(data() / "f.bin"), "earlier");
  EXPECT_TRUE(TemporaryFiles(data()).empty());
}

TEST_F(FileTransferTest, AFullDiskAtAFlushIsReportedAgainByTheClose) {
  WriteFile(data() / "f.bin", "earlier");
  auto replies = RunWithFileSizeLimit([this] {
    std::vector<Bytes> all;
    Run(OpenDownloadEx, OpenEx(1000, "C:\\Data\\f.bin"));
    for (int i = 0; i < 3; ++i) Run(BufferBlock, Block(std::string(3000, 'f')));
    for (auto& r : Run(FlushBlocks, {})) all.push_back(r);
    for (auto& r : Run(CloseDownload, CloseFields(kSomeTime, 0))) all.push_back(r);
    return all;
  });
  EXPECT_EQ(replies, (std::vector<Bytes>{{0x15, 0x08, 13, 0, 0, 0}, Nak(0x08)}));
  EXPECT_EQ(ReadFile(data() / "f.bin"), "earlier");
  EXPECT_NE(platform::GetFileTimes(u"C:\\Data\\f.bin")->write,
            platform::LocalFileTimeToFileTime(kSomeTime));
  EXPECT_TRUE(TemporaryFiles(data()).empty());
}

TEST_F(FileTransferTest, NoRoomForTheDeclaredSizeIsReportedAtTheOpening) {
  auto replies = RunWithFileSizeLimit([this] {
    auto all = Run(OpenDownloadEx, OpenEx(1000, "C:\\Data\\g.bin", "1"));  // 5000 reserved
    for (auto& r : Run(CloseDownload, CloseFields(0, 0, 1))) all.push_back(r);
    return all;
  });
  EXPECT_EQ(replies, (std::vector<Bytes>{{0x15, 0x08, 13, 0, 0, 0}, Nak(0x08)}));
  EXPECT_TRUE(TemporaryFiles(data()).empty());
  EXPECT_FALSE(fs::exists(data() / "g.bin"));
}

}  // namespace
}  // namespace perimo

namespace perimo {
namespace {

// A program replaced by a download stays executable; read-only takes every write bit away
// and its absence gives the owner's back; a new file gets the usual mode.
TEST_F(FileTransferTest, DownloadsKeepTheReplacedFilesMode) {
  const mode_t umaskNow = ::umask(022);
  struct Case {
    const char* procedure;
    mode_t before;  // 0: no earlier file
    uint32_t attributes;
    mode_t after;
  };
  const Case cases[] = {
      {"simple", 0755, platform::kAttrArchive, 0755},
      {"extended", 0755, platform::kAttrArchive, 0755},
      {"compressed", 0750, platform::kAttrArchive, 0750},
      {"simple", 0775, platform::kAttrReadOnly, 0555},
      {"extended", 0775, platform::kAttrReadOnly, 0555},
      {"extended", 0550, platform::kAttrArchive, 0750},
      {"simple", 0, platform::kAttrArchive, 0644},
      {"extended", 0, platform::kAttrArchive, 0644},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.procedure) + " " + std::to_string(c.before));
    const fs::path target = data() / "run.sh";
    fs::remove(target);
    if (c.before != 0) {
      WriteFile(target, "old");
      ASSERT_EQ(::chmod(target.c_str(), c.before), 0);
    }
    const std::string name = "C:\\Data\\run.sh";
    if (std::string_view(c.procedure) == "simple") {
      ASSERT_EQ(Run(OpenDownload, Name(name)), One(kAckOnly));
      ASSERT_EQ(Run(WriteBlock, Block("#!/bin/sh\n")), One(kAckOnly));
      ASSERT_EQ(Run(CloseDownload, CloseFields(0, c.attributes)), One(kAckOnly));
    } else {
      const std::string flags = std::string_view(c.procedure) == "compressed" ? "1" : "";
      ASSERT_EQ(Run(OpenDownloadEx, OpenEx(10, name, flags)), One(kAckOnly));
      int64_t sequence = flags.empty() ? -1 : 1;
      EXPECT_TRUE(Run(BufferBlock, Block("#!/bin/sh\n", sequence)).empty());
      ASSERT_EQ(Run(FlushBlocks, flags.empty() ? Bytes{} : Bytes{2, 0, 0, 0}), One(kAckOnly));
      ASSERT_EQ(Run(CloseDownload, CloseFields(0, c.attributes, flags.empty() ? -1 : 3)),
                One(kAckOnly));
    }
    EXPECT_EQ(ReadFile(target), "#!/bin/sh\n");
    EXPECT_EQ(ModeOf(target), c.after);
  }
  ::umask(umaskNow);
}

TEST_F(FileTransferTest, ExtendedDownloadTakesTheLetterCaseItWasGiven) {
  for (const char* flags : {"", "1"}) {
    SCOPED_TRACE(flags);
    fs::remove_all(data());
    fs::create_directories(data());
    WriteFile(data() / "Main.APP", "old project");
    DownloadEx("C:\\Data\\MAIN.app", "new project", flags);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(data())) {
      names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"MAIN.app"});
    EXPECT_EQ(ReadFile(data() / "MAIN.app"), "new project");
  }
}

TEST_F(FileTransferTest, CompressedDownloadToANameWithoutAFolderExpands) {
  std::string plain(3000, 'p');
  WriteFile(root / "plain", plain);
  ASSERT_TRUE(CompressFile((root / "plain").string(), (root / "packed").string(), kLzw));
  DownloadEx("C:Main.app", ReadFile(root / "packed"), "1");
  EXPECT_EQ(ReadFile(root / "Main.app"), plain);
  EXPECT_TRUE(TemporaryFiles(root).empty());
}

TEST_F(FileTransferTest, AFifoIsNotOfferedForUpload) {
  ASSERT_EQ(::mkfifo((data() / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(Run(OpenUpload, Name("C:\\Data\\pipe")), One(Nak(0x05)));
  EXPECT_EQ(Run(ReadBlock, {}), One(Nak(0x07)));
}

// Offsets travel in 32 bits: the upload ends after 4 GiB - 1 bytes, with a status line.
TEST_F(FileTransferTest, AnUploadEndsAtFourGiB) {
  const fs::path big = data() / "big.img";
  { std::ofstream(big, std::ios::binary).put('x'); }
  fs::resize_file(big, 0x100000000ULL + 10);  // sparse
  ASSERT_EQ(Run(OpenUpload, Name("C:\\Data\\big.img")).size(), 1u);
  agent.transfer.uploadOffset = 0xFFFFFFFFULL - 100;
  auto replies = Run(ReadBlock, {});
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(CountOf(replies[0]), 100u);
  replies = Run(ReadBlock, {});
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(CountOf(replies[0]), 0u);
  EXPECT_EQ(lines.back(),
            "File C:\\Data\\big.img is larger than 4 GiB: only its first 4294967295 bytes were "
            "sent.");
  EXPECT_EQ(agent.transfer.uploadOffset, 0xFFFFFFFFULL);
}

TEST_F(FileTransferTest, ABlockTheTransportCouldNotSendIsReadAgain) {
  std::string content(20000, 0);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13);
  WriteFile(data() / "u.bin", content);
  ASSERT_EQ(Run(OpenUpload, Name("C:\\Data\\u.bin")).size(), 1u);
  link.sends = false;
  const Bytes lost = Run(ReadBlock, {}).at(0);
  link.sends = true;
  const Bytes first = Run(ReadBlock, {}).at(0);
  EXPECT_EQ(first, lost);
  EXPECT_EQ(std::string(first.begin() + 5, first.end()), content.substr(0, 16384));
}

TEST_F(FileTransferTest, EndingTheTransfersAtExitRemovesTheTemporaryFile) {
  WriteFile(data() / "t.app", "earlier");
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(1 << 20, "C:\\Data\\t.app")), One(kAckOnly));
  ASSERT_EQ(TemporaryFiles(data()).size(), 1u);
  EndTransfers(agent);
  EXPECT_TRUE(TemporaryFiles(data()).empty());
  EXPECT_EQ(ReadFile(data() / "t.app"), "earlier");
  EXPECT_EQ(agent.transfer.fd, -1);
}

// Until CloseDownload the blocks go into a temporary file: a cut-off download never leaves
// the target torn.
TEST_F(FileTransferTest, SimpleDownloadKeepsTheEarlierTargetUntilTheClose) {
  WriteFile(data() / "s.bin", "earlier");
  ASSERT_EQ(Run(OpenDownload, Name("C:\\Data\\s.bin")), One(kAckOnly));
  ASSERT_EQ(Run(WriteBlock, Block("new content")), One(kAckOnly));
  EXPECT_EQ(ReadFile(data() / "s.bin"), "earlier");
  const auto temporary = TemporaryFiles(data());
  ASSERT_EQ(temporary.size(), 1u);
  EXPECT_EQ(temporary[0].rfind("tmp", 0), 0u) << temporary[0];
  EXPECT_EQ(Run(CloseDownload, CloseFields(0, platform::kAttrArchive)), One(kAckOnly));
  EXPECT_EQ(ReadFile(data() / "s.bin"), "new content");
  EXPECT_TRUE(TemporaryFiles(data()).empty());
}

// A workstation that never sends CloseDownload still gets its file when it opens the next
// transfer; a failed one is dropped and the target stays.
TEST_F(FileTransferTest, TheNextOpeningPutsAnUnclosedSimpleDownloadInPlace) {
  struct Case {
    const char* next;
    bool failedBlock;
    const char* expected;
  };
  const Case cases[] = {
      {"simple", false, "written"}, {"extended", false, "written"}, {"upload", false, "written"},
      {"simple", true, "earlier"},  {"extended", true, "earlier"},  {"upload", true, "earlier"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.next) + (c.failedBlock ? " after a bad block" : ""));
    WriteFile(data() / "n.bin", "earlier");
    ASSERT_EQ(Run(OpenDownload, Name("C:\\Data\\n.bin")), One(kAckOnly));
    ASSERT_EQ(Run(WriteBlock, Block("written")), One(kAckOnly));
    if (c.failedBlock) {
      ASSERT_EQ(Run(WriteBlock, Block("")), One(Nak(0x06)));
    }
    const std::string_view next = c.next;
    if (next == "simple") {
      EXPECT_EQ(Run(OpenDownload, Name("C:\\Data\\m.bin")), One(kAckOnly));
    } else if (next == "extended") {
      EXPECT_EQ(Run(OpenDownloadEx, OpenEx(1, "C:\\m.bin")), One(kAckOnly));
    } else {
      EXPECT_EQ(Run(OpenUpload, Name("C:\\Data\\n.bin")).at(0).at(0), 0x06);
    }
    EXPECT_EQ(ReadFile(data() / "n.bin"), c.expected);
    EndTransfers(agent);
    EXPECT_TRUE(TemporaryFiles(data()).empty());
    EXPECT_TRUE(TemporaryFiles(root).empty());
    fs::remove(data() / "m.bin");
  }
}

// A lost connection or the agent's exit drops the open simple download whole; a close that
// still arrives reports that nothing was written.
TEST_F(FileTransferTest, ALostConnectionOrTheExitKeepsTheEarlierTarget) {
  for (bool exit : {false, true}) {
    SCOPED_TRACE(exit ? "exit" : "lost connection");
    WriteFile(data() / "l.bin", "earlier");
    ASSERT_EQ(Run(OpenDownload, Name("C:\\Data\\l.bin")), One(kAckOnly));
    ASSERT_EQ(Run(WriteBlock, Block("half of it")), One(kAckOnly));
    if (exit) {
      EndTransfers(agent);
    } else {
      EndDownloadOfLostConnection(agent);
      EXPECT_EQ(Run(WriteBlock, Block("rest")), One(Nak(0x07)));
      EXPECT_EQ(Run(CloseDownload, CloseFields(0, 0)), One(Nak(0x04)));
    }
    EXPECT_EQ(ReadFile(data() / "l.bin"), "earlier");
    EXPECT_TRUE(TemporaryFiles(data()).empty());
    EXPECT_EQ(agent.transfer.fd, -1);
  }
  // A lost connection leaves an extended download to the next opening, as before.
  ASSERT_EQ(Run(OpenDownloadEx, OpenEx(3, "C:\\Data\\l.bin")), One(kAckOnly));
  EndDownloadOfLostConnection(agent);
  EXPECT_EQ(TemporaryFiles(data()).size(), 1u);
}

TEST_F(FileTransferTest, AFullDiskInASimpleDownloadKeepsTheEarlierTarget) {
  WriteFile(data() / "f.bin", "earlier");
  auto replies = RunWithFileSizeLimit([this] {
    std::vector<Bytes> all;
    for (auto& r : Run(OpenDownload, Name("C:\\Data\\f.bin"))) all.push_back(r);
    for (int i = 0; i < 3; ++i) {
      for (auto& r : Run(WriteBlock, Block(std::string(3000, 'f')))) all.push_back(r);
    }
    for (auto& r : Run(CloseDownload, CloseFields(0, 0))) all.push_back(r);
    return all;
  });
  EXPECT_EQ(replies,
            (std::vector<Bytes>{kAckOnly, kAckOnly, {0x15, 0x08, 13, 0, 0, 0}, Nak(0x08)}));
  EXPECT_EQ(ReadFile(data() / "f.bin"), "earlier");
  EXPECT_TRUE(TemporaryFiles(data()).empty());
}

// What would keep the final rename from replacing the target is answered by the opening, as
// a target that cannot be removed: 15 03 and the cause; a file that cannot be made, 15 04.
TEST_F(FileTransferTest, OpenDownloadAnswersWhatTheFinalRenameCouldNotDo) {
  fs::permissions(root, fs::perms(0755));
  fs::permissions(data(), fs::perms(0755));
  fs::create_directories(data() / "folder.bin");
  fs::create_directories(data() / "ro");
  WriteFile(data() / "ro" / "old.bin", "earlier");
  fs::permissions(data() / "ro", fs::perms(0555));
  fs::create_directories(data() / "sticky");
  fs::permissions(data() / "sticky", fs::perms(01777));
  WriteFile(data() / "sticky" / "theirs.bin", "earlier");
  WriteFile(data() / "sticky" / "mine.bin", "earlier");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((data() / "sticky" / "mine.bin").c_str(), kNobody, kNobody), 0);
  }
  const Bytes denied{0x15, 0x03, 5, 0, 0, 0};
  struct Case {
    const char* name;
    Bytes reply;
    bool needsRoot;  // another user's file in a sticky folder
  };
  const Case cases[] = {
      {"C:\\Data\\folder.bin", Nak(0x04), false},
      {"C:\\Data\\ro\\old.bin", denied, false},
      {"C:\\Data\\ro\\new.bin", Nak(0x04), false},
      {"C:\\Data\\sticky\\theirs.bin", denied, true},
      {"C:\\Data\\sticky\\mine.bin", kAckOnly, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && ::geteuid() != 0) continue;
    const auto replies = RunInChild(
        [&] {
          auto all = Run(OpenDownload, Name(c.name));
          if (all.at(0) == kAckOnly) {
            Run(WriteBlock, Block("new"));
            for (auto& r : Run(CloseDownload, CloseFields(0, 0))) all.push_back(r);
          }
          return all;
        },
        RLIM_INFINITY, true);
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies[0], c.reply);
    if (c.reply == kAckOnly) {
      EXPECT_EQ(replies, (std::vector<Bytes>{kAckOnly, kAckOnly}));
    }
  }
  EXPECT_EQ(ReadFile(data() / "ro" / "old.bin"), "earlier");
  EXPECT_EQ(ReadFile(data() / "sticky" / "theirs.bin"), "earlier");
  for (const char* folder : {"ro", "sticky", "folder.bin"}) {
    EXPECT_TRUE(TemporaryFiles(data() / folder).empty()) << folder;
  }
  EXPECT_TRUE(fs::is_directory(data() / "folder.bin"));

  const std::string tooLong = "C:\\Data\\" + std::string(NAME_MAX + 1, 'x');
  EXPECT_EQ(Run(OpenDownload, Name(tooLong)), One(Nak(0x04)));
  EXPECT_TRUE(TemporaryFiles(data()).empty());
  fs::permissions(data() / "ro", fs::perms(0755));
}

}  // namespace
}  // namespace perimo
