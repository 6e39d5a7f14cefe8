// In-memory registry hive and its text form (regedit's "Windows Registry Editor Version
// 5.00" layout). Our hive files are UTF-8, not UTF-16 as regedit writes them, so they
// read well in an editor and in diffs; string data lives in memory as UTF-16LE bytes,
// as Windows keeps it.
#pragma once

#include <minwindef.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvp {

struct RegValue {
  std::string name;  // UTF-8; empty is the default value "@"
  DWORD type = 0;
  std::vector<uint8_t> data;
};

struct RegKey {
  std::string name;  // UTF-8, case preserved
  std::vector<RegValue> values;   // in creation order
  std::vector<RegKey> subkeys;    // sorted case-insensitively, as Windows enumerates them

  RegKey* Find(std::string_view child);
  const RegKey* Find(std::string_view child) const;
  RegKey& FindOrAdd(std::string_view child);
  bool Remove(std::string_view child);
  RegValue* FindValue(std::string_view value);
  const RegValue* FindValue(std::string_view value) const;
  void SetValue(std::string_view value, DWORD type, std::vector<uint8_t> data);
  bool RemoveValue(std::string_view value);
  // Walks a path of components; nullptr when a component is missing.
  const RegKey* Walk(const std::vector<std::string>& path) const;
  RegKey* Walk(const std::vector<std::string>& path);
  RegKey& WalkOrAdd(const std::vector<std::string>& path);
  // Lays other over this key: keys are added, other's values win.
  void Merge(const RegKey& other);
};

// Case-insensitive equality of key and value names.
bool NameEquals(std::string_view a, std::string_view b);
int NameCompare(std::string_view a, std::string_view b);

// Splits "A\B\\C" into components, dropping empty ones.
std::vector<std::string> SplitKeyPath(std::string_view path);

// Parses hive text whose sections all lie under rootName ("HKEY_LOCAL_MACHINE"). On a
// fault returns false with "<fileName>:<line>: <reason>" in *error.
bool ParseHive(std::string_view text, std::string_view rootName, const std::string& fileName, RegKey& root,
               std::string* error);
std::string SerializeHive(const RegKey& root, std::string_view rootName);

// Text data helpers: UTF-16LE bytes with the terminating NUL.
std::vector<uint8_t> Utf16Bytes(std::u16string_view text, bool terminate);
std::u16string BytesToUtf16(const std::vector<uint8_t>& data);

}  // namespace kvp
