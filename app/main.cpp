// korvane: the program. The pages and their dialogs plug in through the hooks.
#include "ui/download/uDownloads.h"
#include "ui/pages/uPages.h"
#include "ui/main/uKorvaneApp.h"

int main(int argc, char** argv) {
  TShellHooks hooks;
  InstallKorvanePages(hooks);
  InstallKorvaneDownloads(hooks);
  return KorvaneMain(argc, argv, hooks);
}
