// What the start page shows about the computer, in the page's own wording, so
// that the page and korvane-check build the same texts.
#pragma once

#include "sysinfo/uWinVersion.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

// Whole megabytes of a byte count, halves rounded to even (1.5 MiB gives 2).
uint32_t BytesToMegabytes(uint32_t bytes);
std::string MegabytesText(uint32_t bytes);      // "512 Mb"
std::string MemoryLoadText(uint32_t memoryLoad); // low 8 bits + "%": 0x12A gives "42%"

// ShortName of the current machine's Windows description (the report's token).
std::string CurrentOsShortName();

// The "OS Name:" value: FullName, "\n\r", ServicePack, " ", Architecture.
std::string OsNameText(const TWindowsTypeEx& info);

// The start page's value labels (code-page text).
struct TSystemInfoValues {
  std::string OsName;
  std::string Processor;
  std::string ComputerName;
  std::string RamTotal;
  std::string RamFree;
  std::string MemoryUsed;
  std::string VirtualTotal;
  std::string VirtualFree;
  // Why the library refused the machine's figures ("file: reason"); empty when it
  // did not. The figures are then unknown and stay empty.
  std::string Refused;
};

// Fills the values in the page's order (processor, OS name, the six library
// figures). The first failure stops the fill: the values after it stay empty
// and false is returned; nothing is raised. A refusal of the library is kept in
// values.Refused.
bool FillSystemInfoValues(TSystemInfoValues& values, const TWindowsTypeEx& info,
                          const std::function<std::string()>& processorSummary);

// UTF-8 text for a tab-separated line: \ TAB LF CR written as \\ \t \n \r.
std::string TsvEscape(const std::string& utf8);

// The facts korvane-check reports, in order: key and code-page text.
std::vector<std::pair<std::string, std::string>> SystemFacts(const TWindowsTypeEx& info,
                                                             const TSystemInfoValues& values,
                                                             const std::string& programVersion);
// The same for the current machine (GetWindowsTypeEx, the library). refused, when
// given, receives the library's refusal (empty when the figures were read).
std::vector<std::pair<std::string, std::string>> CurrentSystemFacts(
    const std::function<std::string()>& processorSummary, const std::string& programVersion,
    std::string* refused = nullptr);

// The korvane-check --sysinfo lines: key<TAB>value, code-page text as escaped UTF-8.
void WriteSystemFacts(std::ostream& out, const TWindowsTypeEx& info, const TSystemInfoValues& values,
                      const std::string& programVersion);
// Reads the current machine's facts (GetWindowsTypeEx, the library) and writes them.
void PrintSystemFacts(std::ostream& out, const std::function<std::string()>& processorSummary,
                      const std::string& programVersion);
