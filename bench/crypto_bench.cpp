// Keystream speed: generation calls of the Turing cipher (340 bytes each), and the own-cipher
// channel's rule applied in place over a 64 MiB buffer in spans of a few sizes, beside a plain
// copy of the same buffer as the memory-speed ceiling.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "crypto/turing.h"

namespace {

inline constexpr size_t buffer_bytes = size_t(64) << 20;

const unsigned char bench_key[32] = {
    0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
    0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0x70};

void bm_turing_gen(benchmark::State& state) {
    turing_state s{};
    keystream_init(&s, bench_key, 32);
    unsigned char out[turing_block_bytes];
    for (auto _ : state) {
        turing_gen(&s, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * turing_block_bytes);
}
BENCHMARK(bm_turing_gen);

void bm_turing_key_and_iv(benchmark::State& state) {
    turing_state s{};
    for (auto _ : state) {
        turing_key(&s, bench_key, 32);
        turing_iv(&s, nullptr, 0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bm_turing_key_and_iv);

// The buffer is enciphered in spans of state.range(0) bytes, as a transport would hand them over.
void bm_keystream_apply_64mib(benchmark::State& state) {
    std::vector<unsigned char> buf(buffer_bytes, 0x5a);
    turing_state s{};
    keystream_init(&s, bench_key, 32);
    const size_t span = size_t(state.range(0));
    for (auto _ : state) {
        for (size_t done = 0; done < buf.size(); done += span) {
            keystream_apply(&s, buf.data() + done, std::min(span, buf.size() - done));
        }
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer_bytes));
}
BENCHMARK(bm_keystream_apply_64mib)
    ->Arg(int64_t(buffer_bytes))
    ->Arg(65536)
    ->Arg(2048)
    ->Arg(333)
    ->Unit(benchmark::kMillisecond);

void bm_keystream_apply_copy_64mib(benchmark::State& state) {
    std::vector<unsigned char> src(buffer_bytes, 0x5a);
    std::vector<unsigned char> dst(buffer_bytes);
    turing_state s{};
    keystream_init(&s, bench_key, 32);
    for (auto _ : state) {
        keystream_apply_copy(&s, dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer_bytes));
}
BENCHMARK(bm_keystream_apply_copy_64mib)->Unit(benchmark::kMillisecond);

void bm_memcpy_64mib(benchmark::State& state) {
    std::vector<unsigned char> src(buffer_bytes, 0x5a);
    std::vector<unsigned char> dst(buffer_bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer_bytes));
}
BENCHMARK(bm_memcpy_64mib)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
