// The program's pictures (skin, class icons, diagrams) are compiled in as Qt
// resources under ":/rcdata/<NAME>", NAME being the resource name exactly
// (":/rcdata/BTNCLOSE_NA", ":/rcdata/DIAGIMG42",
// ":/rcdata/4D36E968E32511CEBFC108002BE10318"). RESOURCES.md lists them all.
#pragma once

// Registers the compiled-in pictures. Call once at start (and in tests)
// before the first lookup; a static link would otherwise drop them.
void KorvaneInitResources();
