// korvane-reg: reg.exe's query/add/delete on the current machine's registry.
#include "tools/korvane-reg/RegTool.h"

#include "sysinfo/VersionInfo.h"

#include <windows.h>
#include <korvane_file.h>

#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = 0;
  if (args.size() == 1 && args[0] == "--version") {
    std::string version;
    try {
      version = FileVersionText(KorvaneModuleFileName());
    } catch (const std::exception&) {
      version.clear();
    }
    std::cout << "korvane-reg " << (version.empty() ? std::string("(unknown)") : version) << "\n";
  } else {
    // Without a terminal nobody can answer a question: it counts as answered no.
    std::istringstream nobody;
    DWORD mode = 0;
    std::istream& in = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) ? std::cin : nobody;
    status = KorvaneRegMain(args, in, std::cout, std::cerr);
  }
  // What was printed is the result: output that could not be written is a failure.
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "korvane-reg: cannot write the output\n";
    return 1;
  }
  return status;
}
