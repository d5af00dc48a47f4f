// Sets the process's time zone for one scope and puts it back as it was
// (unset included) when the scope ends, however it ends.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

// The process's time zone for one scope, put back as it was (unset
// included) when the scope ends.
struct TimeZoneGuard {
    bool had = false;
    std::string before;

    explicit TimeZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            had = true;
            before = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZoneGuard() {
        if (had)
            setenv("TZ", before.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZoneGuard(const TimeZoneGuard&) = delete;
    TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;
};
