// perimo-pack: writes and reads the agent's compressed file formats from the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/compressed_file.h"
#include "pack.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  perimo-pack compress [--lzss | --lzw | --huffman | --plain] INPUT OUTPUT\n"
    "  perimo-pack expand INPUT OUTPUT\n"
    "  perimo-pack info FILE\n"
    "  perimo-pack --help\n"
    "\n"
    "Writes and reads the compressed files the Perimo agent accepts in downloads.\n"
    "\n"
    "  compress  writes INPUT to OUTPUT with the chosen method (default --lzss):\n"
    "              --lzss     LZSS, 4096-byte window           (magic \"**++LZSS\")\n"
    "              --lzw      LZW, 9- to 15-bit codes          (magic \"**++LZW \")\n"
    "              --huffman  adaptive Huffman                 (magic \"**++HUFF\")\n"
    "              --plain    an unchanged copy, no header\n"
    "            A compressed file holds at most 4294967295 bytes.\n"
    "  expand    writes the plain content of INPUT to OUTPUT, as the agent does when a\n"
    "            download completes; a file without a known magic is copied unchanged.\n"
    "            A stream that is corrupt or ends before its declared size is an error.\n"
    "  info      prints the method and the two sizes from FILE's header.\n"
    "\n"
    "OUTPUT is replaced if it exists; it is written under a temporary name and renamed\n"
    "into place, so a failed run leaves no partial file. A progress bar is drawn on\n"
    "standard error for long files when that is a terminal.\n"
    "\n"
    "Exit status: 0 done, 1 the operation failed, 2 wrong usage.\n";

int UsageError(const char* message) {
  std::fprintf(stderr, "perimo-pack: %s\nTry 'perimo-pack --help'.\n", message);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "perimo-pack: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("no command given");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::string command = args[0];
  std::vector<std::string> files;
  int kind = perimo::kLzss;
  int methods = 0;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--lzss" || arg == "--lzw" || arg == "--huffman" || arg == "--plain") {
      if (command != "compress") return UsageError(("only compress takes " + arg).c_str());
      kind = arg == "--lzss"      ? perimo::kLzss
             : arg == "--lzw"     ? perimo::kLzw
             : arg == "--huffman" ? perimo::kHuffman
                                  : perimo::kPlain;
      ++methods;
    } else if (arg == "--") {
      files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(("unknown option " + arg).c_str());
    } else {
      files.push_back(arg);
    }
  }
  if (methods > 1) return UsageError("choose one method");
  if (command == "compress" || command == "expand") {
    if (files.size() != 2) return UsageError((command + " takes INPUT and OUTPUT").c_str());
    const std::string error = command == "compress"
                                  ? perimo::pack::Compress(files[0], files[1], kind)
                                  : perimo::pack::Expand(files[0], files[1]);
    return error.empty() ? 0 : Fail(error);
  }
  if (command == "info") {
    if (files.size() != 1) return UsageError("info takes one FILE");
    perimo::pack::FileInfo info;
    if (std::string error = perimo::pack::Inspect(files[0], &info); !error.empty()) {
      return Fail(error);
    }
    std::printf("method: %s\noriginal size: %llu\ncompressed size: %llu\n",
                perimo::pack::KindName(info.kind),
                static_cast<unsigned long long>(info.originalSize),
                static_cast<unsigned long long>(info.compressedSize));
    return 0;
  }
  return UsageError(("unknown command " + command).c_str());
}
