// Throughput of the link cipher's AES-128-ECB and of the file digest's SHA-1, each measured
// beside OpenSSL's EVP functions on the same buffers in the same run. Prints MiB/s and the
// ratio ours / OpenSSL; "portable" rows show the paths used without AES-NI / SHA-NI. The
// portable SHA-1 of a file is also timed against sha1sum as a child process.
#include <openssl/evp.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "security/cpu_features.h"
#include "security/rijndael.h"
#include "security/sha1.h"

namespace {

using Clock = std::chrono::steady_clock;

// MiB per second of one timed round of at least 40 ms.
double Round(size_t bytes, const std::function<void()>& run) {
  size_t done = 0;
  const auto start = Clock::now();
  std::chrono::duration<double> elapsed{};
  do {
    run();
    done += bytes;
    elapsed = Clock::now() - start;
  } while (elapsed.count() < 0.04);
  return static_cast<double>(done) / (1024.0 * 1024.0) / elapsed.count();
}

// Ours and OpenSSL's alternately, best of nine rounds each, so that load from other
// processes on the machine hits both alike.
std::pair<double, double> Compare(size_t bytes, const std::function<void()>& ours,
                                  const std::function<void()>& openssl) {
  ours();
  openssl();
  double bestOurs = 0, bestOpenSsl = 0;
  for (int round = 0; round < 9; ++round) {
    bestOurs = std::max(bestOurs, Round(bytes, ours));
    bestOpenSsl = std::max(bestOpenSsl, Round(bytes, openssl));
  }
  return {bestOurs, bestOpenSsl};
}

void Row(const char* what, size_t bytes, std::pair<double, double> speeds) {
  const auto [ours, openssl] = speeds;
  std::printf("%-24s %8zu KiB  ours %9.1f MiB/s  OpenSSL %9.1f MiB/s  ratio %.2f\n", what,
              bytes / 1024, ours, openssl, ours / openssl);
}

volatile uint8_t sink;

double Seconds(const std::function<void()>& run) {
  const auto start = Clock::now();
  run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The portable digest of a file against coreutils' sha1sum (portable C) on the same file,
// alternately, best of five each: what a target without SHA instructions gets.
void CompareWithSha1sum(std::mt19937& rng) {
  char path[] = "/tmp/perimo-bench-sha1-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return;
  std::vector<uint8_t> chunk(1 << 20);
  constexpr int kMiB = 64;
  for (int i = 0; i < kMiB; ++i) {
    for (auto& b : chunk) b = static_cast<uint8_t>(rng());
    if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) break;
  }
  close(fd);
  const std::string command = std::string("sha1sum ") + path + " >/dev/null";
  perimo::SetCryptoAccelerationEnabled(false);
  double ours = 1e9, theirs = 1e9;
  for (int round = 0; round < 5; ++round) {
    ours = std::min(ours, Seconds([&] {
                      perimo::CSHA1 sha;
                      sha.HashFile(path);
                    }));
    theirs = std::min(theirs, Seconds([&] {
                        if (std::system(command.c_str()) != 0)
                          std::fputs("sha1sum failed\n", stderr);
                      }));
  }
  perimo::SetCryptoAccelerationEnabled(true);
  unlink(path);
  std::printf(
      "SHA-1 file (portable)   %6d MiB  ours %9.1f MiB/s  sha1sum %9.1f MiB/s  ratio %.2f\n", kMiB,
      kMiB / ours, kMiB / theirs, theirs / ours);
}

}  // namespace

int main() {
  const perimo::CpuFeatures& cpu = perimo::DetectedCpuFeatures();
  std::printf("processor: AES instructions %s, SHA-1 instructions %s\n", cpu.aes ? "yes" : "no",
              cpu.sha1 ? "yes" : "no");

  std::mt19937 rng(1);
  uint8_t key[16];
  for (auto& b : key) b = static_cast<uint8_t>(rng());
  perimo::CRijndael aes;
  aes.MakeKey(key, nullptr, 16, 16);
  EVP_CIPHER_CTX* enc = EVP_CIPHER_CTX_new();
  EVP_CIPHER_CTX* dec = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(enc, EVP_aes_128_ecb(), nullptr, key, nullptr);
  EVP_DecryptInit_ex(dec, EVP_aes_128_ecb(), nullptr, key, nullptr);
  EVP_CIPHER_CTX_set_padding(enc, 0);
  EVP_CIPHER_CTX_set_padding(dec, 0);
  EVP_MD_CTX* md = EVP_MD_CTX_new();

  for (bool accelerated : {true, false}) {
    perimo::SetCryptoAccelerationEnabled(accelerated);
    const char* tag = accelerated ? "" : " (portable)";
    for (size_t size : {size_t{1} << 20, size_t{64} << 10}) {
      std::vector<uint8_t> in(size), out(size + 16);
      for (auto& b : in) b = static_cast<uint8_t>(rng());
      int n = 0;
      char name[64];

      std::snprintf(name, sizeof name, "AES-128-ECB encrypt%s", tag);
      Row(name, size,
          Compare(
              size, [&] { aes.EncryptEcb(in.data(), out.data(), size); },
              [&] { EVP_EncryptUpdate(enc, out.data(), &n, in.data(), static_cast<int>(size)); }));
      std::snprintf(name, sizeof name, "AES-128-ECB decrypt%s", tag);
      Row(name, size,
          Compare(
              size, [&] { aes.DecryptEcb(in.data(), out.data(), size); },
              [&] { EVP_DecryptUpdate(dec, out.data(), &n, in.data(), static_cast<int>(size)); }));
      std::snprintf(name, sizeof name, "SHA-1%s", tag);
      Row(name, size,
          Compare(
              size, [&] { sink = perimo::CSHA1::Hash(in)[0]; },
              [&] {
                unsigned char digest[EVP_MAX_MD_SIZE];
                unsigned length = 0;
                EVP_DigestInit_ex(md, EVP_sha1(), nullptr);
                EVP_DigestUpdate(md, in.data(), size);
                EVP_DigestFinal_ex(md, digest, &length);
                sink = digest[0];
              }));
    }
  }
  CompareWithSha1sum(rng);
  EVP_MD_CTX_free(md);
  EVP_CIPHER_CTX_free(enc);
  EVP_CIPHER_CTX_free(dec);
  return 0;
}
