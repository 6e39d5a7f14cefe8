#include "net/uResolve.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace kvnet {

namespace {

// What the lookup thread and its caller share; whichever of them is last frees it.
struct TPendingLookup {
  std::mutex Lock;
  std::condition_variable Done;
  bool Finished = false;
  bool Abandoned = false;
  int Status = EAI_FAIL;
  addrinfo* List = nullptr;
};

}  // namespace

int SystemLookup(const std::string& host, const std::string& port, addrinfo** list) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, list);
  if (rc == EAI_BADFLAGS || rc == EAI_NONAME) {
    hints.ai_flags = 0;  // loopback names on hosts without a configured address
    rc = getaddrinfo(host.c_str(), port.c_str(), &hints, list);
  }
  return rc;
}

int ResolveStream(const std::string& host, const std::string& port, TAddressList& list,
                  const std::function<void()>& check, const TLookup& lookup, int sliceMs) {
  list.reset();
  addrinfo* found = nullptr;
  addrinfo numeric{};
  numeric.ai_family = AF_UNSPEC;
  numeric.ai_socktype = SOCK_STREAM;
  numeric.ai_flags = AI_NUMERICHOST;
  if (getaddrinfo(host.c_str(), port.c_str(), &numeric, &found) == 0 && found) {
    list.reset(found);
    return 0;
  }

  auto pending = std::make_shared<TPendingLookup>();
  try {
    std::thread([pending, host, port, lookup] {
      addrinfo* got = nullptr;
      const int rc = lookup(host, port, &got);
      std::lock_guard<std::mutex> guard(pending->Lock);
      if (pending->Abandoned) {
        if (got) freeaddrinfo(got);
        return;
      }
      pending->Status = rc;
      pending->List = got;
      pending->Finished = true;
      pending->Done.notify_one();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the lookup on this one, as it always was.
    const int rc = lookup(host, port, &found);
    if (rc == 0) list.reset(found);
    return rc;
  }

  std::unique_lock<std::mutex> lock(pending->Lock);
  while (
      !pending->Done.wait_for(lock, std::chrono::milliseconds(sliceMs), [&] { return pending->Finished; })) {
    lock.unlock();
    try {
      check();
    } catch (...) {
      std::lock_guard<std::mutex> guard(pending->Lock);
      if (pending->List) freeaddrinfo(pending->List);  // it finished meanwhile
      pending->List = nullptr;
      pending->Abandoned = true;
      throw;
    }
    lock.lock();
  }
  if (pending->Status == 0)
    list.reset(pending->List);
  else if (pending->List)
    freeaddrinfo(pending->List);
  pending->List = nullptr;
  return pending->Status;
}

}  // namespace kvnet
