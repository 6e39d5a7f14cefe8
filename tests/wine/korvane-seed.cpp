// korvane-seed FOLDER: loads a machine folder into the running Windows (a fresh Wine
// prefix in the tests) through the real Setup API and registry, so that the
// Windows build scans what the Linux build scans from the folder itself:
//   - every device already there is removed;
//   - system.reg's keys and values are written to HKEY_LOCAL_MACHINE (the class keys
//     with their descriptions, the driver keys);
//   - each device of devices.json is created in its class with its properties (its
//     Driver property naming its key of system.reg);
//   - os.json's version is given to winecfg -v where Wine has a matching one.
// Exit status 0, or 1 with the reason on stderr.
#include <windows.h>

#include <setupapi.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

// ---- system.reg: regedit's export text (UTF-16LE with a byte-order mark, or UTF-8)

struct TRegValue {
  std::wstring name;
  DWORD type = REG_SZ;
  std::vector<BYTE> data;
};
struct TRegKey {
  std::wstring path;  // below HKEY_LOCAL_MACHINE
  std::vector<TRegValue> values;
};

std::wstring HiveText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::wstring w((bytes.size() - 2) / 2, L'\0');
    for (size_t i = 0; i < w.size(); ++i)
      w[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                  (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
    return w;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return Utf8ToWide(bytes.substr(3));
  return Utf8ToWide(bytes);
}

int Hex(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// A quoted text at pos (on the opening quote); pos ends after the closing one.
std::wstring Quoted(const std::wstring& line, size_t& pos) {
  std::wstring out;
  for (++pos; pos < line.size(); ++pos) {
    if (line[pos] == L'\\' && pos + 1 < line.size()) {
      out += line[++pos];
    } else if (line[pos] == L'"') {
      ++pos;
      return out;
    } else {
      out += line[pos];
    }
  }
  Fail("unterminated text in system.reg");
}

std::vector<BYTE> HexBytes(const std::wstring& text) {
  std::vector<BYTE> out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == L',' || text[i] == L' ' || text[i] == L'\t') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || Hex(text[i]) < 0 || Hex(text[i + 1]) < 0) Fail("bad hex data in system.reg");
    out.push_back(static_cast<BYTE>(Hex(text[i]) * 16 + Hex(text[i + 1])));
    i += 2;
  }
  return out;
}

std::vector<TRegKey> ParseHive(const std::string& bytes) {
  const std::wstring text = HiveText(bytes);
  std::vector<std::wstring> lines;
  std::wstring current;
  for (wchar_t c : text) {
    if (c == L'\n') {
      if (!current.empty() && current.back() == L'\r') current.pop_back();
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current);
  const std::wstring root = L"HKEY_LOCAL_MACHINE\\";
  std::vector<TRegKey> keys;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::wstring line = lines[i];
    // Continuation lines of hex data end in a backslash.
    while (!line.empty() && line.back() == L'\\' && i + 1 < lines.size()) {
      line.pop_back();
      line += lines[++i];
    }
    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      const size_t end = line.rfind(L']');
      std::wstring path = line.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
      if (path.compare(0, root.size(), root) == 0)
        path = path.substr(root.size());
      else if (path == L"HKEY_LOCAL_MACHINE")
        path.clear();
      else
        Fail("system.reg: a key outside HKEY_LOCAL_MACHINE");
      keys.push_back({path, {}});
      continue;
    }
    if (line[0] != L'"' && line[0] != L'@') continue;  // the header line
    if (keys.empty()) Fail("system.reg: a value before the first key");
    TRegValue v;
    size_t pos = 0;
    if (line[0] == L'@')
      pos = 1;
    else
      v.name = Quoted(line, pos);
    if (pos >= line.size() || line[pos] != L'=') Fail("system.reg: no '=' after a value name");
    ++pos;
    const std::wstring data = line.substr(pos);
    if (!data.empty() && data[0] == L'"') {
      size_t p = 0;
      const std::wstring s = Quoted(data, p);
      const std::wstring withNul = s + L'\0';
      v.type = REG_SZ;
      v.data.assign(reinterpret_cast<const BYTE*>(withNul.data()),
                    reinterpret_cast<const BYTE*>(withNul.data() + withNul.size()));
    } else if (data.compare(0, 6, L"dword:") == 0) {
      const DWORD d = static_cast<DWORD>(std::wcstoul(data.c_str() + 6, nullptr, 16));
      v.type = REG_DWORD;
      v.data.assign(reinterpret_cast<const BYTE*>(&d), reinterpret_cast<const BYTE*>(&d) + 4);
    } else if (data.compare(0, 4, L"hex:") == 0) {
      v.type = REG_BINARY;
      v.data = HexBytes(data.substr(4));
    } else if (data.compare(0, 4, L"hex(") == 0) {
      const size_t close = data.find(L"):");
      if (close == std::wstring::npos) Fail("system.reg: bad hex(type)");
      v.type = static_cast<DWORD>(std::wcstoul(data.c_str() + 4, nullptr, 16));
      v.data = HexBytes(data.substr(close + 2));
    } else {
      Fail("system.reg: a value of unknown form");
    }
    keys.back().values.push_back(std::move(v));
  }
  return keys;
}

void WriteHive(const std::vector<TRegKey>& keys) {
  for (const TRegKey& k : keys) {
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, k.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 &key, nullptr);
    if (rc != ERROR_SUCCESS)
      Fail("cannot create HKLM\\" + WideToUtf8(k.path) + " (" + std::to_string(rc) + ")");
    for (const TRegValue& v : k.values) {
      rc = RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
      if (rc != ERROR_SUCCESS) Fail("cannot set " + WideToUtf8(v.name) + " (" + std::to_string(rc) + ")");
    }
    RegCloseKey(key);
  }
}

// ---- devices

void RemoveAllDevices() {
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) Fail("cannot list the devices (" + std::to_string(GetLastError()) + ")");
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  int removed = 0, kept = 0;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &d); ++i) {
    if (SetupDiRemoveDevice(set, &d))
      ++removed;
    else
      ++kept;
  }
  SetupDiDestroyDeviceInfoList(set);
  std::cerr << "korvane-seed: removed " << removed << " device(s)";
  if (kept) std::cerr << ", " << kept << " could not be removed";
  std::cerr << "\n";
}

const std::map<std::string, DWORD>& PropertyNumbers() {
  static const std::map<std::string, DWORD> names = {
      {"DEVICEDESC", SPDRP_DEVICEDESC},
      {"HARDWAREID", SPDRP_HARDWAREID},
      {"COMPATIBLEIDS", SPDRP_COMPATIBLEIDS},
      {"SERVICE", SPDRP_SERVICE},
      {"CLASS", SPDRP_CLASS},
      {"CLASSGUID", SPDRP_CLASSGUID},
      {"DRIVER", SPDRP_DRIVER},
      {"CONFIGFLAGS", SPDRP_CONFIGFLAGS},
      {"MFG", SPDRP_MFG},
      {"FRIENDLYNAME", SPDRP_FRIENDLYNAME},
      {"LOCATION_INFORMATION", SPDRP_LOCATION_INFORMATION},
      {"CAPABILITIES", SPDRP_CAPABILITIES},
      {"UI_NUMBER", SPDRP_UI_NUMBER},
      {"UPPERFILTERS", SPDRP_UPPERFILTERS},
      {"LOWERFILTERS", SPDRP_LOWERFILTERS},
      {"ADDRESS", SPDRP_ADDRESS},
      {"BUSNUMBER", SPDRP_BUSNUMBER},
  };
  return names;
}

// A devices.json property value as registry data (wide text, as the W call takes).
std::vector<BYTE> PropertyData(const nlohmann::json& v, DWORD& type) {
  std::wstring text;
  if (v.is_string()) {
    type = REG_SZ;
    text = Utf8ToWide(v.get<std::string>()) + L'\0';
  } else if (v.is_array()) {
    type = REG_MULTI_SZ;
    for (const auto& item : v) text += Utf8ToWide(item.get<std::string>()) + L'\0';
    text += L'\0';
  } else if (v.is_number()) {
    type = REG_DWORD;
    const DWORD d = v.get<DWORD>();
    return std::vector<BYTE>(reinterpret_cast<const BYTE*>(&d), reinterpret_cast<const BYTE*>(&d) + 4);
  } else if (v.is_object() && v.contains("binary")) {
    type = REG_BINARY;
    return HexBytes(Utf8ToWide(v["binary"].get<std::string>()));
  } else {
    Fail("devices.json: a property of unknown form");
  }
  return std::vector<BYTE>(reinterpret_cast<const BYTE*>(text.data()),
                           reinterpret_cast<const BYTE*>(text.data() + text.size()));
}

int CreateDevices(const nlohmann::json& doc) {
  int created = 0;
  for (const auto& cls : doc.at("classes")) {
    const std::wstring guidText = Utf8ToWide(cls.at("guid").get<std::string>());
    GUID guid{};
    // CLSIDFromString-free parse: "{8-4-4-4-12}".
    unsigned long d1 = 0;
    unsigned int d2 = 0, d3 = 0, b[8] = {};
    if (swscanf(guidText.c_str(), L"{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1],
                &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) != 11)
      Fail("devices.json: bad class GUID");
    guid.Data1 = d1;
    guid.Data2 = static_cast<unsigned short>(d2);
    guid.Data3 = static_cast<unsigned short>(d3);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<unsigned char>(b[i]);

    // The class key carries the description Windows shows for the class.
    HKEY classKey = nullptr;
    const std::wstring classPath = L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + guidText;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, classPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &classKey, nullptr) == ERROR_SUCCESS) {
      DWORD size = 0;
      if (cls.contains("description") &&
          RegQueryValueExW(classKey, L"", nullptr, nullptr, nullptr, &size) == ERROR_FILE_NOT_FOUND) {
        const std::wstring desc = Utf8ToWide(cls["description"].get<std::string>());
        RegSetValueExW(classKey, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(desc.c_str()),
                       static_cast<DWORD>((desc.size() + 1) * sizeof(wchar_t)));
      }
      RegCloseKey(classKey);
    }

    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE)
      Fail("cannot make a device list (" + std::to_string(GetLastError()) + ")");
    for (const auto& dev : cls.value("devices", nlohmann::json::array())) {
      const auto& props = dev.value("properties", nlohmann::json::object());
      SP_DEVINFO_DATA d{};
      d.cbSize = sizeof d;
      if (!SetupDiCreateDeviceInfoW(set, L"KORVANE", &guid, nullptr, nullptr, DICD_GENERATE_ID, &d))
        Fail("cannot create a device (" + std::to_string(GetLastError()) + ")");
      for (auto it = props.begin(); it != props.end(); ++it) {
        auto number = PropertyNumbers().find(it.key());
        if (number == PropertyNumbers().end()) {
          std::cerr << "korvane-seed: property " << it.key() << " left out (no Setup API name)\n";
          continue;
        }
        DWORD type = REG_NONE;
        const std::vector<BYTE> data = PropertyData(it.value(), type);
        if (!SetupDiSetDeviceRegistryPropertyW(set, &d, number->second, data.data(),
                                               static_cast<DWORD>(data.size())))
          std::cerr << "korvane-seed: property " << it.key() << " not set (" << GetLastError() << ")\n";
      }
      if (!SetupDiRegisterDeviceInfo(set, &d, 0, nullptr, nullptr, nullptr))
        Fail("cannot register a device (" + std::to_string(GetLastError()) + ")");
      ++created;
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  return created;
}

// ---- the version

// winecfg's name for the Windows of os.json, or "" where Wine has none.
std::string WinecfgVersion(const nlohmann::json& os) {
  const int platform = os.value("platformId", 2), major = os.value("major", 0), minor = os.value("minor", 0);
  const bool workstation = os.value("productType", 1) == 1;
  if (platform == 1)
    return major == 4 && minor == 0 ? "win95" : minor == 10 ? "win98" : minor == 90 ? "winme" : "";
  if (major == 4) return "nt40";
  if (major == 5 && minor == 0) return "win2k";
  if (major == 5 && minor == 1) return "winxp";
  if (major == 5 && minor == 2) return workstation ? "winxp64" : "win2003";
  if (major == 6 && minor == 0) return workstation ? "vista" : "win2008";
  if (major == 6 && minor == 1) return workstation ? "win7" : "win2008r2";
  if (major == 6 && minor == 2) return "win8";
  if (major == 6 && minor == 3) return "win81";
  if (major == 10) return "win10";
  return "";
}

bool RunWinecfg(const std::string& version) {
  std::string command = "winecfg.exe -v " + version;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code == 0;
}

void SetVersion(const std::string& folder) {
  const std::string text = ReadFile(folder + "\\os.json");
  if (text.empty()) return;
  const std::string version = WinecfgVersion(nlohmann::json::parse(text));
  if (version.empty()) {
    std::cerr << "korvane-seed: os.json names a Windows winecfg has no version for\n";
  } else if (!RunWinecfg(version)) {
    std::cerr << "korvane-seed: winecfg -v " << version << " refused (this prefix keeps its version)\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: korvane-seed FOLDER\n";
    return 2;
  }
  std::string folder = argv[1];
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  try {
    RemoveAllDevices();
    const std::string hive = ReadFile(folder + "\\system.reg");
    if (!hive.empty()) WriteHive(ParseHive(hive));
    const std::string devices = ReadFile(folder + "\\devices.json");
    const int created = devices.empty() ? 0 : CreateDevices(nlohmann::json::parse(devices));
    SetVersion(folder);
    std::cerr << "korvane-seed: " << created << " device(s) created\n";
  } catch (const std::exception& e) {
    std::cerr << "korvane-seed: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
