#include "net/uGzip.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex gHookMutex;
TGzipErrorHook gDefaultHook;
}  // namespace

void SetDefaultGzipErrorHook(TGzipErrorHook hook) {
  std::lock_guard<std::mutex> lock(gHookMutex);
  gDefaultHook = std::move(hook);
}

int TGzip::Execute() { return kCantOpenSource; }
