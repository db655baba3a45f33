// Smisc: the generic text encoders and helpers: Base64 (RFC 2045, CR LF lines),
// lowercase hexadecimal, the MD5 digest as hex text, word filling, and the process's
// small pseudo-random numbers.
//
// MIME bodies, password digests, authentication keys and boundaries are built on
// these.  Nothing fails: malformed Base64 decodes to whatever its groups give.  The
// random generator is seeded once per process, before main, with time plus pid.
#ifndef QUILLBOX_SMISC_H
#define QUILLBOX_SMISC_H

#include "SString.h"
#include "SStringList.h"

// Base64 in lines of 76 characters, every line (the last one too) ending in CR LF.
// An empty input gives "\r\n"; an undefined one an undefined string.
SString EncodeBase64(const SString& text);
// Drops every byte outside the alphabet and "=", then decodes whole groups of four;
// a group ending in "=" is the last one decoded.  Undefined input gives undefined.
SString DecodeBase64(const SString& text);
// Two lowercase hex digits per byte, high nibble first.  Undefined gives undefined.
SString Hex(const SString& bytes);
// The MD5 digest of the bytes as 32 lowercase hex digits (undefined counts as empty).
SString MD5(const SString& bytes);

// An integer in 0..n-1: floor(r * n / 32768.0) for a 15-bit pseudo-random r.
int RandomInt(int n);

// Fills the words into lines of less than `width` characters, each starting with
// `indent` blanks and ending with `lineEnd`; two blanks follow a word ending a
// sentence (".", ":", "!", "?").  A word longer than the width stands alone.
SString FormatList(SStringList words, int width, int indent, const SString& lineEnd);
// FormatList of the text's words (split at runs of white space).
SString Format(const SString& text, int width, int indent, const SString& lineEnd);

#endif
