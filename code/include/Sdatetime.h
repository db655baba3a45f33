// Sdatetime: the three time stamps of the system and the local zone offset.
//
// RFC822Date dates new messages ("Date:"), MessageIdDate goes into message
// identifiers, LogFileDate opens every log line.  The no-argument forms read the
// clock; the forms taking a time stamp a given moment.  The library calls tzset once
// at load, so local times follow the TZ the process started with; a process that
// changes TZ later calls tzset itself.  Failures give an undefined string.
#ifndef QUILLBOX_SDATETIME_H
#define QUILLBOX_SDATETIME_H

#include <ctime>

#include "SString.h"

// "Mon, 5 May 1997 17:30:00 +0200": local time, no leading zero in the day.
SString RFC822Date();
SString RFC822Date(time_t when);
// "19970512153000": UTC, 14 digits.
SString MessageIdDate();
SString MessageIdDate(time_t when);
// "19970512173000+0200": local time, 14 digits, then the zone offset.
SString LogFileDate();
SString LogFileDate(time_t when);
// The local zone's offset from UTC as sign, hours and minutes ("+0200", "-0500").
SString ZoneOffset();
SString ZoneOffset(time_t when);

#endif
