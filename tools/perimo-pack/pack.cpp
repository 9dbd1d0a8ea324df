#include "pack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/compressed_file.h"
#include "formats/uncompressed_file.h"
#include "progress_bar.h"

namespace perimo::pack {
namespace {

constexpr size_t kChunkSize = 256 * 1024;
constexpr uint64_t kSizeFieldLimit = 0xFFFFFFFFu;

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

std::string SystemError(const char* what, const std::string& path, int error) {
  return std::string(what) + " " + Quoted(path) + ": " + std::strerror(error);
}

// Empty when the input is a regular file that can be read, else why not.
std::string CheckReadable(const std::string& input) {
  struct stat info {};
  if (::stat(input.c_str(), &info) != 0) return SystemError("cannot open", input, errno);
  if (!S_ISREG(info.st_mode)) return Quoted(input) + " is not a regular file";
  const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SystemError("cannot open", input, errno);
  ::close(fd);
  return std::string();
}

// A file beside the output that becomes the output on Commit and is removed otherwise.
class TempOutput {
 public:
  explicit TempOutput(std::string output) : output_(std::move(output)) {}
  ~TempOutput() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  std::string Create() {
    const size_t slash = output_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : output_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? output_ : output_.substr(slash + 1);
    std::string pattern = folder + (slash == std::string::npos ? "/." : ".") + name + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return SystemError("cannot create", output_, errno);
    // mkstemp makes the file private; the output gets the usual mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    path_ = pattern;
    return std::string();
  }
  const std::string& Path() const { return path_; }
  std::string Commit() {
    if (::rename(path_.c_str(), output_.c_str()) != 0) {
      return SystemError("cannot create", output_, errno);
    }
    path_.clear();
    return std::string();
  }

 private:
  std::string output_;
  std::string path_;
};

std::string Copy(CCompressedFile& reader, CCompressedFile& writer, const std::string& input,
                 const std::string& output, const char* label) {
  const uint64_t total = reader.OriginalSize();
  std::vector<uint8_t> chunk(kChunkSize);
  ProgressBar bar(label, total);
  uint64_t done = 0;
  while (done < total) {
    const size_t got = reader.Read(chunk.data(), chunk.size());
    if (reader.Corrupt()) {
      return Quoted(input) + " is corrupt or cut short: its " + KindName(reader.Kind()) +
             " stream breaks off after " + std::to_string(done + got) + " of " +
             std::to_string(total) + " bytes";
    }
    if (reader.Failed()) return SystemError("cannot read", input, EIO);
    if (got == 0) {
      return Quoted(input) + " ends early: its " + KindName(reader.Kind()) +
             " stream stops after " + std::to_string(done) + " of " + std::to_string(total) +
             " bytes";
    }
    if (!writer.Write(chunk.data(), got)) return SystemError("cannot write", output, errno);
    done += got;
    bar.Update(done);
  }
  return std::string();
}

}  // namespace

const char* KindName(int kind) {
  switch (kind) {
    case kHuffman:
      return "Huffman";
    case kLzss:
      return "LZSS";
    case kLzw:
      return "LZW";
    default:
      return "plain";
  }
}

std::string Compress(const std::string& input, const std::string& output, int kind) {
  if (std::string error = CheckReadable(input); !error.empty()) return error;
  CUncompressedFile reader;
  if (!reader.Open(input, CCompressedFile::Mode::kRead)) {
    return SystemError("cannot open", input, errno);
  }
  if (kind != kPlain && reader.OriginalSize() > kSizeFieldLimit) {
    return Quoted(input) + " is too large: a compressed file holds at most 4294967295 bytes";
  }
  TempOutput temp(output);
  if (std::string error = temp.Create(); !error.empty()) return error;
  std::unique_ptr<CCompressedFile> writer = CreateCompressedFile(std::string(), kind);
  if (!writer->Open(temp.Path(), CCompressedFile::Mode::kCreate)) {
    return SystemError("cannot create", output, errno);
  }
  if (std::string error = Copy(reader, *writer, input, output, "compressing"); !error.empty()) {
    return error;
  }
  if (!writer->Close()) return SystemError("cannot write", output, errno);
  return temp.Commit();
}

std::string Expand(const std::string& input, const std::string& output) {
  if (std::string error = CheckReadable(input); !error.empty()) return error;
  std::unique_ptr<CCompressedFile> reader = CreateCompressedFile(input, kPlain);
  if (!reader->Open(input, CCompressedFile::Mode::kRead)) {
    return Quoted(input) + " has a " + KindName(reader->Kind()) +
           " magic but its header is cut short";
  }
  TempOutput temp(output);
  if (std::string error = temp.Create(); !error.empty()) return error;
  CUncompressedFile writer;
  if (!writer.Open(temp.Path(), CCompressedFile::Mode::kCreate)) {
    return SystemError("cannot create", output, errno);
  }
  if (std::string error = Copy(*reader, writer, input, output, "expanding"); !error.empty()) {
    return error;
  }
  if (!writer.Close()) return SystemError("cannot write", output, errno);
  return temp.Commit();
}

std::string Inspect(const std::string& input, FileInfo* info) {
  if (std::string error = CheckReadable(input); !error.empty()) return error;
  std::unique_ptr<CCompressedFile> reader = CreateCompressedFile(input, kPlain);
  if (!reader->Open(input, CCompressedFile::Mode::kRead)) {
    return Quoted(input) + " has a " + KindName(reader->Kind()) +
           " magic but its header is cut short";
  }
  info->kind = reader->Kind();
  info->originalSize = reader->OriginalSize();
  info->compressedSize = reader->CompressedSize();
  return std::string();
}

}  // namespace perimo::pack
