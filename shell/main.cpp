// korvane: the program. The pages and their dialogs plug in through the hooks.
#include "download/uDownloads.h"
#include "pages/uPages.h"
#include "shell/uKorvaneApp.h"

int main(int argc, char** argv) {
  TShellHooks hooks;
  InstallKorvanePages(hooks);
  InstallKorvaneDownloads(hooks);
  return KorvaneMain(argc, argv, hooks);
}
