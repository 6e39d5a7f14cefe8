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

void WriteSystemFacts(std::ostream& out, const TWindowsTypeEx& info, const TSystemInfoValues& values,
                      const std::string& programVersion) {
  auto line = [&out](const char* key, const std::string& value) { out << key << '\t' << TsvEscape(AnsiToUtf8(value)) << '\n'; };
  line("FullName", info.FullName);
  line("Name", info.Name);
  line("Edition", info.Kind.Edition);
  line("IsServer", info.Kind.IsServer ? "1" : "0");
  line("Platform", info.Platform);
  line("OsId", std::to_string(info.OsId));
  line("Version", info.Version.Text);
  line("Build", std::to_string(info.Build));
  line("ProductType", std::to_string(info.ProductType));
  line("ShortName", info.ShortName);
  line("Architecture", info.Architecture);
  line("ServicePack", info.ServicePack);
  line("ServicePackVersion", info.ServicePackVersion.Text);
  line("OsName", values.OsName);
  line("Processor", values.Processor);
  line("ComputerName", values.ComputerName);
  line("RamTotal", values.RamTotal);
  line("RamFree", values.RamFree);
  line("MemoryUsed", values.MemoryUsed);
  line("VirtualTotal", values.VirtualTotal);
  line("VirtualFree", values.VirtualFree);
  line("ProgramVersion", programVersion);
}

void PrintSystemFacts(std::ostream& out, const std::function<std::string()>& processorSummary,
                      const std::string& programVersion) {
  TWindowsTypeEx info;
  GetWindowsTypeEx(info);
  TSystemInfoValues values;
  FillSystemInfoValues(values, info, processorSummary);
  WriteSystemFacts(out, info, values, programVersion);
}
