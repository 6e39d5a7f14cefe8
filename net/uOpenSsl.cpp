#define KV_OPENSSL_DEFINING
#include "net/uOpenSsl.h"

#include <openssl/opensslv.h>

#if !defined(_WIN32)

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace kvssl {

namespace {

// What an unresolved function does: what OpenSSL returns when it fails.
template <typename F>
struct TMissing;
template <typename R, typename... A>
struct TMissing<R (*)(A...)> {
  static R Call(A...) { return R(); }
};

template <typename F>
void Resolve(void* library, const char* name, F& pointer) {
  void* symbol = library ? dlsym(library, name) : nullptr;
  pointer = symbol ? reinterpret_cast<F>(symbol) : &TMissing<F>::Call;
}

}  // namespace

#define KV_OPENSSL_POINTER(name) decltype(&::name) name##_ = nullptr;
KV_OPENSSL_FUNCTIONS(KV_OPENSSL_POINTER)
#undef KV_OPENSSL_POINTER

void Load() {
  static std::once_flag once;
  std::call_once(once, [] {
    // libssl brings libcrypto with it; a symbol is looked up in both.
    const std::string file = "libssl.so." + std::to_string(OPENSSL_VERSION_MAJOR);
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
#define KV_OPENSSL_RESOLVE(name) Resolve(library, #name, name##_);
    KV_OPENSSL_FUNCTIONS(KV_OPENSSL_RESOLVE)
#undef KV_OPENSSL_RESOLVE
  });
}

}  // namespace kvssl

#endif
