// The fired flags of the fault switches and the garbage pattern. Each flag is taken with one
// atomic exchange, so two connections reaching a switch together cannot both fire it.
#include "server/faults.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "server/text.h"

namespace {

std::atomic<bool> drop_on_fired{false};
std::atomic<long long> drop_on_seen{0};  // statements holding the --drop-on text so far
std::atomic<bool> drop_after_rows_fired{false};
std::atomic<bool> drop_at_login_fired{false};
std::atomic<bool> garbage_on_fired{false};
std::atomic<bool> drop_in_load_batch_fired{false};
std::atomic<bool> drop_at_load_handshake_fired{false};
std::atomic<bool> hold_on_fired{false};
std::atomic<bool> load_early_k_fired{false};
std::atomic<bool> stray_after_fired{false};

bool take(std::atomic<bool>& fired) {
    return !fired.load(std::memory_order_relaxed) && !fired.exchange(true);
}

bool contains(std::string_view text, std::string_view part) {
    auto hit = std::search(text.begin(), text.end(), part.begin(), part.end(),
                           [](char a, char b) { return srv_lower(a) == srv_lower(b); });
    return hit != text.end();
}

constexpr std::array<char, srv_fault_garbage_size> make_garbage() {
    std::array<char, srv_fault_garbage_size> bytes{};
    uint32_t x = 0x6e6f7276;
    for (char& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 24);
    }
    return bytes;
}

constexpr std::array<char, srv_fault_garbage_size> garbage = make_garbage();

}  // namespace

bool srv_fault_drop_on(const srv_options& opts, std::string_view text) {
    if (opts.drop_on.empty() || drop_on_fired.load(std::memory_order_relaxed)) return false;
    if (!contains(text, opts.drop_on)) return false;
    return drop_on_seen.fetch_add(1) + 1 == opts.drop_on_nth && take(drop_on_fired);
}

bool srv_fault_take_drop_after_rows() {
    return take(drop_after_rows_fired);
}

bool srv_fault_drop_at_login(const srv_options& opts) {
    return opts.drop_at_login && take(drop_at_login_fired);
}

bool srv_fault_garbage_on(const srv_options& opts, std::string_view text) {
    if (opts.garbage_on.empty() || garbage_on_fired.load(std::memory_order_relaxed)) return false;
    return contains(text, opts.garbage_on) && take(garbage_on_fired);
}

bool srv_fault_drop_in_load_batch(const srv_options& opts, long long batch) {
    return opts.drop_in_load_batch == batch && take(drop_in_load_batch_fired);
}

bool srv_fault_drop_at_load_handshake(const srv_options& opts) {
    return opts.drop_at_load_handshake && take(drop_at_load_handshake_fired);
}

bool srv_fault_hold_on(const srv_options& opts, std::string_view text) {
    if (opts.hold_on.empty() || hold_on_fired.load(std::memory_order_relaxed)) return false;
    return contains(text, opts.hold_on) && take(hold_on_fired);
}

void srv_fault_hold(int fd) {
    using std::chrono::steady_clock;
    const auto until = steady_clock::now() + std::chrono::milliseconds(srv_hold_max_ms);
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - steady_clock::now());
        if (left.count() <= 0) return;
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, int(left.count()));
        if (r > 0 || (r < 0 && errno != EINTR)) return;
    }
}

bool srv_fault_load_early_k(const srv_options& opts) {
    return opts.load_early_k && take(load_early_k_fired);
}

std::string_view srv_fault_garbage() {
    return {garbage.data(), garbage.size()};
}

bool srv_fault_stray_after(const srv_options& opts, std::string_view text) {
    if (opts.stray_after.empty() || stray_after_fired.load(std::memory_order_relaxed)) return false;
    return contains(text, opts.stray_after) && take(stray_after_fired);
}
