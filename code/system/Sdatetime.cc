// Sdatetime: message dates, message-id dates, log dates and the local zone offset.
//
// Also home of the library's load-time tzset: every local-time conversion of the
// library happens in this file, so whatever program uses one links this object and
// with it the initialiser, and the zone is read once from the TZ the process was
// started with.
#include "Sdatetime.h"

#include <cstring>

namespace {

// Runs when the library is loaded, before main.
struct ZoneAtLoad {
    ZoneAtLoad() { tzset(); }
} zoneAtLoad;

bool LocalTime(time_t when, struct tm& out) { return localtime_r(&when, &out) != nullptr; }
bool UtcTime(time_t when, struct tm& out) { return gmtime_r(&when, &out) != nullptr; }

// Formats `t` with `format`; undefined when the text does not fit.
SString Format(const char* format, const struct tm& t) {
    char buf[64];
    size_t n = std::strftime(buf, sizeof buf, format, &t);
    if (n == 0) return SString();
    return SString(buf, static_cast<int>(n));
}

// Local minus UTC in seconds, from the broken-down times alone.  When the two fall on
// different days the hour difference is off by a day, which the year and day-of-year
// comparison puts right.
long OffsetSeconds(const struct tm& local, const struct tm& utc) {
    long offset = (local.tm_hour - utc.tm_hour) * 3600L + (local.tm_min - utc.tm_min) * 60L;
    int dayOrder = local.tm_year != utc.tm_year ? local.tm_year - utc.tm_year
                                                : local.tm_yday - utc.tm_yday;
    if (dayOrder > 0) offset += 86400;
    if (dayOrder < 0) offset -= 86400;
    return offset;
}

// Sign, two digits of hours and two of minutes.
SString FormatOffset(long offset) {
    char text[6];
    text[0] = offset >= 0 ? '+' : '-';
    if (offset < 0) offset = -offset;
    if (offset > 86400) offset %= 86400;
    text[1] = static_cast<char>('0' + offset / 36000 % 3);
    text[2] = static_cast<char>('0' + offset / 3600 % 10);
    text[3] = static_cast<char>('0' + offset / 600 % 6);
    text[4] = static_cast<char>('0' + offset / 60 % 10);
    text[5] = 0;
    return SString(text, 5);
}

// Removes the leading zero of the day of the month ("Mon, 05 May" -> "Mon, 5 May").
SString DropDayZero(const SString& date) {
    const char* p = date.Chars();
    const char* comma = static_cast<const char*>(std::memchr(p, ',', date.Length()));
    if (!comma) return date;
    int day = static_cast<int>(comma - p) + 2;
    if (day >= date.Length() || p[day] != '0') return date;
    return SString(p, day) + SString(p + day + 1, date.Length() - day - 1);
}

}  // namespace

SString ZoneOffset(time_t when) {
    struct tm local, utc;
    if (!LocalTime(when, local) || !UtcTime(when, utc)) return SString();
    return FormatOffset(OffsetSeconds(local, utc));
}

SString ZoneOffset() { return ZoneOffset(std::time(nullptr)); }

namespace {

// The local time in `format`, then the zone offset; undefined when either fails.
SString LocalStampWithZone(time_t when, const char* format) {
    struct tm local;
    if (!LocalTime(when, local)) return SString();
    SString date = Format(format, local);
    SString zone = ZoneOffset(when);
    if (!date.Defined() || !zone.Defined()) return SString();
    return date + zone;
}

}  // namespace

SString RFC822Date(time_t when) {
    SString date = LocalStampWithZone(when, "%a, %d %b %Y %H:%M:%S ");
    return date.Defined() ? DropDayZero(date) : date;
}

SString RFC822Date() { return RFC822Date(std::time(nullptr)); }

SString MessageIdDate(time_t when) {
    struct tm utc;
    if (!UtcTime(when, utc)) return SString();
    return Format("%Y%m%d%H%M%S", utc);
}

SString MessageIdDate() { return MessageIdDate(std::time(nullptr)); }

SString LogFileDate(time_t when) { return LocalStampWithZone(when, "%Y%m%d%H%M%S"); }

SString LogFileDate() { return LogFileDate(std::time(nullptr)); }
