// What the companion installer must pass before it runs, and what it runs with:
// a valid vendor signature inside the file (net/uInstallerSignature) against the
// public key compiled into the program, and the user's standard environment only.
#pragma once

#include "net/uInstallerSignature.h"

#include <cstdint>
#include <string>
#include <string_view>

// The vendor's Ed25519 public key in PEM, compiled in (see cmake/Signing.cmake).
extern const char* const VendorInstallerPublicKeyPem;

// An installer larger than this is not read for its check: it does not run.
constexpr int64_t MaxInstallerBytes = 512ll * 1024 * 1024;

// Told on the start page when a downloaded installer failed its check.
constexpr const char* InstallerNotSignedText =
    "The Sweepline installer is not signed by Brantholm, so it was not started.";

// Checks the file at path (a link is not followed) against publicKeyPem. A file
// that cannot be read, or is larger than MaxInstallerBytes, counts as Unsigned.
TSignatureCheck CheckInstallerFile(const std::string& path,
                                   const std::string& publicKeyPem = VendorInstallerPublicKeyPem);

// True for the variables a program the user starts from the desktop has: PATH,
// HOME, USER, LOGNAME, SHELL, LANG, LANGUAGE, LC_*, XDG_*, DISPLAY, WAYLAND_DISPLAY,
// DBUS_SESSION_BUS_ADDRESS, XAUTHORITY, TMP, TEMP, TMPDIR and KORVANE_MACHINE (the
// machine the platform layer shows, as a Windows child sees the same registry).
bool IsStandardUserVariable(std::string_view name);

// The installer's environment block ("NAME=value\0...\0\0", CreateProcessA's
// lpEnvironment): this process's standard variables and nothing else, so that no
// token, agent socket or library path of Korvane's reaches it.
std::string InstallerEnvironment();
