// korvane-reg: query, add and delete registry values of the current machine in the
// manner of Windows' reg.exe. Arguments and output are UTF-8.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// args excludes the program name. Returns the exit status: 0 success, 1 failure (a
// question answered no, or not answered at the end of `in`, included, as reg.exe).
int KorvaneRegMain(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
