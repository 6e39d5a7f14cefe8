// The version facts of the current machine, shared by the version-query units.
#pragma once

#include <minwindef.h>

#include <string>

struct KvOsFacts {
  bool versionQueries = false;  // false: both GetVersionExA forms fail
  bool extended = false;        // the 156-byte record exists
  DWORD platformId = 0;
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
  std::string csdVersion;       // code-page text, at most 127 bytes
  WORD spMajor = 0;
  WORD spMinor = 0;
  WORD suiteMask = 0;
  BYTE productType = 0;
  bool hasProductInfo = false;  // GetProductInfo exists
  DWORD productInfo = 0;
  bool hasNativeSystemInfo = false;  // GetNativeSystemInfo exists
  WORD nativeArchitecture = 0;
  int serverR2 = 0;
};

// Read afresh on each call: a machine folder's os.json (a missing or malformed
// file reads as "version queries fail"; the reason goes to stderr), or the
// live host's stand-in facts.
KvOsFacts KvReadOsFacts();
