// The fired flags of the fault switches. Each is taken with one atomic exchange, so two
// connections reaching a switch together cannot both fire it.
#include "server/text.h"
#include "server/faults.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<bool> drop_on_fired{false};
std::atomic<bool> drop_after_rows_fired{false};

}  // namespace

bool srv_fault_drop_on(const srv_options& opts, std::string_view text) {
    if (opts.drop_on.empty() || drop_on_fired.load(std::memory_order_relaxed)) return false;
    auto hit = std::search(text.begin(), text.end(), opts.drop_on.begin(), opts.drop_on.end(),
                           [](char a, char b) { return srv_lower(a) == srv_lower(b); });
    return hit != text.end() && !drop_on_fired.exchange(true);
}

bool srv_fault_take_drop_after_rows() {
    return !drop_after_rows_fired.exchange(true);
}
