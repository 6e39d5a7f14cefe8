// korvane: the program.
#include "ui/main/uKorvaneApp.h"

int main(int argc, char** argv) { return KorvaneMain(argc, argv); }
