#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Texts.h"

using namespace orvex;

// Every accepted time stamp must survive a round trip through its canonical UTC spelling,
// and stamp() must give either the input back or a short "dd.MM в HH:mm".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto instant = Texts::parseISO(text);
    std::string shown = Texts::stamp(text);
    if (!instant) {
        if (shown != text) std::abort();
        return 0;
    }
    using namespace std::chrono;
    auto day = floor<days>(*instant);
    year_month_day date{day};
    hh_mm_ss<microseconds> time{*instant - day};
    char canonical[64];
    std::snprintf(canonical, sizeof canonical, "%04d-%02u-%02uT%02d:%02d:%02d.%06lldZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()),
                  static_cast<long long>(time.subseconds().count()));
    // Offsets can push a year-9999 stamp into year 10000, which has no four-digit spelling.
    if (int(date.year()) <= 9999 && Texts::parseISO(canonical) != instant) std::abort();
    if (shown.size() != std::string("dd.MM в HH:mm").size()) std::abort();
    return 0;
}
