// Smime: the multipart boundary generator.
//
// The boundary must not occur inside any part; the long "=" run with "_ _=" cannot
// appear in Base64 text and is unlikely in plain text, and the random number plus
// the process id keep boundaries of nested or concurrent messages apart.
#include "Smime.h"

#include <unistd.h>

#include "Smisc.h"

SString CreateMIMEBoundary() {
    SString boundary(SString('=', 27) + "_ _= ");
    boundary += SString(RandomInt(10000000));
    boundary += '(';
    boundary += SString(static_cast<int>(getpid()));
    boundary += ')';
    return boundary;
}
