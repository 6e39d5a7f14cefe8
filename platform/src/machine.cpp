// Which machine the layer shows: KORVANE_MACHINE names a machine folder; unset or "host"
// is the live host, whose hives live in a private folder of the user.
#include <korvane_machine.h>

#include <winerror.h>

#include "internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

namespace kvp {

namespace {

std::mutex g_mutex;
bool g_known = false;
MachineInfo g_machine;
bool g_folderFound = false;  // the folder exists
bool g_usable = false;       // ... and holds system.reg: no more checks
std::string g_refusedReported;

MachineInfo Resolve() {
  MachineInfo m;
  const char* env = std::getenv("KORVANE_MACHINE");
  std::string v = env ? env : "";
  if (v.empty() || v == "host") {
    m.host = true;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && *xdg == '/') {
      base = xdg;
    } else {
      const char* home = std::getenv("HOME");
      base = std::string(home && *home ? home : "/tmp") + "/.local/share";
    }
    m.root = base + "/korvane/host";
  } else {
    while (v.size() > 1 && v.back() == '/') v.pop_back();
    m.root = v;
  }
  return m;
}

}  // namespace

MachineInfo CurrentMachine() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_known) {
    g_machine = Resolve();
    g_known = true;
  }
  return g_machine;
}

DWORD CheckMachine(bool needSystemHive) {
  MachineInfo m = CurrentMachine();
  if (m.host) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_usable || (!needSystemHive && g_folderFound)) return ERROR_SUCCESS;
  }
  struct stat st;
  DWORD code = ERROR_SUCCESS;
  std::string why;
  if (stat(m.root.c_str(), &st) != 0) {
    code = ERROR_PATH_NOT_FOUND;
    why = "the machine folder " + m.root + " (KORVANE_MACHINE) does not exist";
  } else if (!S_ISDIR(st.st_mode)) {
    code = ERROR_PATH_NOT_FOUND;
    why = "the machine " + m.root + " (KORVANE_MACHINE) is not a folder";
  } else if (needSystemHive && (stat((m.root + "/system.reg").c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
    code = ERROR_FILE_NOT_FOUND;
    why = "the machine folder " + m.root + " (KORVANE_MACHINE) has no system.reg";
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (code == ERROR_SUCCESS) {
    g_folderFound = true;
    if (needSystemHive) g_usable = true;
    return code;
  }
  SetFault(code, why);
  if (why != g_refusedReported) ReportError(why);
  g_refusedReported = why;
  return code;
}

bool MakeDirs(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(path.substr(0, slash), 0755)) return false;
  if (mkdir(path.c_str(), mode) == 0 || errno == EEXIST) return true;
  return false;
}

namespace {
thread_local DWORD t_faultCode = 0;
thread_local std::string t_faultText;
}  // namespace

void SetFault(DWORD code, const std::string& text) {
  t_faultCode = code;
  t_faultText = text;
}

void ReportError(const std::string& message) {
  std::fprintf(stderr, "korvane: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace kvp

std::string KorvaneMachineRoot() { return kvp::CurrentMachine().root; }

bool KorvaneMachineIsHost() { return kvp::CurrentMachine().host; }

std::string KorvaneMachineFile(const std::string& name) { return kvp::CurrentMachine().root + "/" + name; }

std::string KorvaneFaultText(DWORD code) {
  return code != 0 && code == kvp::t_faultCode ? kvp::t_faultText : std::string();
}

void KorvaneResetMachine() {
  kvp::FlushRegistry();  // what was changed belongs to the machine being left
  {
    std::lock_guard<std::mutex> lock(kvp::g_mutex);
    kvp::g_known = false;
    kvp::g_usable = false;
    kvp::g_folderFound = false;
    kvp::g_refusedReported.clear();
  }
  kvp::ResetRegistry();
  kvp::ResetDevices();
  kvp::ResetIcons();
}
