// korvane: the program. The pages and the download dialog plug in through the hooks.
#include "shell/uKorvaneApp.h"

int main(int argc, char** argv) {
  TShellHooks hooks;
  return KorvaneMain(argc, argv, hooks);
}
