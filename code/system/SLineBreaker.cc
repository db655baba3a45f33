// SLineBreaker: hands out the lines of a text one by one through a single window.
//
// Used to walk control files, cut tables and message headers without copying: each
// line is an SString sharing the window, so it is only valid until the next ReadLine.
// A line ends at CR LF or a lone LF; a final line without an end is still delivered.
#include "SLineBreaker.h"

#include <cstring>

SLineBreaker::SLineBreaker(const SString& source, unsigned stripEnds)
    : whole(source.Chars(), source.Length()),
      text(source),
      window(),
      position(0),
      strip(stripEnds) {}

// Points the window at [start, start + length) and lets `out` share it.  An empty
// range gives a defined empty string of its own (a zero-length window would read as
// undefined).
void SLineBreaker::_Show(int start, int length, SString& out) {
    if (length == 0) {
        out = SString("");
        return;
    }
    window.SetBuffer(whole.buffer + start, length);
    out = SString(window);
}

bool SLineBreaker::ReadLine(SString& line) {
    int end = whole.length;
    if (position >= end) {
        line = SString();
        return false;
    }
    const char* start = whole.buffer + position;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', end - position));
    if (!lf) {
        _Show(position, end - position, line);
        position = end;
        return true;
    }
    int next = static_cast<int>(lf - whole.buffer) + 1;
    int content = next - 1;
    if (content > position && whole.buffer[content - 1] == '\r') --content;
    _Show(position, (strip ? content : next) - position, line);
    position = next;
    return true;
}

SString SLineBreaker::GetRemainder() {
    SString rest;
    if (!text.Defined()) return rest;
    _Show(position, whole.length - position, rest);
    return rest;
}
