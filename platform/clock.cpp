// The clocks of the C++ library; the local time through the C library's thread-safe call. The
// test clock's file is read with the C library, the same on both platforms.
#include "platform/clock.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// NORV_TEST_CLOCK_FILE as it was at the first reading of a clock; empty: no test clock.
const std::string& test_clock_file() {
    static const std::string path = [] {
        const char* p = std::getenv("NORV_TEST_CLOCK_FILE");
        return std::string(p ? p : "");
    }();
    return path;
}

// The milliseconds the test has moved the clocks forward: 0 without a test clock, or when its file
// does not hold a number from 0 up.
int64_t test_offset_ms() {
    const std::string& path = test_clock_file();
    if (path.empty()) return 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    char text[24];
    const size_t n = std::fread(text, 1, sizeof text, f);
    std::fclose(f);
    int64_t ms = 0;
    auto [end, ec] = std::from_chars(text, text + n, ms);
    return ec == std::errc() && ms > 0 ? ms : 0;
}

}  // namespace

int64_t plat_clock_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() +
           test_offset_ms();
}

int64_t plat_time_seconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch() +
                                  milliseconds(test_offset_ms()))
        .count();
}

plat_time_of_day plat_local_time_of_day() {
    std::time_t now = std::time(nullptr) + static_cast<std::time_t>(test_offset_ms() / 1000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return {local.tm_hour, local.tm_min, local.tm_sec};
}
