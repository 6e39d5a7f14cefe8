#include "support/GeneratedMachine.h"

#include "support/ScratchFolder.h"

#include <cstdio>
#include <string>

namespace korvane::testing {

std::string Dec4(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", n);
  return buf;
}

std::string Hex4(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04X", n & 0xFFFF);
  return buf;
}

void MachineGenerator::WriteTo(const std::string& dir) const {
  std::string json = "{\n \"classes\": [\n";
  std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n";
  GeneratedDevice d;
  for (d.classIndex = 0; d.classIndex < static_cast<int>(Classes.size()); ++d.classIndex) {
    const GeneratedClass& c = Classes[static_cast<size_t>(d.classIndex)];
    json += std::string(d.classIndex ? ",\n" : "") + "  {\"guid\": \"" + c.guid + "\", \"description\": \"" +
            c.description + "\", \"devices\": [\n";
    const int count = DevicesIn ? DevicesIn(d.classIndex) : 0;
    for (d.index = 0; d.index < count; ++d.index, ++d.serial) {
      const std::string key = Dec4(d.index);
      json += std::string(d.index ? ",\n" : "") + "   {\"properties\": {" +
              (Properties ? Properties(d) : "") + "\"DRIVER\": \"" + c.guid + "\\\\" + key + "\"}}";
      reg += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" + c.guid + "\\" + key +
             "]\r\n\"DriverDate\"=\"7-1-2001\"\r\n\"ProviderName\"=\"Generated\"\r\n\"DriverVersion\"=\"" +
             (DriverVersion ? DriverVersion(d) : "5.1") + "\"\r\n\r\n";
      if (OnDevice) OnDevice(d);
    }
    json += "\n  ]}";
  }
  json += "\n ]\n}\n";
  WriteTextFile(dir + "/devices.json", json);
  WriteTextFile(dir + "/system.reg", reg);
}

}  // namespace korvane::testing
