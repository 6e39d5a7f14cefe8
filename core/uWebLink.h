// Links that come from the network (a server message, an answer) are opened
// only as web pages: never as a local program, a file or a script.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The longest link that is opened, in bytes.
constexpr std::size_t MaxWebLinkBytes = 2048;

// True for an absolute "http://" or "https://" URL (scheme in any case) with a
// host, at most MaxWebLinkBytes long, made of printable ASCII only (no control
// characters, no blanks, no 8-bit characters). Anything else is no link.
bool IsWebLink(std::string_view text);

// Opens text with the shell's default action when IsWebLink says so; otherwise
// (or when the shell refuses) nothing happens and the result is false.
bool OpenWebLink(const std::string& text);
