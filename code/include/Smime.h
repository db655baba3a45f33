// Smime: helpers for building MIME bodies that are not themselves encoders.
//
// CreateMIMEBoundary makes the multipart boundary of every body this system
// composes: a fixed run of "=" signs, a random number and the process id, so two
// boundaries made by one process differ only in their random number.
#ifndef QUILLBOX_SMIME_H
#define QUILLBOX_SMIME_H

#include "SString.h"

// "===========================_ _= " + RandomInt(10000000) + "(" + pid + ")".
SString CreateMIMEBoundary();

#endif
