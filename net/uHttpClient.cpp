#include "net/uHttpClient.h"

namespace httpdefaults {
const char* const kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
const char* const kAccept = "text/html, */*";
const char* const kAcceptEncoding = "identity";
const char* const kCipherList = "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP";
const char* const kRootCertError = "Could not load root certificate.";
}  // namespace httpdefaults

THttpClient::THttpClient() = default;
THttpClient::~THttpClient() = default;

std::string THttpClient::GetText(const std::string& url) {
  throw EHttpError("Not implemented yet: " + url);
}

void THttpClient::GetToStream(const std::string& url, std::ostream&) {
  throw EHttpError("Not implemented yet: " + url);
}

std::string THttpClient::PostFile(const std::string& url, const std::string&, const std::string&,
                                  const std::string&) {
  throw EHttpError("Not implemented yet: " + url);
}

void THttpClient::Disconnect() { aborted_ = true; }
bool THttpClient::Connected() const { return fd_ >= 0; }

std::string THttpClient::Request(const std::string&, const std::string& url, const std::string&,
                                 const std::string*, std::ostream*, bool) {
  throw EHttpError("Not implemented yet: " + url);
}

void THttpClient::Status(const std::string& text) {
  if (OnStatus) OnStatus(text);
}
