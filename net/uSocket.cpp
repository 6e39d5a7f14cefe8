#include "net/uSocket.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <netinet/tcp.h>
#include <unistd.h>
#endif

namespace kvnet {

namespace {

std::string LowerFirst(std::string text) {
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

}  // namespace

#ifdef _WIN32

bool StartSockets() {
  // Started once and never cleaned up: other threads may hold sockets until the end.
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

TSocket OpenStreamSocket(int family) {
  if (!StartSockets()) return kNoSocket;
  const TSocket s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) return s;
  u_long on = 1;
  if (ioctlsocket(s, FIONBIO, &on) != 0) {
    const int error = WSAGetLastError();
    closesocket(s);
    WSASetLastError(error);
    return kNoSocket;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return s;
}

void CloseSocket(TSocket s) {
  if (s != kNoSocket) closesocket(s);
}

int StartConnect(TSocket s, const sockaddr* address, std::size_t length) {
  return ::connect(s, address, static_cast<int>(length)) == 0 ? 0 : -1;
}

int PendingConnectError(TSocket s) {
  int error = 0;
  int length = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
    return WSAGetLastError();
  return error;
}

void SetNoDelay(TSocket s) {
  const BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

long SendSome(TSocket s, const char* data, std::size_t size) {
  const int n = ::send(s, data, static_cast<int>(size > 0x7fffffff ? 0x7fffffff : size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long ReceiveSome(TSocket s, char* data, std::size_t size) {
  const int n = ::recv(s, data, static_cast<int>(size > 0x7fffffff ? 0x7fffffff : size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int LastSocketError() { return WSAGetLastError(); }
bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }
bool ConnectPending(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
bool Interrupted(int error) { return error == WSAEINTR; }

std::string SocketErrorText(int error) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
      nullptr);
  std::string out = n && text ? std::string(text, n) : "socket error " + std::to_string(error);
  if (text) LocalFree(text);
  return LowerFirst(out);
}

// select(), not WSAPoll: WSAPoll never reports a refused connect before Windows 10
// 2004 (a failed connect shows in the exception set instead).
int WaitSocket(TSocket s, short what, int timeoutMs) {
  fd_set reads, writes, errors;
  FD_ZERO(&reads);
  FD_ZERO(&writes);
  FD_ZERO(&errors);
  if (what & kWaitRead) FD_SET(s, &reads);
  if (what & kWaitWrite) {
    FD_SET(s, &writes);
    FD_SET(s, &errors);
  }
  timeval tv{};
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  const int rc = ::select(0, &reads, &writes, &errors, &tv);
  if (rc == SOCKET_ERROR) return -1;
  return rc > 0 ? 1 : 0;
}

#else

bool StartSockets() { return true; }

TSocket OpenStreamSocket(int family) {
  return ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

void CloseSocket(TSocket s) {
  if (s >= 0) ::close(s);
}

int StartConnect(TSocket s, const sockaddr* address, std::size_t length) {
  return ::connect(s, address, static_cast<socklen_t>(length)) == 0 ? 0 : -1;
}

int PendingConnectError(TSocket s) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

void SetNoDelay(TSocket s) {
  const int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

long SendSome(TSocket s, const char* data, std::size_t size) { return ::send(s, data, size, MSG_NOSIGNAL); }

long ReceiveSome(TSocket s, char* data, std::size_t size) { return ::recv(s, data, size, 0); }

int LastSocketError() { return errno; }
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
bool ConnectPending(int error) { return error == EINPROGRESS; }
bool Interrupted(int error) { return error == EINTR; }

std::string SocketErrorText(int error) { return LowerFirst(std::strerror(error)); }

int WaitSocket(TSocket s, short what, int timeoutMs) {
  pollfd p{s, static_cast<short>(((what & kWaitRead) ? POLLIN : 0) | ((what & kWaitWrite) ? POLLOUT : 0)), 0};
  const int rc = ::poll(&p, 1, timeoutMs);
  return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
}

#endif

}  // namespace kvnet
