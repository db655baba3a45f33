// Test helper for the system layer: prints LogFileDate of a fixed moment after changing
// TZ without calling tzset, so the output shows which zone the library read at load.
#include <cstdio>
#include <cstdlib>

#include "Sdatetime.h"

int main() {
    ::setenv("TZ", "UTC0", 1);
    SString date = LogFileDate(862846200);  // 1997-05-05 15:30:00 UTC
    std::fwrite(date.Chars(), 1, date.Length(), stdout);
    return date.Defined() ? 0 : 1;
}
