// A name lookup its caller can give up on. getaddrinfo cannot be interrupted and
// waits out every unanswering name server in turn, so it runs on a thread of its
// own while the caller's checks (Cancel, the overall deadline) keep running; a
// lookup given up on finishes and frees its result alone.
#pragma once

#include "net/uSocket.h"

#include <functional>
#include <memory>
#include <string>

namespace kvnet {

using TAddressList = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;
// A lookup of a stream address: getaddrinfo's status, and on success a list that
// freeaddrinfo releases.
using TLookup = std::function<int(const std::string& host, const std::string& port, addrinfo** list)>;

// The system's lookup (any family the machine has an address for; loopback names
// also on a machine without one).
int SystemLookup(const std::string& host, const std::string& port, addrinfo** list);

// The addresses of host:port, or getaddrinfo's failure status with list empty. A
// numeric address is taken at once; a name is looked up by lookup on its own thread
// while check() runs on the calling thread every sliceMs. An exception from check()
// leaves here at once, and the lookup is abandoned.
int ResolveStream(const std::string& host, const std::string& port, TAddressList& list,
                  const std::function<void()>& check, const TLookup& lookup = SystemLookup, int sliceMs = 50);

}  // namespace kvnet
