// The few socket calls the HTTP client makes, on POSIX sockets or on Winsock:
// a socket handle type, non-blocking set-up, sends that never raise SIGPIPE, the
// last error and its text, and a bounded wait for readiness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace kvnet {

#ifdef _WIN32
using TSocket = SOCKET;
constexpr TSocket kNoSocket = INVALID_SOCKET;
#else
using TSocket = int;
constexpr TSocket kNoSocket = -1;
#endif

// Winsock is started once per process before the first socket (nothing elsewhere).
// False when it cannot be: then every socket call would fail.
bool StartSockets();

// A non-blocking stream socket that child processes do not inherit; kNoSocket and
// the last error set on failure.
TSocket OpenStreamSocket(int family);
void CloseSocket(TSocket s);
// connect(): 0, or -1 with the last error set (see ConnectPending).
int StartConnect(TSocket s, const sockaddr* address, std::size_t length);
// The failure of a connection that was pending: 0 when it is established.
int PendingConnectError(TSocket s);
void SetNoDelay(TSocket s);

// Bytes sent or received, or -1 with the last error set. A vanished peer gives an
// error, never a signal.
long SendSome(TSocket s, const char* data, std::size_t size);
long ReceiveSome(TSocket s, char* data, std::size_t size);

// The calling thread's last socket error (errno or WSAGetLastError()).
int LastSocketError();
bool WouldBlock(int error);      // try again when ready
bool ConnectPending(int error);  // a non-blocking connect under way
bool Interrupted(int error);     // a signal cut the call short: repeat it
// The system's text for a socket error, starting lower case ("connection refused").
std::string SocketErrorText(int error);

constexpr short kWaitRead = 1;
constexpr short kWaitWrite = 2;
// Waits at most timeoutMs (>= 0) for the socket to be readable or writable (a
// failed connect counts as writable, so that PendingConnectError sees it): 1 ready,
// 0 timed out, -1 failed with the last error set.
int WaitSocket(TSocket s, short what, int timeoutMs);

}  // namespace kvnet
