#include "protocol/file_transfer_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include "formats/decompress.h"
#include "platform/file_error.h"
#include "platform/file_system.h"
#include "platform/file_time.h"
#include "platform/paths.h"
#include "platform/wire_string.h"
#include "protocol/agent_state.h"
#include "protocol/language_redirect.h"
#include "protocol/reject.h"
#include "protocol/status_text.h"
#include "security/rights.h"

namespace perimo {
namespace {

namespace pf = platform;

// Reason bytes after 0x15.
constexpr uint8_t kNakEmptyName = 0x01;
constexpr uint8_t kNakBadSequence = 0x02;
constexpr uint8_t kNakCannotRemove = 0x03;
constexpr uint8_t kNakCannotCreate = 0x04;
constexpr uint8_t kNakNotFound = 0x05;
constexpr uint8_t kNakBadBlockSize = 0x06;
constexpr uint8_t kNakNotOpen = 0x07;
constexpr uint8_t kNakWriteFailed = 0x08;
constexpr uint8_t kNakReadFailed = 0x09;

// Room the expansion of a compressed download is expected to need.
constexpr int64_t kCompressedReserveFactor = 5;
constexpr uint64_t kLargestUploadOffset = 0xFFFFFFFF;

bool OnSerial(const Request& request) {
  return request.connection ? request.connection->IsSerial() : request.agent.settings.device == 0;
}

uint32_t LoadU32At(std::span<const uint8_t> payload, size_t offset) {
  return payload.size() >= offset + 4 ? pf::LoadU32(payload.data() + offset) : 0;
}

uint64_t LoadU64At(std::span<const uint8_t> payload, size_t offset) {
  if (payload.size() < offset + 8) return 0;
  return pf::LoadU32(payload.data() + offset) |
         (static_cast<uint64_t>(pf::LoadU32(payload.data() + offset + 4)) << 32);
}

std::u16string ReadName(const Request& request, size_t offset, bool stopAtTab = false) {
  auto payload = request.Payload();
  if (offset > payload.size()) return {};
  return pf::ReadWireName(payload.subspan(offset), request.agent.wideStrings, stopAtTab).text;
}

// A file that cannot grow past its size limit is a full disk to the workstation.
uint32_t CauseOf(int err) {
  return pf::FileErrorCause(err == EFBIG ? ENOSPC : err);
}

void Log(const AgentState& agent, int textId, std::u16string_view name) {
  agent.AddStatusLine(StatusText(textId, name));
}

void LogFormatted(const AgentState& agent, int textId, std::initializer_list<TextArg> args) {
  agent.AddStatusLine(FormatStatusText(textId, args));
}

void ReplyWithCause(const Request& request, uint8_t reason, uint32_t cause) {
  const uint8_t bytes[6] = {kNak,
                            reason,
                            static_cast<uint8_t>(cause),
                            static_cast<uint8_t>(cause >> 8),
                            static_cast<uint8_t>(cause >> 16),
                            static_cast<uint8_t>(cause >> 24)};
  request.Reply(bytes, sizeof bytes);
}

// The first failure reply of a download is sent; later ones stay silent.
bool MaySendFailure(TransferState& transfer) {
  if (transfer.errorReplySent) return false;
  transfer.errorReplySent = true;
  return true;
}

void ReplyGated(const Request& request, uint8_t reason) {
  if (MaySendFailure(request.agent.transfer)) request.Reply({kNak, reason});
}

void ReplyGatedWithCause(const Request& request, uint8_t reason, uint32_t cause) {
  if (MaySendFailure(request.agent.transfer)) ReplyWithCause(request, reason, cause);
}

// Only the first failure of a download is kept.
void RecordFailure(TransferState& transfer, int32_t status, uint32_t detail = 0) {
  if (transfer.status != kTransferOk) return;
  transfer.status = status;
  transfer.statusDetail = detail;
}

void CloseTransferFile(TransferState& transfer) {
  if (transfer.fd >= 0) ::close(transfer.fd);
  transfer.fd = -1;
}

// Ends whatever download was left open: the partial temporary file goes, the target stays.
void EndOpenTransfer(TransferState& transfer) {
  CloseTransferFile(transfer);
  if (!transfer.temporaryName.empty()) pf::DeleteFile(transfer.temporaryName);
  transfer.temporaryName.clear();
  transfer.sequence = -1;
  transfer.compressed = false;
  transfer.simple = false;
}

// Numbered frames count up from 1 after the opening command.
bool AcceptSequence(TransferState& transfer, uint32_t number) {
  if (number == 0 || number != static_cast<uint32_t>(transfer.sequence) + 1) return false;
  transfer.sequence = static_cast<int32_t>(number);
  return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t count) {
  while (count > 0) {
    ssize_t written = ::write(fd, data, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    data += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

// Reserves the space before the first block arrives, so that a full disk shows at once.
// 0 or the errno of the failure.
int ReserveSpace(int fd, int64_t declaredSize, bool compressed) {
  const int64_t reserve = compressed ? declaredSize * kCompressedReserveFactor : declaredSize;
  if (reserve > 0) {
    int err = ::posix_fallocate(fd, 0, reserve);
    if (err != 0) return err;
  }
  if (::ftruncate(fd, declaredSize) != 0 || ::lseek(fd, 0, SEEK_SET) < 0) return errno;
  return 0;
}

// The folder part of a wire path with its trailing separator ("C:" for "C:Main.app"); empty
// when there is none.
std::u16string FolderOf(std::u16string_view path) {
  size_t end = path.size();
  while (end > 0 && !pf::IsSeparator(path[end - 1])) --end;
  if (end == 0 && path.size() >= 2 && path[1] == u':') end = 2;
  return std::u16string(path.substr(0, end));
}

// The permission bits of an existing regular file, which a file replacing it keeps.
std::optional<mode_t> ModeOf(std::u16string_view wirePath) {
  const std::optional<std::string> native = pf::ToNativePath(wirePath);
  struct stat st {};
  if (!native || ::stat(native->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return st.st_mode & 0777;
}

void ApplyMode(std::u16string_view wirePath, std::optional<mode_t> mode) {
  if (!mode) return;
  if (const std::optional<std::string> native = pf::ToNativePath(wirePath)) {
    ::chmod(native->c_str(), *mode);
  }
}

// One rename replaces the earlier target, so it is never seen torn. The new file keeps the
// replaced one's mode, and then takes the letter case the workstation gave. The temporary
// file is gone afterwards either way; false when the rename failed.
bool PutInPlace(TransferState& transfer) {
  ApplyMode(transfer.temporaryName, ModeOf(transfer.currentFile));
  const bool moved = pf::MoveFile(transfer.temporaryName, transfer.currentFile, true);
  if (moved) pf::MoveFile(transfer.currentFile, transfer.currentFile, true);
  if (!moved) pf::DeleteFile(transfer.temporaryName);
  transfer.temporaryName.clear();
  return moved;
}

// An opening command (0x01, 0x2D, 0x37, 0x04) ends the download left open. Peers that never
// send CloseDownload after a simple download still get what they wrote; anything else left
// open is discarded.
void EndForNextOpening(TransferState& transfer) {
  if (transfer.simple && transfer.fd >= 0 && transfer.status == kTransferOk &&
      !transfer.temporaryName.empty()) {
    CloseTransferFile(transfer);
    PutInPlace(transfer);
  }
  EndOpenTransfer(transfer);
}

void ResetDownload(TransferState& transfer) {
  EndForNextOpening(transfer);
  transfer.declaredSize = -1;
  transfer.status = kTransferOk;
  transfer.statusDetail = 0;
  transfer.errorReplySent = false;
  transfer.blockFill = 0;
}

// Why a rename could not replace the existing file at nativePath; 0 when it could. The
// folder must take new names, and in a sticky folder only the owner of the file or of the
// folder may replace it.
int ReplaceRefusal(const std::string& nativePath) {
  const size_t slash = nativePath.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : nativePath.substr(0, slash);
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return errno;
  struct stat dir {};
  struct stat file {};
  if (::stat(folder.c_str(), &dir) != 0 || ::lstat(nativePath.c_str(), &file) != 0) return errno;
  const uid_t self = ::geteuid();
  if ((dir.st_mode & S_ISVTX) != 0 && self != 0 && self != file.st_uid && self != dir.st_uid) {
    return EPERM;
  }
  return 0;
}

bool NameFits(const std::string& nativePath) {
  const size_t slash = nativePath.rfind('/');
  const size_t length =
      slash == std::string::npos ? nativePath.size() : nativePath.size() - slash - 1;
  return length > 0 && length <= NAME_MAX;
}

// Expands the received file into a temporary file of its own beside the target, so the
// earlier target stays whole until the rename. The file is created exclusively and written
// through its descriptor, so no name planted in the folder can redirect the write. The
// expanded file's name, or empty.
std::u16string ExpandBesideTarget(const std::u16string& received, const std::u16string& target) {
  const std::u16string folder = FolderOf(target);
  if (folder.empty()) return {};
  int fd = -1;
  const std::optional<std::u16string> expanded = pf::CreateTempFile(folder, &fd);
  if (!expanded || fd < 0) return {};
  const std::optional<std::string> source = pf::ToNativePath(received);
  if (!source) ::close(fd);
  if (source && DecompressFile(*source, fd)) return *expanded;
  pf::DeleteFile(*expanded);
  return {};
}

// Opens currentFile for reading; -1 when it cannot be opened or is not a regular file (as
// on Windows, a directory cannot be read as a file). The file is opened anew for every
// block, but its name is looked up once.
int OpenForUpload(TransferState& transfer) {
  if (transfer.currentFile.empty()) return -1;
  if (transfer.uploadNameLookedUp != transfer.currentFile) {
    std::optional<std::string> native = pf::ToNativePath(transfer.currentFile);
    transfer.uploadNameLookedUp = transfer.currentFile;
    transfer.uploadNativePath = native ? std::move(*native) : std::string();
  }
  if (transfer.uploadNativePath.empty()) return -1;
  const int fd = ::open(transfer.uploadNativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    return -1;
  }
  return fd;
}

enum class FlushOutcome { kWritten, kRefused, kWriteFailed };

// FlushBlocks, also run by CloseDownload without a request (then nothing is replied).
FlushOutcome Flush(AgentState& agent, const Request* request) {
  TransferState& transfer = agent.transfer;
  if (transfer.status != kTransferOk) {
    if (request && !transfer.errorReplySent) {
      // 0x15, status byte, and the 4-byte detail when there is one.
      uint8_t bytes[6] = {kNak, static_cast<uint8_t>(transfer.status)};
      size_t count = 2;
      if (transfer.statusDetail != 0) {
        for (int i = 0; i < 4; ++i)
          bytes[count++] = static_cast<uint8_t>(transfer.statusDetail >> (8 * i));
      }
      request->Reply(bytes, count);
    }
    transfer.errorReplySent = true;
    transfer.blockFill = 0;
    return FlushOutcome::kRefused;
  }
  if (request && transfer.sequence != -1 && request->PayloadSize() > 0 &&
      !AcceptSequence(transfer, LoadU32At(request->Payload(), 0))) {
    LogFormatted(agent, kTextInvalidFileFormat, {transfer.currentFile});
    transfer.status = kTransferBadSequence;
    request->Reply({kNak, kNakBadSequence});
    transfer.errorReplySent = true;
    transfer.blockFill = 0;
    return FlushOutcome::kRefused;
  }
  if (transfer.fd < 0) {
    Log(agent, kTextCannotOpenFile, transfer.currentFile);
    if (request) ReplyGated(*request, kNakNotOpen);
    transfer.blockFill = 0;
    return FlushOutcome::kRefused;
  }
  if (!WriteAll(transfer.fd, agent.blockBuffer.data(), transfer.blockFill)) {
    const uint32_t cause = CauseOf(errno);
    EndOpenTransfer(transfer);
    Log(agent, kTextCannotWriteFile, transfer.currentFile);
    // Kept as the download's status, so that CloseDownload cannot report it as a success.
    RecordFailure(transfer, kTransferWriteFailed, cause);
    if (request) ReplyGatedWithCause(*request, kNakWriteFailed, cause);
    transfer.blockFill = 0;
    return FlushOutcome::kWriteFailed;
  }
  transfer.blockFill = 0;
  if (request) request->Reply({kAck});
  return FlushOutcome::kWritten;
}

}  // namespace

void EndTransfers(AgentState& agent) {
  EndOpenTransfer(agent.transfer);
  agent.transfer.currentFile.clear();
}

void EndDownloadOfLostConnection(AgentState& agent) {
  TransferState& transfer = agent.transfer;
  if (!transfer.simple) return;
  EndOpenTransfer(transfer);
  // A CloseDownload that still comes must not report the discarded file as written.
  RecordFailure(transfer, kTransferCannotCreate);
}

void OpenDownload(Request& request) {
  AgentState& agent = request.agent;
  TransferState& transfer = agent.transfer;
  ResetDownload(transfer);
  const std::u16string name = ReadName(request, 0);
  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidFileName));
    request.Reply({kNak, kNakEmptyName});
    return;
  }
  const std::u16string path = pf::ResolveTargetPath(name, agent.paths.exeDir);
  if (RightForPath(agent.login, agent.paths.exeDir, path) == 0) {
    RejectFrame(agent, request.connection, request.reply);
    return;
  }
  // The target is replaced by one rename at CloseDownload, so a lost connection or a crash
  // leaves it whole. What would keep that rename from replacing it is answered now.
  const std::optional<std::string> native = pf::ToNativePath(path);
  struct stat st {};
  const bool exists = native && ::stat(native->c_str(), &st) == 0;
  if (exists && !S_ISDIR(st.st_mode)) {
    if (const int refusal = ReplaceRefusal(*native); refusal != 0) {
      Log(agent, kTextFileCannotBeRemoved, path);
      ReplyWithCause(request, kNakCannotRemove, CauseOf(refusal));
      return;
    }
  }
  int fd = -1;
  std::optional<std::u16string> temporary;
  const std::u16string folder = FolderOf(path);
  if (native && !(exists && S_ISDIR(st.st_mode)) && NameFits(*native) && !folder.empty()) {
    temporary = pf::CreateTempFile(folder, &fd);
  }
  if (!temporary || fd < 0) {
    if (temporary) pf::DeleteFile(*temporary);
    Log(agent, kTextCannotCreateFile, path);
    request.Reply({kNak, kNakCannotCreate});
    return;
  }
  transfer.fd = fd;
  transfer.temporaryName = std::move(*temporary);
  transfer.simple = true;
  Log(agent, kTextUpdatingFile, path);
  transfer.currentFile = path;
  request.Reply({kAck});
}

// Payload: u32 block size n, n data bytes, written into the download's temporary file.
void WriteBlock(Request& request) {
  AgentState& agent = request.agent;
  TransferState& transfer = agent.transfer;
  const auto payload = request.Payload();
  const uint32_t size = LoadU32At(payload, 0);
  const size_t following = payload.size() > 4 ? payload.size() - 4 : 0;
  if (size == 0 || size > kMaxBlockSize || size > following) {
    LogFormatted(agent, kTextInvalidBlockSize, {size, static_cast<uint32_t>(request.frameLength)});
    RecordFailure(transfer, kTransferBadBlockSize);
    ReplyGated(request, kNakBadBlockSize);
    return;
  }
  if (transfer.fd < 0) {
    Log(agent, kTextCannotOpenFile, transfer.currentFile);
    ReplyGated(request, kNakNotOpen);
    return;
  }
  if (!WriteAll(transfer.fd, payload.data() + 4, size)) {
    const uint32_t cause = CauseOf(errno);
    CloseTransferFile(transfer);
    Log(agent, kTextCannotWriteFile, transfer.currentFile);
    RecordFailure(transfer, kTransferWriteFailed, cause);
    ReplyGatedWithCause(request, kNakWriteFailed, cause);
    return;
  }
  request.Reply({kAck});
}

// Payload: u32 declared size; name, ending at a zero, the frame's end or a TAB; after a TAB
// one flag character switches sequence numbers on ('1': the data is a compressed file).
void OpenDownloadEx(Request& request, bool replyOn) {
  AgentState& agent = request.agent;
  TransferState& transfer = agent.transfer;
  ResetDownload(transfer);
  const auto payload = request.Payload();
  const uint32_t declaredSize = LoadU32At(payload, 0);
  const auto rest = payload.size() > 4 ? payload.subspan(4) : std::span<const uint8_t>();
  const bool wide = agent.wideStrings;
  const std::u16string name = pf::ReadWireName(rest, wide, true).text;

  const size_t unit = wide ? 2 : 1;
  const size_t nameEnd = name.size() * unit;
  auto charAt = [&](size_t offset) -> char16_t {
    return wide ? static_cast<char16_t>(rest[offset] | (rest[offset + 1] << 8)) : rest[offset];
  };
  if (nameEnd + 2 * unit <= rest.size() && charAt(nameEnd) == u'\t') {
    transfer.sequence = 0;
    transfer.compressed = charAt(nameEnd + unit) == u'1';
  }

  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidFileName));
    RecordFailure(transfer, kTransferEmptyName);
    if (replyOn) request.Reply({kNak, kNakEmptyName});
    transfer.errorReplySent = true;
    return;
  }
  std::u16string target = pf::ResolveTargetPath(name, agent.paths.exeDir);
  if (RightForPath(agent.login, agent.paths.exeDir, target) == 0) {
    RejectFrame(agent, request.connection, request.reply);
    return;
  }
  std::u16string pending;
  if (RedirectLanguageDownload(target, pending)) target = std::move(pending);

  // The earlier target is left untouched here: it is replaced by one rename at the end.
  int fd = -1;
  std::optional<std::u16string> temporary;
  if (std::u16string folder = FolderOf(target); !folder.empty()) {
    temporary = pf::CreateTempFile(folder, &fd);
  }
  if (temporary && fd < 0) fd = pf::OpenFile(*temporary, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (!temporary) {
    temporary = target + u".tmp";
    fd = pf::OpenFile(*temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
  }
  transfer.declaredSize = declaredSize;
  if (fd < 0) {
    if (temporary) pf::DeleteFile(*temporary);
    Log(agent, kTextCannotCreateFile, target);
    RecordFailure(transfer, kTransferCannotCreate);
    if (replyOn) {
      request.Reply({kNak, kNakCannotCreate});
      transfer.errorReplySent = true;
    }
    return;
  }
  transfer.fd = fd;
  transfer.temporaryName = *temporary;
  if (int err = ReserveSpace(fd, declaredSize, transfer.compressed); err != 0) {
    const uint32_t cause = CauseOf(err);
    EndOpenTransfer(transfer);
    Log(agent, kTextCannotWriteFile, target);
    RecordFailure(transfer, kTransferWriteFailed, cause);
    if (replyOn) {
      ReplyWithCause(request, kNakWriteFailed, cause);
      transfer.errorReplySent = true;
    }
    return;
  }
  transfer.blockFill = 0;
  Log(agent, kTextUpdatingFile, target);
  transfer.currentFile = std::move(target);
  if (replyOn) request.Reply({kAck});
}

// Payload: [u32 sequence number]; u32 block size n; n data bytes. Collected in the block
// buffer; answered on the serial port only.
void BufferBlock(Request& request) {
  AgentState& agent = request.agent;
  TransferState& transfer = agent.transfer;
  if (transfer.status != kTransferOk) return;
  const auto payload = request.Payload();
  const bool serial = OnSerial(request);
  size_t offset = 0;
  if (transfer.sequence != -1) {
    if (!AcceptSequence(transfer, LoadU32At(payload, 0))) {
      LogFormatted(agent, kTextInvalidFileFormat, {transfer.currentFile});
      transfer.status = kTransferBadSequence;
      if (serial) ReplyGated(request, kNakBadSequence);
      transfer.blockFill = 0;
      return;
    }
    offset = 4;
  }
  const uint32_t size = LoadU32At(payload, offset);
  offset += 4;
  const size_t following = payload.size() > offset ? payload.size() - offset : 0;
  // A block that would not fit in what is left of the buffer is refused like a bad size.
  const size_t room =
      agent.blockBuffer.size() - std::min<size_t>(transfer.blockFill, agent.blockBuffer.size());
  if (size == 0 || size > kMaxBlockSize || size > following || size > room) {
    LogFormatted(agent, kTextInvalidBlockSize, {size, static_cast<uint32_t>(request.frameLength)});
    transfer.status = kTransferBadBlockSize;
    if (serial) ReplyGated(request, kNakBadBlockSize);
    transfer.blockFill = 0;
    return;
  }
  std::memcpy(agent.blockBuffer.data() + transfer.blockFill, payload.data() + offset, size);
  transfer.blockFill += size;
  if (serial) request.Reply({kAck});
}

// Payload: [u32 sequence number].
void FlushBlocks(Request& request) {
  Flush(request.agent, &request);
}

// Payload: [u32 sequence number]; creation, last access, last write (3 × u64 local
// FILETIME); u32 attributes.
void CloseDownload(Request& request, bool replyOn) {
  AgentState& agent = request.agent;
  TransferState& transfer = agent.transfer;
  bool ownFlushFailed = false;
  if (transfer.blockFill > 0 && transfer.status == kTransferOk) {
    ownFlushFailed = Flush(agent, nullptr) == FlushOutcome::kWriteFailed;
  }

  const auto payload = request.Payload();
  size_t offset = 0;
  if (transfer.sequence != -1) {
    const uint32_t number = LoadU32At(payload, 0);
    offset = 4;
    if (transfer.status == kTransferOk) {
      bool complete = transfer.fd < 0 || ::lseek(transfer.fd, 0, SEEK_CUR) == transfer.declaredSize;
      if (!complete || !AcceptSequence(transfer, number)) {
        LogFormatted(agent, kTextInvalidFileFormat, {transfer.currentFile});
        transfer.status = kTransferBadSequence;
      }
    }
  }

  // Without sequence numbers nothing checks the length: a file that ends before its declared
  // size keeps only what arrived, not the zero-filled tail of the reservation.
  if (transfer.status == kTransferOk && transfer.sequence == -1 && transfer.fd >= 0 &&
      !transfer.temporaryName.empty()) {
    const off_t written = ::lseek(transfer.fd, 0, SEEK_CUR);
    if (written >= 0 && written < transfer.declaredSize) {
      if (::ftruncate(transfer.fd, written) != 0) {
        RecordFailure(transfer, kTransferWriteFailed, CauseOf(errno));
      }
    }
  }

  if (transfer.status == kTransferOk && transfer.compressed && transfer.fd >= 0) {
    CloseTransferFile(transfer);
    std::u16string expanded = ExpandBesideTarget(transfer.temporaryName, transfer.currentFile);
    if (expanded.empty()) {
      LogFormatted(agent, kTextUncompressError, {transfer.currentFile});
      transfer.status = kTransferExpandFailed;
    }
    pf::DeleteFile(transfer.temporaryName);
    // From here on the expansion stands in for the received file.
    transfer.temporaryName = std::move(expanded);
  }

  pf::FileTimes times;
  times.creation = LoadU64At(payload, offset);
  times.access = LoadU64At(payload, offset + 8);
  times.write = LoadU64At(payload, offset + 16);
  for (pf::FileTime* t : {&times.creation, &times.access, &times.write}) {
    if (*t != 0) *t = pf::LocalFileTimeToFileTime(*t);
  }
  const bool haveAttributes = payload.size() >= offset + 28;
  const uint32_t attributes = LoadU32At(payload, offset + 24);

  CloseTransferFile(transfer);
  if (transfer.status == kTransferOk) {
    const std::u16string& written =
        transfer.temporaryName.empty() ? transfer.currentFile : transfer.temporaryName;
    if (!written.empty() && pf::IsFile(written)) pf::SetFileTimes(written, times);
  }

  if (!transfer.temporaryName.empty()) {
    // A failed download leaves the earlier target as it was.
    if (transfer.status == kTransferOk) {
      if (!PutInPlace(transfer)) transfer.status = kTransferCannotCreate;
    } else {
      pf::DeleteFile(transfer.temporaryName);
      transfer.temporaryName.clear();
    }
  }
  transfer.simple = false;

  if (transfer.status == kTransferOk) {
    if (haveAttributes && pf::GetFileAttributes(transfer.currentFile) != attributes) {
      pf::SetFileAttributes(transfer.currentFile, attributes);
    }
    Log(agent, kTextFileUpdated, transfer.currentFile);
  }
  transfer.currentFile.clear();
  if (!replyOn) return;
  if (transfer.status == kTransferOk) {
    request.Reply({kAck});
  } else if (ownFlushFailed) {
    ReplyWithCause(request, static_cast<uint8_t>(transfer.status), transfer.statusDetail);
  } else {
    request.Reply({kNak, static_cast<uint8_t>(transfer.status)});
  }
}

// Payload: name, used as received. Reply: 0x06, u32 file size, 0x00.
void OpenUpload(Request& request) {
  AgentState& agent = request.agent;
  TransferState& transfer = agent.transfer;
  if (MayGetFromTarget(agent.login) == 0) {
    RejectFrame(agent, request.connection, request.reply);
    return;
  }
  EndForNextOpening(transfer);
  transfer.currentFile = ReadName(request, 0);
  if (transfer.currentFile.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidFileName));
    request.Reply({kNak, kNakEmptyName});
    return;
  }
  // Only regular files are sent: a FIFO or a device would never end or stall the agent.
  uint32_t size = 0;
  bool regular = false;
  if (int fd = pf::OpenFile(transfer.currentFile, O_RDONLY | O_CLOEXEC); fd >= 0) {
    struct stat st {};
    regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular) size = static_cast<uint32_t>(st.st_size);
    ::close(fd);
  }
  if (!regular) {
    Log(agent, kTextCannotFindFile, transfer.currentFile);
    request.Reply({kNak, kNakNotFound});
    return;
  }
  Log(agent, kTextSendingFile, transfer.currentFile);
  transfer.uploadOffset = 0;
  transfer.uploadNameLookedUp.clear();
  request.Reply({kAck, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                 static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24), 0x00});
}

// Reply: 0x06, u32 count n, n bytes; a count of 0 ends the upload.
void ReadBlock(Request& request) {
  AgentState& agent = request.agent;
  TransferState& transfer = agent.transfer;
  const int fd = OpenForUpload(transfer);
  if (fd < 0) {
    Log(agent, kTextCannotOpenFile, transfer.currentFile);
    request.Reply({kNak, kNakNotOpen});
    return;
  }
  // The serial line carries half a pack per frame.
  const size_t packSize = static_cast<size_t>(std::max<int32_t>(agent.settings.packSize, 2));
  const size_t capacity = std::max<size_t>(packSize, 16384) + 16;
  if (transfer.uploadReply.size() < capacity) transfer.uploadReply.resize(capacity);
  size_t wantedLength =
      std::min(OnSerial(request) ? packSize / 2 : packSize, transfer.uploadReply.size() - 5);
  // A block the link would have to cut is read shorter instead.
  if (request.connection != nullptr && request.connection->ReplyLimit() > 5) {
    wantedLength =
        std::min(wantedLength, static_cast<size_t>(request.connection->ReplyLimit() - 5));
  }

  // The reply counts offsets in 32 bits: a file goes no further than 4 GiB - 1.
  const uint64_t toLimit =
      kLargestUploadOffset - std::min(transfer.uploadOffset, kLargestUploadOffset);
  const size_t blockLength = static_cast<size_t>(std::min<uint64_t>(wantedLength, toLimit));

  uint8_t* data = transfer.uploadReply.data() + 5;
  size_t count = 0;
  while (count < blockLength) {
    ssize_t got = ::pread(fd, data + count, blockLength - count,
                          static_cast<off_t>(transfer.uploadOffset) + static_cast<off_t>(count));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      Log(agent, kTextCannotReadFile, transfer.currentFile);
      request.Reply({kNak, kNakReadFailed});
      return;
    }
    if (got == 0) break;
    count += static_cast<size_t>(got);
  }
  if (blockLength == 0 && wantedLength > 0) {
    uint8_t probe = 0;
    if (::pread(fd, &probe, 1, static_cast<off_t>(kLargestUploadOffset)) == 1) {
      Log(agent, kTextUploadPastFourGiB, transfer.currentFile);
    }
  }
  ::close(fd);
  uint8_t* head = transfer.uploadReply.data();
  head[0] = kAck;
  for (int i = 0; i < 4; ++i) head[1 + i] = static_cast<uint8_t>(count >> (8 * i));
  // A block the transport could not send is read again by the next request.
  if (request.Reply(head, count + 5) != 0) transfer.uploadOffset += count;
}

// Reply: 0x06, creation, last access, last write (3 × u64 local FILETIME), u32 attributes,
// 0x00.
void CloseUpload(Request& request) {
  AgentState& agent = request.agent;
  TransferState& transfer = agent.transfer;
  pf::FileTimes times;
  uint32_t attributes = pf::kInvalidAttributes;
  if (!transfer.currentFile.empty()) {
    if (pf::IsFile(transfer.currentFile)) {
      if (auto found = pf::GetFileTimes(transfer.currentFile)) times = *found;
    }
    attributes = pf::GetFileAttributes(transfer.currentFile);
  }
  Log(agent, kTextFileSent, transfer.currentFile);
  transfer.currentFile.clear();

  std::vector<uint8_t> reply;
  reply.reserve(30);
  reply.push_back(kAck);
  for (pf::FileTime t : {times.creation, times.access, times.write}) {
    pf::AppendU64(reply, t != 0 ? pf::FileTimeToLocalFileTime(t) : 0);
  }
  pf::AppendU32(reply, attributes);
  reply.push_back(0x00);
  request.Reply(reply);
}

}  // namespace perimo
