#include "formats/decompress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "formats/compressed_file.h"
#include "formats/uncompressed_file.h"

namespace perimo {
namespace {

// Expansion goes through one chunk of this size, whatever size a header announces.
constexpr size_t kChunkSize = 64 * 1024;

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Moves every byte the reader delivers into the writer. True when exactly `total` bytes came
// out of a sound stream and all of them were written.
bool Pump(CCompressedFile& reader, CCompressedFile& writer, uint64_t total,
          const ProgressFn& progress) {
  std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kChunkSize]);
  if (!chunk) return false;
  uint64_t done = 0;
  while (done < total) {
    const size_t got = reader.Read(chunk.get(), kChunkSize);
    // An early end code, a corrupt stream or bits wanted past the end of the file.
    if (got == 0 || reader.Failed()) return false;
    if (!writer.Write(chunk.get(), got)) return false;
    done += got;
    if (progress) progress(done, total);
  }
  return !reader.Failed();
}

}  // namespace

bool DecompressFile(const std::string& source, const std::string& target, bool deleteSource) {
  return DecompressFile(source, target, deleteSource, ProgressFn{});
}

bool DecompressFile(const std::string& source, const std::string& target, bool deleteSource,
                    const ProgressFn& progress) {
  if (source.empty() || target.empty() || SameFile(source, target)) return false;
  ::unlink(target.c_str());
  // Exclusive and not through a link: a name planted meanwhile fails the expansion instead
  // of redirecting the write.
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  if (!DecompressFile(source, fd, progress)) {
    ::unlink(target.c_str());
    return false;
  }
  if (deleteSource) ::unlink(source.c_str());
  return true;
}

bool DecompressFile(const std::string& source, int targetFd, const ProgressFn& progress) {
  std::unique_ptr<CCompressedFile> reader = CreateCompressedFile(source, kPlain);
  if (source.empty() || !reader->Open(source, CCompressedFile::Mode::kRead)) {
    if (targetFd >= 0) ::close(targetFd);
    return false;
  }
  CUncompressedFile writer;
  if (!writer.Create(targetFd)) return false;
  bool ok = Pump(*reader, writer, reader->OriginalSize(), progress);
  reader->Close();
  if (!writer.Close()) ok = false;
  return ok;
}

bool CompressFile(const std::string& source, const std::string& target, int kind,
                  const ProgressFn& progress) {
  if (source.empty() || target.empty() || SameFile(source, target)) return false;
  CUncompressedFile reader;
  if (!reader.Open(source, CCompressedFile::Mode::kRead)) return false;
  std::unique_ptr<CCompressedFile> writer = CreateCompressedFile(std::string(), kind);
  if (!writer->Open(target, CCompressedFile::Mode::kCreate)) return false;
  bool ok = Pump(reader, *writer, reader.OriginalSize(), progress);
  reader.Close();
  if (!writer->Close()) ok = false;
  if (!ok) ::unlink(target.c_str());
  return ok;
}

}  // namespace perimo
