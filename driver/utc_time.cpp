// UTC times as text: the proleptic Gregorian calendar worked out from the count of milliseconds
// itself, so that both systems give the same text from any thread without the run-time library's
// calendar (gmtime shares one buffer, and its thread-safe forms differ between the systems).
#include "utc_time.h"

#include "text_util.h"

#include <chrono>

namespace {

const int64_t MS_PER_DAY = 86400000;

// The proleptic Gregorian date of a count of days since 1970-01-01.
void civil_from_days(int64_t days, int64_t *year, unsigned *month, unsigned *day)
{
    days += 719468;  // counted from 0000-03-01, so that the leap day ends each 400-year era's years
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;  // March is 0
    *day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    *month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    *year = static_cast<int64_t>(year_of_era) + era * 400 + (*month <= 2 ? 1 : 0);
}

} // namespace

void format_utc(int64_t ms, utc_form form, char *out, size_t size)
{
    int64_t days = ms >= 0 ? ms / MS_PER_DAY : -((-ms + MS_PER_DAY - 1) / MS_PER_DAY);
    int64_t of_day = ms - days * MS_PER_DAY;
    int64_t year;
    unsigned month, day;
    civil_from_days(days, &year, &month, &day);
    int hour = static_cast<int>(of_day / 3600000), minute = static_cast<int>(of_day / 60000 % 60);
    int second = static_cast<int>(of_day / 1000 % 60), milli = static_cast<int>(of_day % 1000);
    long long y = year;
    if (form == UTC_COMPACT)
        format_text(out, size, "%04lld%02u%02uT%02d%02d%02dZ", y, month, day, hour, minute, second);
    else if (form == UTC_SECONDS)
        format_text(out, size, "%04lld-%02u-%02uT%02d:%02d:%02dZ", y, month, day, hour, minute, second);
    else
        format_text(out, size, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", y, month, day, hour, minute, second, milli);
}

int64_t utc_now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
