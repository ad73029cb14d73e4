// The UTC calendar of the run record's and the diagnostics log's stamps, worked out from the
// milliseconds since 1970.
#include "utc_time.h"

#include <gtest/gtest.h>

TEST(utc_time, Calendar)
{
    char text[64];
    format_utc(0, UTC_MILLISECONDS, text, sizeof text);
    EXPECT_STREQ(text, "1970-01-01T00:00:00.000Z");
    format_utc(951868799999, UTC_MILLISECONDS, text, sizeof text);
    EXPECT_STREQ(text, "2000-02-29T23:59:59.999Z");
    format_utc(4107542400000, UTC_COMPACT, text, sizeof text);  // 2100 has no 29 February
    EXPECT_STREQ(text, "21000301T000000Z");
    format_utc(-1, UTC_SECONDS, text, sizeof text);  // before 1970 the day still begins at midnight
    EXPECT_STREQ(text, "1969-12-31T23:59:59Z");
}
