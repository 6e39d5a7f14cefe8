#include "handleapi.h"

#include "errhandlingapi.h"
#include "kv_handles.h"
#include "processthreadsapi.h"

#include <mutex>
#include <unordered_set>

namespace {

// Never destroyed: the registry writes unflushed values from an exit handler, which may
// run after the destructors of statics made later than it was registered.
std::mutex& TableLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::unordered_set<KvHandleObject*>& Table() {
  static auto* t = new std::unordered_set<KvHandleObject*>;
  return *t;
}

}  // namespace

HANDLE KvNewHandle(KvHandleObject* obj) {
  std::lock_guard<std::mutex> g(TableLock());
  Table().insert(obj);
  return static_cast<HANDLE>(obj);
}

KvHandleObject* KvHandleLookup(HANDLE h) {
  std::lock_guard<std::mutex> g(TableLock());
  auto* obj = static_cast<KvHandleObject*>(h);
  return Table().count(obj) ? obj : nullptr;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (hObject == GetCurrentThread()) return TRUE;  // a pseudo handle: nothing to close
  KvHandleObject* obj = nullptr;
  {
    std::lock_guard<std::mutex> g(TableLock());
    auto it = Table().find(static_cast<KvHandleObject*>(hObject));
    if (it != Table().end() && (*it)->Closable()) {
      obj = *it;
      Table().erase(it);
    }
  }
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete obj;
  return TRUE;
}
