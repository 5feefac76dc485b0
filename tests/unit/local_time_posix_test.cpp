// The local time of the log's time stamps: the conversion of one second is kept for the lines
// that follow within it, and every call still gives the local time of the second it was made in.
#include "platform/system_info.h"

#include <gtest/gtest.h>

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tavrin::platform {
namespace {

struct HourMinuteSecond {
    std::uint32_t hour, minute, second;
    bool operator==(const HourMinuteSecond&) const = default;
};

HourMinuteSecond localOf(time_t secs) {
    tm local{};
    ::localtime_r(&secs, &local);
    return {static_cast<std::uint32_t>(local.tm_hour), static_cast<std::uint32_t>(local.tm_min),
            static_cast<std::uint32_t>(local.tm_sec)};
}

time_t secondsNow() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return tv.tv_sec;
}

// In a zone far from UTC, so that hour and minute differ from the system's: several calls in a
// row (the first converts, the others may take what it kept), each the local time of its second.
// A change of zone shows from the next second on (the second before may be kept in the old zone).
TEST(LocalTime, EveryCallGivesTheLocalTimeOfItsSecond) {
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("TZ", "<+0545>-5:45", 1);
    ::tzset();
    (void)localTimeNow();
    for (const time_t changed = secondsNow(); secondsNow() == changed;) ::usleep(1000);
    for (int i = 0; i < 200; ++i) {
        const time_t before = secondsNow();
        const LocalTime t = localTimeNow();
        const time_t after = secondsNow();
        const HourMinuteSecond got{t.hour, t.minute, t.second};
        EXPECT_TRUE(got == localOf(before) || got == localOf(after))
            << "call " << i << ": " << t.hour << ":" << t.minute << ":" << t.second;
        EXPECT_LT(t.millisecond, 1000u);
    }
    if (old != nullptr)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace tavrin::platform
