// korvane-reg's logic: reg.exe's query/add/delete over the platform registry.
#include "tools/korvane-reg/RegTool.h"

#include <windows.h>

#include <korvane_machine.h>
#include <korvane_text.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace {

struct Key {
  HKEY root = nullptr;
  std::string rootName;
  std::string sub;  // code-page text
};

bool ParseKey(const std::string& text, Key& k) {
  std::string t = Utf8ToAnsi(text);
  while (!t.empty() && t.back() == '\\') t.pop_back();
  size_t slash = t.find('\\');
  std::string head = t.substr(0, slash);
  for (auto& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (head == "HKLM" || head == "HKEY_LOCAL_MACHINE") {
    k.root = HKEY_LOCAL_MACHINE;
    k.rootName = "HKEY_LOCAL_MACHINE";
  } else if (head == "HKCU" || head == "HKEY_CURRENT_USER") {
    k.root = HKEY_CURRENT_USER;
    k.rootName = "HKEY_CURRENT_USER";
  } else {
    return false;
  }
  k.sub = slash == std::string::npos ? std::string() : t.substr(slash + 1);
  return true;
}

std::string FullName(const Key& k) { return k.rootName + (k.sub.empty() ? "" : "\\" + AnsiToUtf8(k.sub)); }

const char* TypeName(DWORD t) {
  switch (t) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_UNKNOWN";
  }
}

std::string DataText(DWORD type, const std::vector<BYTE>& d) {
  char buf[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::string s(d.begin(), d.end());
      return AnsiToUtf8(s.substr(0, s.find('\0')));
    }
    case REG_MULTI_SZ: {
      std::string out, cur;
      bool first = true;
      for (size_t i = 0; i < d.size(); ++i) {
        if (d[i]) {
          cur.push_back(static_cast<char>(d[i]));
          continue;
        }
        if (cur.empty()) break;
        if (!first) out += "\\0";
        out += AnsiToUtf8(cur);
        cur.clear();
        first = false;
      }
      return out;
    }
    case REG_DWORD:
      if (d.size() == 4) {
        std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(d[0] | d[1] << 8 | d[2] << 16 | d[3] << 24));
        return buf;
      }
      break;
    default: break;
  }
  std::string out;
  for (BYTE b : d) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
  }
  return out;
}

std::string ErrorText(LONG r) {
  switch (r) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return "ERROR: The system was unable to find the specified registry key or value.";
  }
  // Otherwise the system's own text for the code, as reg.exe prints it.
  const std::string text = KorvaneErrorText(static_cast<DWORD>(r));
  if (!text.empty()) return "ERROR: " + text;
  return "ERROR: The operation failed (error " + std::to_string(r) + ").";
}

int Syntax(std::ostream& err, const char* op) {
  err << "ERROR: Invalid syntax.\nType \"korvane-reg " << op << " /?\" for usage.\n";
  return 1;
}

void Usage(std::ostream& out) {
  out << "korvane-reg Operation [Parameter List]\n\n"
         "  korvane-reg query KeyName [/v ValueName | /ve]\n"
         "  korvane-reg add KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n"
         "  korvane-reg delete KeyName [/v ValueName | /ve] [/f]\n\n"
         "  KeyName: HKLM\\SubKey or HKCU\\SubKey (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).\n"
         "  Type: REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY, REG_NONE.\n"
         "  The machine is chosen by KORVANE_MACHINE (unset or \"host\": this computer).\n";
}

struct Options {
  std::string key;
  bool hasV = false, ve = false, force = false, hasT = false, hasD = false;
  std::string v, t = "REG_SZ", d, sep = "\\0";
};

bool ParseOptions(const std::vector<std::string>& a, Options& o) {
  if (a.size() < 2) return false;
  o.key = a[1];
  for (size_t i = 2; i < a.size(); ++i) {
    std::string s = a[i];
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto next = [&](std::string& dst) {
      if (i + 1 >= a.size()) return false;
      dst = a[++i];
      return true;
    };
    if (s == "/v" || s == "-v") {
      if (!next(o.v)) return false;
      o.hasV = true;
    } else if (s == "/ve" || s == "-ve") {
      o.ve = true;
    } else if (s == "/t" || s == "-t") {
      if (!next(o.t)) return false;
      o.hasT = true;
    } else if (s == "/d" || s == "-d") {
      if (!next(o.d)) return false;
      o.hasD = true;
    } else if (s == "/s" || s == "-s") {
      if (!next(o.sep) || o.sep.empty()) return false;
    } else if (s == "/f" || s == "-f") {
      o.force = true;
    } else {
      return false;
    }
  }
  return !(o.hasV && o.ve);
}

bool Confirm(std::istream& in, std::ostream& out, const std::string& question) {
  out << question << " (Yes/No)? " << std::flush;
  std::string line;
  if (!std::getline(in, line)) return false;
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y');
}

void PrintValue(std::ostream& out, const std::string& nameAnsi, DWORD type, const std::vector<BYTE>& data) {
  out << "    " << (nameAnsi.empty() ? std::string("(Default)") : AnsiToUtf8(nameAnsi)) << "    " << TypeName(type)
      << "    " << DataText(type, data) << "\n";
}

int Query(const Options& o, std::ostream& out, std::ostream& err) {
  Key k;
  if (!ParseKey(o.key, k)) return Syntax(err, "query");
  HKEY h;
  LONG r = RegOpenKeyExA(k.root, k.sub.c_str(), 0, KEY_READ, &h);
  if (r != ERROR_SUCCESS) {
    err << ErrorText(r) << "\n";
    return 1;
  }
  int status = 0;
  out << "\n" << FullName(k) << "\n";
  if (o.hasV || o.ve) {
    std::string name = o.ve ? std::string() : Utf8ToAnsi(o.v);
    DWORD type = 0, size = 0;
    r = RegQueryValueExA(h, name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (r == ERROR_SUCCESS) r = RegQueryValueExA(h, name.c_str(), nullptr, &type, data.data(), &size);
    if (r == ERROR_SUCCESS) {
      data.resize(size);
      PrintValue(out, name, type, data);
      out << "\n";
    } else {
      err << ErrorText(r) << "\n";
      status = 1;
    }
  } else {
    for (DWORD i = 0;; ++i) {
      char name[16384];
      DWORD cch = sizeof name, type = 0, size = 0;
      r = RegEnumValueA(h, i, name, &cch, nullptr, &type, nullptr, &size);
      if (r == ERROR_NO_MORE_ITEMS) break;
      if (r != ERROR_SUCCESS) {
        err << ErrorText(r) << "\n";
        status = 1;
        break;
      }
      std::vector<BYTE> data(size);
      cch = sizeof name;
      RegEnumValueA(h, i, name, &cch, nullptr, &type, data.data(), &size);
      PrintValue(out, name, type, data);
    }
    out << "\n";
    for (DWORD i = 0;; ++i) {
      char name[16384];
      DWORD cch = sizeof name;
      r = RegEnumKeyExA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
      if (r != ERROR_SUCCESS) break;
      out << FullName(k) << "\\" << AnsiToUtf8(name) << "\n";
    }
  }
  RegCloseKey(h);
  return status;
}

bool EncodeData(const Options& o, DWORD& type, std::vector<BYTE>& data) {
  std::string t = o.t;
  for (auto& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string d = Utf8ToAnsi(o.d);
  if (t == "REG_SZ" || t == "REG_EXPAND_SZ") {
    type = t == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
    data.assign(d.begin(), d.end());
    data.push_back(0);
  } else if (t == "REG_MULTI_SZ") {
    type = REG_MULTI_SZ;
    std::string sep = Utf8ToAnsi(o.sep);
    size_t i = 0;
    while (!d.empty() && i <= d.size()) {
      size_t j = d.find(sep, i);
      if (j == std::string::npos) j = d.size();
      std::string item = d.substr(i, j - i);
      if (item.empty()) return false;  // reg.exe refuses empty strings inside a list
      data.insert(data.end(), item.begin(), item.end());
      data.push_back(0);
      i = j + sep.size();
    }
    data.push_back(0);
  } else if (t == "REG_DWORD") {
    type = REG_DWORD;
    if (d.empty()) d = "0";
    char* end = nullptr;
    unsigned long long v = std::strtoull(d.c_str(), &end, 0);
    if (*end || v > 0xFFFFFFFFull || d[0] == '-') return false;
    data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
  } else if (t == "REG_BINARY" || t == "REG_NONE") {
    type = t == "REG_BINARY" ? REG_BINARY : REG_NONE;
    if (d.size() % 2) return false;
    for (size_t i = 0; i < d.size(); i += 2) {
      char pair[3] = {d[i], d[i + 1], 0};
      char* end = nullptr;
      long b = std::strtol(pair, &end, 16);
      if (*end || !std::isxdigit(static_cast<unsigned char>(pair[0])) ||
          !std::isxdigit(static_cast<unsigned char>(pair[1])))
        return false;
      data.push_back(static_cast<BYTE>(b));
    }
  } else {
    return false;
  }
  return true;
}

int Add(const Options& o, std::istream& in, std::ostream& out, std::ostream& err) {
  Key k;
  if (!ParseKey(o.key, k)) return Syntax(err, "add");
  DWORD type = 0;
  std::vector<BYTE> data;
  if ((o.hasV || o.ve) && !EncodeData(o, type, data)) {
    err << "ERROR: Invalid syntax.\nThe data or type is not valid.\n";
    return 1;
  }
  HKEY h;
  LONG r = RegCreateKeyExA(k.root, k.sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &h,
                           nullptr);
  if (r != ERROR_SUCCESS) {
    err << ErrorText(r) << "\n";
    return 1;
  }
  if (o.hasV || o.ve) {
    std::string name = o.ve ? std::string() : Utf8ToAnsi(o.v);
    DWORD size = 0;
    if (!o.force && RegQueryValueExA(h, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        !Confirm(in, out, "Value " + (o.ve ? std::string("(Default)") : o.v) + " exists, overwrite")) {
      out << "The operation was canceled by the user.\n";
      RegCloseKey(h);
      return 1;
    }
    r = RegSetValueExA(h, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
  }
  // The value is written when the key is closed: a failed write is the command's failure.
  const LONG closed = RegCloseKey(h);
  if (r == ERROR_SUCCESS) r = closed;
  if (r != ERROR_SUCCESS) {
    err << ErrorText(r) << "\n";
    return 1;
  }
  out << "The operation completed successfully.\n";
  return 0;
}

LONG DeleteTree(HKEY root, const std::string& sub) {
  HKEY h;
  LONG r = RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &h);
  if (r != ERROR_SUCCESS) return r;
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD cch = sizeof name;
    if (RegEnumKeyExA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.push_back(name);
  }
  RegCloseKey(h);
  for (const auto& c : children) {
    r = DeleteTree(root, sub + "\\" + c);
    if (r != ERROR_SUCCESS) return r;
  }
  return RegDeleteKeyA(root, sub.c_str());
}

int Delete(const Options& o, std::istream& in, std::ostream& out, std::ostream& err) {
  Key k;
  if (!ParseKey(o.key, k)) return Syntax(err, "delete");
  LONG r;
  if (o.hasV || o.ve) {
    HKEY h;
    r = RegOpenKeyExA(k.root, k.sub.c_str(), 0, KEY_READ | KEY_SET_VALUE, &h);
    if (r == ERROR_SUCCESS) {
      std::string name = o.ve ? std::string() : Utf8ToAnsi(o.v);
      if (!o.force && !Confirm(in, out, "Delete the registry value " + (o.ve ? std::string("(Default)") : o.v))) {
        out << "The operation was canceled by the user.\n";
        RegCloseKey(h);
        return 1;
      }
      r = RegDeleteValueA(h, name.c_str());
      const LONG closed = RegCloseKey(h);
      if (r == ERROR_SUCCESS) r = closed;
    }
  } else {
    if (k.sub.empty()) return Syntax(err, "delete");
    if (!o.force && !Confirm(in, out, "Permanently delete the registry key " + FullName(k))) {
      out << "The operation was canceled by the user.\n";
      return 1;
    }
    r = DeleteTree(k.root, k.sub);
  }
  if (r != ERROR_SUCCESS) {
    err << ErrorText(r) << "\n";
    return 1;
  }
  out << "The operation completed successfully.\n";
  return 0;
}

}  // namespace

int KorvaneRegMain(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "/?" || args[0] == "-h" || args[0] == "--help") {
    Usage(out);
    return args.empty() ? 1 : 0;
  }
  std::string op = args[0];
  for (auto& c : op) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  Options o;
  if (op != "query" && op != "add" && op != "delete") {
    err << "ERROR: Invalid syntax.\nType \"korvane-reg /?\" for usage.\n";
    return 1;
  }
  if (args.size() >= 2 && args[1] == "/?") {
    Usage(out);
    return 0;
  }
  if (!ParseOptions(args, o)) return Syntax(err, op.c_str());
  if (op == "query") return Query(o, out, err);
  if (op == "add") return Add(o, in, out, err);
  return Delete(o, in, out, err);
}
