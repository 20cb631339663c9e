// Agent-channel benchmarks, each beside its baseline so the ratio can be read off one run:
//   - EncryptBuffer + DecryptBuffer of 1 MiB vs. raw EVP AES-128-ECB doing the same two passes;
//   - PacketChecksum over 1 MiB vs. the plain weighted loop and vs. a plain read of the bytes.
// The exchange with the reference agent is in agent_exchange_bench.cc.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <vector>

#include "docsec/agent/agent_keys.h"
#include "docsec/agent/agent_packet.h"

namespace docsec {
namespace {

constexpr size_t kMiB = 1 << 20;

std::vector<uint8_t> RandomBuffer(size_t size) {
  std::vector<uint8_t> buffer(size);
  std::mt19937 rng(42);
  for (auto& b : buffer) b = static_cast<uint8_t>(rng());
  return buffer;
}

// ---- encryption ----

void BM_AgentEncryptDecrypt(benchmark::State& state) {
  std::vector<uint8_t> buffer = RandomBuffer(kMiB);
  for (auto _ : state) {
    EncryptBuffer(buffer.data(), buffer.size(), ChannelKey);
    DecryptBuffer(buffer.data(), buffer.size(), ChannelKey);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kMiB);
}
BENCHMARK(BM_AgentEncryptDecrypt);

// Baseline: the same two passes straight through EVP, key set up each time as EncryptBuffer does.
void BM_RawEvpAes128Ecb(benchmark::State& state) {
  std::vector<uint8_t> buffer = RandomBuffer(kMiB);
  EVP_CIPHER_CTX* enc = EVP_CIPHER_CTX_new();
  EVP_CIPHER_CTX* dec = EVP_CIPHER_CTX_new();
  int len = 0;
  for (auto _ : state) {
    EVP_EncryptInit_ex(enc, EVP_aes_128_ecb(), nullptr, ChannelKey, nullptr);
    EVP_CIPHER_CTX_set_padding(enc, 0);
    EVP_EncryptUpdate(enc, buffer.data(), &len, buffer.data(), static_cast<int>(buffer.size()));
    EVP_DecryptInit_ex(dec, EVP_aes_128_ecb(), nullptr, ChannelKey, nullptr);
    EVP_CIPHER_CTX_set_padding(dec, 0);
    EVP_DecryptUpdate(dec, buffer.data(), &len, buffer.data(), static_cast<int>(buffer.size()));
    benchmark::DoNotOptimize(buffer.data());
  }
  EVP_CIPHER_CTX_free(enc);
  EVP_CIPHER_CTX_free(dec);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kMiB);
}
BENCHMARK(BM_RawEvpAes128Ecb);

// ---- checksum ----

void BM_AgentPacketChecksum(benchmark::State& state) {
  std::vector<uint8_t> body = RandomBuffer(kMiB);
  uint8_t head[kAgentHeadSize] = {};
  for (auto _ : state) {
    benchmark::DoNotOptimize(PacketChecksum(head, body.data(), body.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}
BENCHMARK(BM_AgentPacketChecksum);

// Baseline: the weighted sum written as it reads.
__attribute__((noinline)) uint32_t NaiveChecksum(const uint8_t* head, const uint8_t* body,
                                                 size_t length) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 16; ++i) sum += (i + 3) * head[i];
  for (size_t j = 0; j < length; ++j) sum += static_cast<uint32_t>(j + 19) * body[j];
  return sum;
}

void BM_NaiveChecksumLoop(benchmark::State& state) {
  std::vector<uint8_t> body = RandomBuffer(kMiB);
  uint8_t head[kAgentHeadSize] = {};
  for (auto _ : state) {
    benchmark::DoNotOptimize(NaiveChecksum(head, body.data(), body.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}
BENCHMARK(BM_NaiveChecksumLoop);

// Baseline: reading the bytes as 64-bit words and adding them, about what memory allows.
void BM_ReadBandwidth(benchmark::State& state) {
  std::vector<uint8_t> body = RandomBuffer(kMiB);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (size_t i = 0; i < body.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, body.data() + i, 8);
      sum += word;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}
BENCHMARK(BM_ReadBandwidth);

}  // namespace
}  // namespace docsec
