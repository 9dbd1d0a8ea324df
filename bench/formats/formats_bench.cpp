// Encode and decode speed of each compressed kind on text and on binary data, with
// `gzip -d` of the same data timed in the same run as the yardstick for decoding. The
// Huffman reader and writer are also timed in memory against their earlier version
// (huffman_before.cpp), interleaved run by run.
// Times are CPU time (user + system) of this process or of the gzip child, so that other
// work on a shared machine does not skew the comparison; the wall time is shown too.
//
//   perimo-bench-formats [--mib N] [--runs N] [--file PATH]...
//
// Each --file adds a data set: the first N MiB of that file, measured like the others but
// left out of the mix line, which judges the Huffman reader's goal on text and binaries.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "formats/compressed_file.h"
#include "formats/decompress.h"
#include "huffman_before.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes MakeText(size_t size) {
  std::mt19937 random(7);
  std::vector<std::string> words;
  for (int i = 0; i < 5000; ++i) {
    std::string word;
    const int length = 2 + static_cast<int>(random() % 9);
    for (int j = 0; j < length; ++j) word += static_cast<char>('a' + random() % 26);
    words.push_back(word);
  }
  Bytes out;
  out.reserve(size + 16);
  int column = 0;
  while (out.size() < size) {
    const size_t index = static_cast<size_t>(random() % 5000) * (random() % 5000) / 5000;
    out.insert(out.end(), words[index].begin(), words[index].end());
    column += static_cast<int>(words[index].size()) + 1;
    out.push_back(column > 72 ? '\n' : ' ');
    if (column > 72) column = 0;
  }
  out.resize(size);
  return out;
}

// Tag records of a project file: counters, values, names, and some noise.
Bytes MakeBinary(size_t size) {
  std::mt19937 random(8);
  Bytes out;
  out.reserve(size + 64);
  uint32_t counter = 0;
  std::vector<std::string> tags;
  for (int i = 0; i < 300; ++i)
    tags.push_back("Line" + std::to_string(i % 17) + ".Tag" + std::to_string(i));
  while (out.size() < size) {
    counter += 1 + random() % 5;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(counter >> (8 * i)));
    const double value = static_cast<double>(random() % 100000) / 16.0;
    const auto* raw = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), raw, raw + sizeof value);
    const std::string& tag = tags[random() % tags.size()];
    out.push_back(static_cast<uint8_t>(tag.size()));
    out.insert(out.end(), tag.begin(), tag.end());
    const int noise = static_cast<int>(random() % 12);
    for (int i = 0; i < noise; ++i) out.push_back(static_cast<uint8_t>(random()));
  }
  out.resize(size);
  return out;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// At most limit bytes from the start of the file.
Bytes ReadPrefix(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  Bytes data(limit);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(limit));
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

double Seconds(const struct timeval& t) {
  return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

double CpuSeconds(const struct rusage& usage) {
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

struct Timing {
  double cpu = 1e30;
  double wall = 1e30;
};

// Runs gzip with stdin and stdout redirected to files and adds its CPU time to `cpu`; false
// when it could not run.
bool RunGzip(const std::vector<const char*>& args, const std::string& in, const std::string& out,
             double* cpu) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int input = ::open(in.c_str(), O_RDONLY);
    const int output = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input < 0 || output < 0) ::_exit(127);
    ::dup2(input, 0);
    ::dup2(output, 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("gzip"));
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    ::execvp("gzip", argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  *cpu += CpuSeconds(usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Best of `runs` runs of fn(&childCpu); the CPU time counts this process and any child
// time fn reports.
template <typename Fn>
bool Measure(int runs, Timing* best, Fn&& fn) {
  for (int i = 0; i < runs; ++i) {
    struct rusage before {};
    struct rusage after {};
    double childCpu = 0;
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    if (!fn(&childCpu)) return false;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    ::getrusage(RUSAGE_SELF, &after);
    best->cpu = std::min(best->cpu, CpuSeconds(after) - CpuSeconds(before) + childCpu);
    best->wall = std::min(best->wall, wall);
  }
  return true;
}

double Mbps(size_t bytes, double seconds) {
  return static_cast<double>(bytes) / seconds / 1e6;
}

// Reader CPU seconds of the current and the earlier Huffman coder, summed over data sets.
struct ReaderTotals {
  double now = 0;
  double before = 0;
  size_t bytes = 0;
};

// Best-of-runs CPU time of the current Huffman reader and writer against the earlier ones on
// the same data, in memory, the two alternating so that both see the same machine load.
// Adds the reader's times to totals when given. Returns false when a result differs from the
// data or from the earlier stream.
bool CompareHuffmanWithBefore(const char* set, const Bytes& data, const std::string& dir, int runs,
                              ReaderTotals* totals) {
  const std::string nowPath = dir + "/now.huf";
  const std::string beforePath = dir + "/before.huf";
  Timing encodeNow;
  Timing encodeBefore;
  Timing decodeNow;
  Timing decodeBefore;
  bool ok = true;
  for (int run = 0; run < runs && ok; ++run) {
    ok = Measure(1, &encodeNow, [&](double*) {
      auto file = perimo::CreateCompressedFile(std::string(), perimo::kHuffman);
      const int fd = ::open(nowPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      return fd >= 0 && file->Create(fd) && file->Write(data.data(), data.size()) && file->Close();
    });
    ok = ok && Measure(1, &encodeBefore, [&](double*) {
           const int fd =
               ::open(beforePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
           const bool written =
               fd >= 0 && perimo::bench::EncodeHuffmanBefore(data.data(), data.size(), fd);
           if (fd >= 0) ::close(fd);
           return written;
         });
  }
  const Bytes image = ReadBytes(nowPath);
  const Bytes before = ReadBytes(beforePath);
  if (!ok || image.size() < perimo::kHeaderSize ||
      !std::equal(image.begin() + perimo::kHeaderSize, image.end(), before.begin(), before.end())) {
    std::printf("%-7s Huffman writer differs from before\n", set);
    return false;
  }
  Bytes out(data.size());
  for (int run = 0; run < runs && ok; ++run) {
    ok = Measure(1, &decodeNow, [&](double*) {
      auto file = perimo::CreateCompressedFile(std::string(), perimo::kHuffman);
      return file->OpenMemory(image.data(), image.size()) &&
             file->Read(out.data(), out.size()) == data.size() && out == data;
    });
    ok = ok && Measure(1, &decodeBefore, [&](double*) {
           return perimo::bench::DecodeHuffmanBefore(image.data() + perimo::kHeaderSize,
                                                     image.size() - perimo::kHeaderSize, out.data(),
                                                     out.size()) == data.size() &&
                  out == data;
         });
  }
  std::filesystem::remove(nowPath);
  std::filesystem::remove(beforePath);
  if (!ok) {
    std::printf("%-7s Huffman reader FAILED\n", set);
    return false;
  }
  if (totals) {
    totals->now += decodeNow.cpu;
    totals->before += decodeBefore.cpu;
    totals->bytes += data.size();
  }
  std::printf("%-7s Huffman reader  now %6.1f, before %6.1f MB/s: %.2fx\n", set,
              Mbps(data.size(), decodeNow.cpu), Mbps(data.size(), decodeBefore.cpu),
              decodeBefore.cpu / decodeNow.cpu);
  std::printf("%-7s Huffman writer  now %6.1f, before %6.1f MB/s: %.2fx\n", set,
              Mbps(data.size(), encodeNow.cpu), Mbps(data.size(), encodeBefore.cpu),
              encodeBefore.cpu / encodeNow.cpu);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t mib = 64;
  int runs = 2;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mib") == 0 && i + 1 < argc) {
      mib = std::strtoul(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--file") == 0 && i + 1 < argc) {
      files.emplace_back(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: perimo-bench-formats [--mib N] [--runs N] [--file PATH]...\n");
      return 2;
    }
  }
  std::vector<std::pair<std::string, Bytes>> sets;
  sets.emplace_back("text", MakeText(mib << 20));
  sets.emplace_back("binary", MakeBinary(mib << 20));
  for (const std::string& path : files) {
    Bytes data = ReadPrefix(path, mib << 20);
    if (data.empty()) {
      std::fprintf(stderr, "%s: cannot read it, or it is empty\n", path.c_str());
      return 2;
    }
    sets.emplace_back(std::filesystem::path(path).filename().string(), std::move(data));
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/perimo-bench-formats-XXXXXX";
  if (!::mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  struct Kind {
    int kind;
    const char* name;
    double goal;  // decode rate wanted, as a share of gzip -d
  } kinds[] = {{perimo::kLzss, "LZSS", 0.5},
               {perimo::kLzw, "LZW", 0.5},
               {perimo::kHuffman, "Huffman", 1.0 / 7}};
  int failures = 0;
  std::printf(
      "%zu MiB per data set, best of %d runs; rates in MB/s of plain data per CPU second\n"
      "(wall-clock decode rate in brackets); ratio = compressed / plain size\n",
      mib, runs);
  std::printf("%-7s %-8s %6s %8s %17s %11s %6s\n", "data", "kind", "ratio", "encode", "decode",
              "vs gzip -d", "goal");
  ReaderTotals huffmanReader;
  for (size_t index = 0; index < sets.size(); ++index) {
    const char* set = sets[index].first.c_str();
    const Bytes& data = sets[index].second;
    const std::string plain = dir + "/set" + std::to_string(index);
    const std::string gz = plain + ".gz";
    const std::string out = plain + ".out";
    WriteBytes(plain, data);
    Timing gzipEncode;
    Timing gzipDecode;
    if (!Measure(1, &gzipEncode, [&](double* cpu) { return RunGzip({"-c"}, plain, gz, cpu); }) ||
        !Measure(runs, &gzipDecode, [&](double* cpu) {
          return RunGzip({"-d", "-c"}, gz, out, cpu);
        })) {
      std::fprintf(stderr, "gzip could not be run\n");
      return 1;
    }
    const double gzipRate = Mbps(data.size(), gzipDecode.cpu);
    std::printf("%-7s %-8s %6.3f %8.1f %8.1f [%6.1f] %11s %6s\n", set, "gzip",
                static_cast<double>(std::filesystem::file_size(gz)) / data.size(),
                Mbps(data.size(), gzipEncode.cpu), gzipRate, Mbps(data.size(), gzipDecode.wall),
                "1.00", "");
    for (const Kind& k : kinds) {
      const std::string packed = plain + "." + k.name;
      Timing encode;
      Timing decode;
      const bool ok =
          Measure(1, &encode,
                  [&](double*) { return perimo::CompressFile(plain, packed, k.kind); }) &&
          Measure(runs, &decode,
                  [&](double*) { return perimo::DecompressFile(packed, out, false); }) &&
          ReadBytes(out) == data;
      if (!ok) {
        std::printf("%-7s %-8s round trip FAILED\n", set, k.name);
        ++failures;
        continue;
      }
      const double share = Mbps(data.size(), decode.cpu) / gzipRate;
      std::printf("%-7s %-8s %6.3f %8.1f %8.1f [%6.1f] %11.2f %6.2f %s\n", set, k.name,
                  static_cast<double>(std::filesystem::file_size(packed)) / data.size(),
                  Mbps(data.size(), encode.cpu), Mbps(data.size(), decode.cpu),
                  Mbps(data.size(), decode.wall), share, k.goal,
                  share >= k.goal ? "met" : "MISSED");
      std::filesystem::remove(packed);
    }
    if (!CompareHuffmanWithBefore(set, data, dir, runs, index < 2 ? &huffmanReader : nullptr)) {
      ++failures;
    }
    std::filesystem::remove(plain);
    std::filesystem::remove(gz);
    std::filesystem::remove(out);
  }
  if (huffmanReader.now > 0) {
    // A download of a project holds text and binaries alike: the goal is for equal amounts.
    constexpr double kGoal = 1.7;
    const double gain = huffmanReader.before / huffmanReader.now;
    std::printf("mix     Huffman reader  now %6.1f, before %6.1f MB/s: %.2fx (goal %.2fx %s)\n",
                Mbps(huffmanReader.bytes, huffmanReader.now),
                Mbps(huffmanReader.bytes, huffmanReader.before), gain, kGoal,
                gain >= kGoal ? "met" : "MISSED");
  }
  std::filesystem::remove_all(dir);
  return failures == 0 ? 0 : 1;
}
