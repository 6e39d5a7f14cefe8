// korvane-reg: reg.exe's query/add/delete on the current machine's registry.
#include "tools/korvane-reg/RegTool.h"

#include <iostream>

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return KorvaneRegMain(args, std::cin, std::cout, std::cerr);
}
