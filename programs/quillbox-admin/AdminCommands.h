// The command line of quillbox-admin: parses the arguments, finds the installation
// root ("--root" or the environment variable "Quillbox"), runs the operation from
// AdminLib and prints its report (text, or JSON with "--json").
//
// Exit statuses: 0 done, 1 refused (missing account, duplicate address, damaged
// database...), 2 the command line could not be understood.  Errors go to `err` as one
// line starting "quillbox-admin: "; passwords are read only from `in`.
#ifndef QUILLBOX_ADMIN_ADMINCOMMANDS_H
#define QUILLBOX_ADMIN_ADMINCOMMANDS_H

#include <iosfwd>

int AdminMain(int argc, const char* const* argv, std::istream& in, std::ostream& out,
              std::ostream& err);

#endif
