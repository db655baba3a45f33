// Tests of the date stamps under fixed time zones.  Each case sets TZ and calls tzset
// itself (the library reads the zone once at load); the expected texts were checked
// against `TZ=<zone> date -d @<time>`.  The load-time tzset is checked with a helper
// program started under one zone that switches TZ before its first conversion.
#include <unistd.h>

#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "QbTest.h"
#include "Sdatetime.h"

using qbtest::Str;

TEST(Dates, StampsUnderFixedZones) {
    const struct {
        const char* zone;
        time_t when;
        const char *rfc822, *logDate, *messageId;
    } rows[] = {
        {"UTC0", 862846200, "Mon, 5 May 1997 15:30:00 +0000", "19970505153000+0000", "19970505153000"},
        {"CET-1", 862846200, "Mon, 5 May 1997 16:30:00 +0100", "19970505163000+0100", "19970505153000"},
        // Summer time of a zone with rules.
        {"CET-1CEST,M3.5.0,M10.5.0/3", 863451000, "Mon, 12 May 1997 17:30:00 +0200",
         "19970512173000+0200", "19970512153000"},
        // West of UTC, same day and the day before.
        {"EST5", 862846200, "Mon, 5 May 1997 10:30:00 -0500", "19970505103000-0500", "19970505153000"},
        {"EST5", 862797600, "Sun, 4 May 1997 21:00:00 -0500", "19970504210000-0500", "19970505020000"},
        // Far east: the local date is already the next day.
        {"XXX-13", 862846200, "Tue, 6 May 1997 04:30:00 +1300", "19970506043000+1300", "19970505153000"},
        {"XXX12", 862846200, "Mon, 5 May 1997 03:30:00 -1200", "19970505033000-1200", "19970505153000"},
        // Across a year boundary both ways.
        {"XXX-14", 883611000, "Thu, 1 Jan 1998 13:30:00 +1400", "19980101133000+1400", "19971231233000"},
        {"EST5", 883614600, "Wed, 31 Dec 1997 19:30:00 -0500", "19971231193000-0500", "19980101003000"},
        // Half-hour zones.
        {"IST-5:30", 862846200, "Mon, 5 May 1997 21:00:00 +0530", "19970505210000+0530", "19970505153000"},
        {"NST3:30", 862846200, "Mon, 5 May 1997 12:00:00 -0330", "19970505120000-0330", "19970505153000"},
        // Only a leading zero of the day goes; the zero of "10" stays.
        {"UTC0", 863255223, "Sat, 10 May 1997 09:07:03 +0000", "19970510090703+0000", "19970510090703"},
    };
    for (const auto& row : rows) {
        qbtest::EnvGuard env;
        env.Set("TZ", row.zone);
        ::tzset();
        SCOPED_TRACE(std::string(row.zone) + " @" + std::to_string(row.when));
        EXPECT_EQ(Str(RFC822Date(row.when)), row.rfc822);
        EXPECT_EQ(Str(LogFileDate(row.when)), row.logDate);
        EXPECT_EQ(Str(MessageIdDate(row.when)), row.messageId);
        EXPECT_EQ(Str(ZoneOffset(row.when)), std::string(row.logDate).substr(14));
    }
    ::tzset();  // back to the zone the guards restored
}

TEST(Dates, ZoneIsReadWhenTheLibraryLoads) {
    // The probe is started under XXX-13 and sets TZ to UTC0 before its first
    // conversion, without calling tzset.  Only a tzset at load makes it report +1300.
    qbtest::RunResult run = qbtest::RunChild([] {
        const char* env[] = {"TZ=XXX-13", nullptr};
        ::execle(QB_TZPROBE, QB_TZPROBE, static_cast<char*>(nullptr), env);
        return 127;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "19970506043000+1300");
}
