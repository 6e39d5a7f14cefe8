// Large generated machines for the benchmarks and the long tests: many devices
// in devices.json, each with its driver key and three values in system.reg.
//
//   korvane::testing::MachineGenerator g;
//   g.Classes = {{"{4D36E968-E325-11CE-BFC1-08002BE10318}", "Display adapters"}};
//   g.DevicesIn = [](int) { return 1000; };
//   g.Properties = [](const GeneratedDevice& d) { return "\"FRIENDLYNAME\": \"Device " + ... + "\", "; };
//   g.WriteTo(machine.Root());
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace korvane::testing {

struct GeneratedDevice {
  int classIndex = 0;  // its class in MachineGenerator::Classes
  int index = 0;       // its place in its class: the number of its driver key
  int serial = 0;      // its place among all devices
};

struct GeneratedClass {
  std::string guid, description;
};

class MachineGenerator {
 public:
  std::vector<GeneratedClass> Classes;
  // How many devices class c has.
  std::function<int(int c)> DevicesIn;
  // The device's properties before DRIVER, each followed by ", " (JSON members).
  std::function<std::string(const GeneratedDevice&)> Properties;
  // The driver key's DriverVersion (its DriverDate is 7-1-2001, its provider "Generated").
  std::function<std::string(const GeneratedDevice&)> DriverVersion;
  // Called once per device, in order (for a catalogue of the same devices).
  std::function<void(const GeneratedDevice&)> OnDevice;

  // Writes devices.json and system.reg into the machine folder dir.
  void WriteTo(const std::string& dir) const;
};

// "0042" and "002A": the four-digit numbers of driver keys and device IDs.
std::string Dec4(int n);
std::string Hex4(int n);

}  // namespace korvane::testing
