// The root certificate as the update server hands it out: only a PEM
// certificate that OpenSSL reads is ever kept, nothing else of the text.
#pragma once

#include <string>
#include <string_view>

// The first "-----BEGIN CERTIFICATE-----" ... "-----END CERTIFICATE-----" block
// of text that OpenSSL parses as an X.509 certificate, ending in "\n"; empty
// when text holds none.
std::string FirstPemCertificate(std::string_view text);
