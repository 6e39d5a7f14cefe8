// Plugs the wizard pages and the driver detail dialogs into the program's start.
#pragma once

struct TShellHooks;
class TMainForm;

// Sets the page factories of slots 1..4 and the two detail dialogs; the main
// window's UpdateDiagram then refreshes the start and results pages' diagrams.
void InstallKorvanePages(TShellHooks& hooks);

// The main window's UpdateDiagram for its installed pages.
void UpdateMainDiagrams(TMainForm& main);
