// Internal: the objects behind the layer's kernel handles.
#pragma once

#include "minwindef.h"

struct KvHandleObject {
  virtual ~KvHandleObject() = default;
  // False for objects that live for the whole run (the standard streams).
  virtual bool Closable() const { return true; }
};

// Hands out a handle that owns obj; CloseHandle deletes it.
HANDLE KvNewHandle(KvHandleObject* obj);
// The live object behind h, or null.
KvHandleObject* KvHandleLookup(HANDLE h);
