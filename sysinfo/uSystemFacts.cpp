#include "sysinfo/uSystemFacts.h"

#include "sysinfo/SysInfoDll.h"

#include <korvane_text.h>

#include <cstdio>

uint32_t BytesToMegabytes(uint32_t bytes) {
  // Exact integer form of round(bytes / 1024 / 1024) with halves to even.
  const uint32_t whole = bytes >> 20, rest = bytes & 0xFFFFF;
  if (rest > 0x80000) return whole + 1;
  if (rest == 0x80000) return whole + (whole & 1);
  return whole;
}

std::string MegabytesText(uint32_t bytes) { return std::to_string(BytesToMegabytes(bytes)) + " Mb"; }

std::string MemoryLoadText(uint32_t memoryLoad) { return std::to_string(memoryLoad & 0xFF) + "%"; }

std::string CurrentOsShortName() {
  TWindowsTypeEx info;
  GetWindowsTypeEx(info);
  return info.ShortName;
}

std::string OsNameText(const TWindowsTypeEx& info) {
  return info.FullName + "\n\r" + info.ServicePack + " " + info.Architecture;
}

bool FillSystemInfoValues(TSystemInfoValues& values, const TWindowsTypeEx& info,
                          const std::function<std::string()>& processorSummary) {
  try {
    values.Processor = processorSummary ? processorSummary() : std::string();
    values.OsName = OsNameText(info);
    const char* name = GetCompName();
    values.ComputerName = name ? name : "";
    values.RamTotal = MegabytesText(GetRAM());
    values.RamFree = MegabytesText(GetFreeRAM());
    values.MemoryUsed = MemoryLoadText(GetMemUse());
    values.VirtualTotal = MegabytesText(GetVirtual());
    values.VirtualFree = MegabytesText(GetFreeVirtual());
  } catch (const ESysInfoRefused& e) {
    values.Refused = e.what();
    return false;
  } catch (...) {
    return false;
  }
  return true;
}

std::string TsvEscape(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> SystemFacts(const TWindowsTypeEx& info,
                                                             const TSystemInfoValues& values,
                                                             const std::string& programVersion) {
  return {
      {"FullName", info.FullName},
      {"Name", info.Name},
      {"Edition", info.Kind.Edition},
      {"IsServer", info.Kind.IsServer ? "1" : "0"},
      {"Platform", info.Platform},
      {"OsId", std::to_string(info.OsId)},
      {"Version", info.Version.Text},
      {"Build", std::to_string(info.Build)},
      {"ProductType", std::to_string(info.ProductType)},
      {"ShortName", info.ShortName},
      {"Architecture", info.Architecture},
      {"ServicePack", info.ServicePack},
      {"ServicePackVersion", info.ServicePackVersion.Text},
      {"OsName", values.OsName},
      {"Processor", values.Processor},
      {"ComputerName", values.ComputerName},
      {"RamTotal", values.RamTotal},
      {"RamFree", values.RamFree},
      {"MemoryUsed", values.MemoryUsed},
      {"VirtualTotal", values.VirtualTotal},
      {"VirtualFree", values.VirtualFree},
      {"ProgramVersion", programVersion},
  };
}

void WriteSystemFacts(std::ostream& out, const TWindowsTypeEx& info, const TSystemInfoValues& values,
                      const std::string& programVersion) {
  for (const auto& [key, value] : SystemFacts(info, values, programVersion))
    out << key << '\t' << TsvEscape(AnsiToUtf8(value)) << '\n';
}

std::vector<std::pair<std::string, std::string>> CurrentSystemFacts(
    const std::function<std::string()>& processorSummary, const std::string& programVersion,
    std::string* refused) {
  TWindowsTypeEx info;
  GetWindowsTypeEx(info);
  TSystemInfoValues values;
  FillSystemInfoValues(values, info, processorSummary);
  if (refused) *refused = values.Refused;
  return SystemFacts(info, values, programVersion);
}

void PrintSystemFacts(std::ostream& out, const std::function<std::string()>& processorSummary,
                      const std::string& programVersion) {
  TWindowsTypeEx info;
  GetWindowsTypeEx(info);
  TSystemInfoValues values;
  FillSystemInfoValues(values, info, processorSummary);
  WriteSystemFacts(out, info, values, programVersion);
}
