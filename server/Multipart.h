// multipart/form-data bodies as the update check receives them: the
// boundary from the request's Content-Type, then each part's
// Content-Disposition name and filename, its Content-Type and its bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace updsrv {

struct TFormPart {
  std::string Name;         // name="..." of the Content-Disposition
  std::string FileName;     // filename="...", as sent (a full path is kept)
  bool HasFileName = false;
  std::string ContentType;  // the part's Content-Type, empty when it has none
  std::string Data;
};

// Limits that keep a hostile body cheap to refuse.
constexpr size_t kMaxFormParts = 64;
constexpr size_t kMaxPartHeaderBytes = 8 * 1024;

// True when the media type of a Content-Type value is multipart/form-data
// (ASCII case ignored).
bool IsMultipartFormData(std::string_view contentType);

// The boundary parameter of a multipart Content-Type (quoted or not); empty
// when there is none or it is not a valid boundary (1..70 characters).
std::string MultipartBoundary(std::string_view contentType);

// Splits a multipart/form-data body into its parts. False with a sentence in
// error when the boundary is missing, a delimiter or the closing delimiter is
// missing, a part's headers are unterminated or too long, a part lacks a
// form-data Content-Disposition, or there are more than kMaxFormParts parts.
// Never throws for bad input.
bool ParseMultipartForm(std::string_view contentType, std::string_view body,
                        std::vector<TFormPart>& parts, std::string& error);

}  // namespace updsrv
