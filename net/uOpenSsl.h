// OpenSSL reached through pointers resolved on first use, on Linux: a program that
// starts (the window program above all) does not map and relocate libssl and
// libcrypto, some 25,000 relocations, before it needs TLS or a signature. Included
// by the net units that call OpenSSL, and only there; every function they call is
// listed here. A function that cannot be resolved fails as OpenSSL fails (a null,
// zero or empty result), so callers meet an ordinary TLS or key error. Windows
// links OpenSSL statically: the calls stay direct.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#if !defined(_WIN32)

// clang-format off
#define KV_OPENSSL_FUNCTIONS(X) \
  X(BIO_clear_flags) \
  X(BIO_ctrl) \
  X(BIO_free) \
  X(BIO_get_new_index) \
  X(BIO_int_ctrl) \
  X(BIO_meth_get_create) \
  X(BIO_meth_get_ctrl) \
  X(BIO_meth_get_destroy) \
  X(BIO_meth_new) \
  X(BIO_meth_set_create) \
  X(BIO_meth_set_ctrl) \
  X(BIO_meth_set_destroy) \
  X(BIO_meth_set_puts) \
  X(BIO_meth_set_read) \
  X(BIO_meth_set_write) \
  X(BIO_new) \
  X(BIO_new_mem_buf) \
  X(BIO_s_mem) \
  X(BIO_s_socket) \
  X(BIO_set_flags) \
  X(ERR_clear_error) \
  X(ERR_error_string_n) \
  X(ERR_get_error) \
  X(EVP_DigestSign) \
  X(EVP_DigestSignInit) \
  X(EVP_DigestVerify) \
  X(EVP_DigestVerifyInit) \
  X(EVP_MD_CTX_free) \
  X(EVP_MD_CTX_new) \
  X(EVP_PKEY_CTX_free) \
  X(EVP_PKEY_CTX_new_id) \
  X(EVP_PKEY_free) \
  X(EVP_PKEY_get_id) \
  X(EVP_PKEY_keygen) \
  X(EVP_PKEY_keygen_init) \
  X(PEM_read_bio_PUBKEY) \
  X(PEM_read_bio_PrivateKey) \
  X(PEM_read_bio_X509) \
  X(PEM_write_bio_PUBKEY) \
  X(PEM_write_bio_PrivateKey) \
  X(SSL_CTX_ctrl) \
  X(SSL_CTX_free) \
  X(SSL_CTX_load_verify_locations) \
  X(SSL_CTX_new) \
  X(SSL_CTX_set_cipher_list) \
  X(SSL_CTX_set_info_callback) \
  X(SSL_CTX_set_options) \
  X(SSL_CTX_set_verify) \
  X(SSL_connect) \
  X(SSL_ctrl) \
  X(SSL_free) \
  X(SSL_get_error) \
  X(SSL_get_ex_data) \
  X(SSL_new) \
  X(SSL_read) \
  X(SSL_set_bio) \
  X(SSL_set_ex_data) \
  X(SSL_shutdown) \
  X(SSL_state_string_long) \
  X(SSL_write) \
  X(TLS_client_method) \
  X(X509_free)
// clang-format on

namespace kvssl {

#define KV_OPENSSL_POINTER(name) extern decltype(&::name) name##_;
KV_OPENSSL_FUNCTIONS(KV_OPENSSL_POINTER)
#undef KV_OPENSSL_POINTER

// Loads the library and resolves every function, once per process.
void Load();

}  // namespace kvssl

// uOpenSsl.cpp, which defines the pointers, names the real functions.
#if !defined(KV_OPENSSL_DEFINING)
#define KV_OPENSSL_CALL(name) (kvssl::Load(), kvssl::name##_)
// clang-format off
#define BIO_clear_flags KV_OPENSSL_CALL(BIO_clear_flags)
#define BIO_ctrl KV_OPENSSL_CALL(BIO_ctrl)
#define BIO_free KV_OPENSSL_CALL(BIO_free)
#define BIO_get_new_index KV_OPENSSL_CALL(BIO_get_new_index)
#define BIO_int_ctrl KV_OPENSSL_CALL(BIO_int_ctrl)
#define BIO_meth_get_create KV_OPENSSL_CALL(BIO_meth_get_create)
#define BIO_meth_get_ctrl KV_OPENSSL_CALL(BIO_meth_get_ctrl)
#define BIO_meth_get_destroy KV_OPENSSL_CALL(BIO_meth_get_destroy)
#define BIO_meth_new KV_OPENSSL_CALL(BIO_meth_new)
#define BIO_meth_set_create KV_OPENSSL_CALL(BIO_meth_set_create)
#define BIO_meth_set_ctrl KV_OPENSSL_CALL(BIO_meth_set_ctrl)
#define BIO_meth_set_destroy KV_OPENSSL_CALL(BIO_meth_set_destroy)
#define BIO_meth_set_puts KV_OPENSSL_CALL(BIO_meth_set_puts)
#define BIO_meth_set_read KV_OPENSSL_CALL(BIO_meth_set_read)
#define BIO_meth_set_write KV_OPENSSL_CALL(BIO_meth_set_write)
#define BIO_new KV_OPENSSL_CALL(BIO_new)
#define BIO_new_mem_buf KV_OPENSSL_CALL(BIO_new_mem_buf)
#define BIO_s_mem KV_OPENSSL_CALL(BIO_s_mem)
#define BIO_s_socket KV_OPENSSL_CALL(BIO_s_socket)
#define BIO_set_flags KV_OPENSSL_CALL(BIO_set_flags)
#define ERR_clear_error KV_OPENSSL_CALL(ERR_clear_error)
#define ERR_error_string_n KV_OPENSSL_CALL(ERR_error_string_n)
#define ERR_get_error KV_OPENSSL_CALL(ERR_get_error)
#define EVP_DigestSign KV_OPENSSL_CALL(EVP_DigestSign)
#define EVP_DigestSignInit KV_OPENSSL_CALL(EVP_DigestSignInit)
#define EVP_DigestVerify KV_OPENSSL_CALL(EVP_DigestVerify)
#define EVP_DigestVerifyInit KV_OPENSSL_CALL(EVP_DigestVerifyInit)
#define EVP_MD_CTX_free KV_OPENSSL_CALL(EVP_MD_CTX_free)
#define EVP_MD_CTX_new KV_OPENSSL_CALL(EVP_MD_CTX_new)
#define EVP_PKEY_CTX_free KV_OPENSSL_CALL(EVP_PKEY_CTX_free)
#define EVP_PKEY_CTX_new_id KV_OPENSSL_CALL(EVP_PKEY_CTX_new_id)
#define EVP_PKEY_free KV_OPENSSL_CALL(EVP_PKEY_free)
#define EVP_PKEY_get_id KV_OPENSSL_CALL(EVP_PKEY_get_id)
#define EVP_PKEY_keygen KV_OPENSSL_CALL(EVP_PKEY_keygen)
#define EVP_PKEY_keygen_init KV_OPENSSL_CALL(EVP_PKEY_keygen_init)
#define PEM_read_bio_PUBKEY KV_OPENSSL_CALL(PEM_read_bio_PUBKEY)
#define PEM_read_bio_PrivateKey KV_OPENSSL_CALL(PEM_read_bio_PrivateKey)
#define PEM_read_bio_X509 KV_OPENSSL_CALL(PEM_read_bio_X509)
#define PEM_write_bio_PUBKEY KV_OPENSSL_CALL(PEM_write_bio_PUBKEY)
#define PEM_write_bio_PrivateKey KV_OPENSSL_CALL(PEM_write_bio_PrivateKey)
#define SSL_CTX_ctrl KV_OPENSSL_CALL(SSL_CTX_ctrl)
#define SSL_CTX_free KV_OPENSSL_CALL(SSL_CTX_free)
#define SSL_CTX_load_verify_locations KV_OPENSSL_CALL(SSL_CTX_load_verify_locations)
#define SSL_CTX_new KV_OPENSSL_CALL(SSL_CTX_new)
#define SSL_CTX_set_cipher_list KV_OPENSSL_CALL(SSL_CTX_set_cipher_list)
#define SSL_CTX_set_info_callback KV_OPENSSL_CALL(SSL_CTX_set_info_callback)
#define SSL_CTX_set_options KV_OPENSSL_CALL(SSL_CTX_set_options)
#define SSL_CTX_set_verify KV_OPENSSL_CALL(SSL_CTX_set_verify)
#define SSL_connect KV_OPENSSL_CALL(SSL_connect)
#define SSL_ctrl KV_OPENSSL_CALL(SSL_ctrl)
#define SSL_free KV_OPENSSL_CALL(SSL_free)
#define SSL_get_error KV_OPENSSL_CALL(SSL_get_error)
#define SSL_get_ex_data KV_OPENSSL_CALL(SSL_get_ex_data)
#define SSL_new KV_OPENSSL_CALL(SSL_new)
#define SSL_read KV_OPENSSL_CALL(SSL_read)
#define SSL_set_bio KV_OPENSSL_CALL(SSL_set_bio)
#define SSL_set_ex_data KV_OPENSSL_CALL(SSL_set_ex_data)
#define SSL_shutdown KV_OPENSSL_CALL(SSL_shutdown)
#define SSL_state_string_long KV_OPENSSL_CALL(SSL_state_string_long)
#define SSL_write KV_OPENSSL_CALL(SSL_write)
#define TLS_client_method KV_OPENSSL_CALL(TLS_client_method)
#define X509_free KV_OPENSSL_CALL(X509_free)
// clang-format on
#endif

#endif
