#include "text/date_time.h"

namespace {

// A record filled by hand may hold anything; add without signed overflow.
int32_t plus(int value, int32_t offset) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(offset));
}

} // namespace

Text dateText(const std::tm* t) {
    if (t == nullptr) return Text("(INVALID DATE)");
    Text result(t->tm_mday);
    int32_t month = plus(t->tm_mon, 1);
    result.append(month < 10 ? ".0" : ".");
    result.append(month);
    result.append(".");
    result.append(plus(t->tm_year, 1900));
    return result;
}

std::string stampText(const std::tm& t, const char* format) {
    char stamp[64];
    const size_t length = std::strftime(stamp, sizeof stamp, format, &t);
    return std::string(stamp, length);
}

Text timeText(const std::tm* t) {
    if (t == nullptr) return Text("(INVALID TIME)");
    Text result(t->tm_hour);
    result.append(t->tm_min < 10 ? ":0" : ":");
    result.append(t->tm_min);
    result.append(t->tm_sec < 10 ? ":0" : ":");
    result.append(t->tm_sec);
    return result;
}
