// SLineBreaker: successive lines of a text as SString windows, without copying.
//
// A line ends with CR LF or with a lone LF (a CR not followed by LF is an ordinary
// byte); the last line may have no end.  With `strip` non-zero lines come without
// their end.  Every string handed out shares the breaker's one window: the next
// ReadLine changes what it shows, so callers use or copy a line before reading the
// next, and release the last one before the breaker is destroyed.  The breaker keeps
// its own reference to the text, so the bytes stay alive while it exists.
#ifndef QUILLBOX_SLINEBREAKER_H
#define QUILLBOX_SLINEBREAKER_H

#include <cstdint>

#include "SString.h"

class SLineBreaker {
public:
    SLineBreaker(const SString& text, unsigned strip);
    SLineBreaker(const SLineBreaker&) = delete;
    SLineBreaker& operator=(const SLineBreaker&) = delete;

    // Delivers the next line and returns true; at the end sets `line` undefined
    // and returns false.  An empty line is delivered as a defined empty string.
    bool ReadLine(SString& line);
    // The bytes not yet read (defined and empty when everything has been read,
    // undefined when the text was).
    SString GetRemainder();

private:
    void _Show(int start, int length, SString& out);

    SFixedString whole;
    SString text;
    SFixedString window;
    int32_t position;
    unsigned strip;
};

#endif
