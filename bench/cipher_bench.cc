// DES-ECB and MD5 throughput: the program's own code beside the library's.
// Run the Release build: build-dir/bench/cipher_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>

#include "support/des_cipher.h"
#include "support/md5.h"

#ifdef ZV_BENCH_OPENSSL
#include <openssl/des.h>
#include <openssl/evp.h>
#endif

namespace {

constexpr std::size_t kDataSize = 1 << 20;
const uint8_t kKey[8] = {0x95, 0x4E, 0xC8, 0x73, 0x1A, 0x6F, 0x2D, 0x4B};

const std::string& Data() {
  static const std::string data = [] {
    std::mt19937 random(1);
    std::string bytes(kDataSize, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
  }();
  return data;
}

// EncryptStream from one string stream to another, as the login encoding uses it.
void BM_DesEncryptStream(benchmark::State& state) {
  const zv::TDESCipher cipher(kKey, sizeof kKey);
  std::istringstream in;
  std::ostringstream out;
  for (auto _ : state) {
    in.clear();
    in.str(Data());
    out.str({});
    cipher.EncryptStream(in, out);
    benchmark::DoNotOptimize(out.tellp());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDataSize);
}
BENCHMARK(BM_DesEncryptStream);

void BM_DesEncryptedString(benchmark::State& state) {
  const zv::TDESCipher cipher(kKey, sizeof kKey);
  for (auto _ : state) {
    std::string encrypted = cipher.EncryptedString(Data());
    benchmark::DoNotOptimize(encrypted.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDataSize);
}
BENCHMARK(BM_DesEncryptedString);

void BM_Md5(benchmark::State& state) {
  for (auto _ : state) {
    zv::TMD5 md5;
    md5.Update(Data().data(), Data().size());
    benchmark::DoNotOptimize(md5.Final());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDataSize);
}
BENCHMARK(BM_Md5);

#ifdef ZV_BENCH_OPENSSL
// The library's DES-ECB, one 8-byte block per call, over the same data.
void BM_OpensslDesEcb(benchmark::State& state) {
  DES_cblock key;
  for (int i = 0; i < 8; ++i) key[i] = kKey[7 - i];  // the standard key order
  DES_key_schedule schedule;
  DES_set_key_unchecked(&key, &schedule);
  // const_DES_cblock is not const-qualified, hence a writable copy of the input.
  std::string in = Data();
  std::string out(kDataSize, '\0');
  for (auto _ : state) {
    auto* src = reinterpret_cast<unsigned char*>(in.data());
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    for (std::size_t i = 0; i < kDataSize; i += 8) {
      DES_ecb_encrypt(reinterpret_cast<const_DES_cblock*>(src + i),
                      reinterpret_cast<DES_cblock*>(dst + i), &schedule, DES_ENCRYPT);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDataSize);
}
BENCHMARK(BM_OpensslDesEcb);

void BM_OpensslMd5(benchmark::State& state) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  for (auto _ : state) {
    EVP_Digest(Data().data(), Data().size(), digest, &length, EVP_md5(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDataSize);
}
BENCHMARK(BM_OpensslMd5);
#endif

}  // namespace

BENCHMARK_MAIN();
