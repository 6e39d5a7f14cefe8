// The partner tag: up to 35 characters appended to the end of the program
// file, sent in every report. Read by the window for itself and by
// korvane-check for the korvane executable beside it.
#pragma once

#include <string>

// The tag in the last 35 bytes of a program file: those bytes must all be
// "a"-"z", "0"-"9" or "#"; the tag is what follows the first "#", or all 35
// characters without one. "" when the file has no such trailer or cannot be read.
std::string ReadPartnerTag(const std::string& exePath);
