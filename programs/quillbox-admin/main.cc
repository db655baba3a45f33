// quillbox-admin: creates a Quillbox installation and looks after its accounts,
// aliases and local mail domains.  `quillbox-admin --help` lists the commands.
#include <iostream>

#include "AdminCommands.h"

int main(int argc, char** argv) { return AdminMain(argc, argv, std::cin, std::cout, std::cerr); }
