// Where the running program lives. Plug-ins and the help page are found next
// to the program file, never through configuration.
#pragma once

#include <string>

namespace kestrix {

// The real path of the running executable ("/usr/lib/kestrix/kestrix"), with
// symbolic links resolved; empty when the system cannot tell.
std::string programFile();

// The folder of the running executable, ending with '/'; empty when unknown.
std::string programFolder();

}  // namespace kestrix
