#include "server/Multipart.h"

namespace updsrv {

namespace {

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

struct TParam {
  std::string_view Name;
  std::string Value;
};

// "type; a=b; c="d; e"" -> the type, then its parameters. Quoted values run
// to the next double quote: clients put Windows paths there unescaped, so a
// backslash is an ordinary character.
std::string_view SplitParams(std::string_view value, std::vector<TParam>& params) {
  params.clear();
  size_t semi = value.find(';');
  std::string_view type = TrimView(value.substr(0, semi));
  size_t pos = semi == std::string_view::npos ? value.size() : semi + 1;
  while (pos < value.size()) {
    size_t eq = value.find_first_of("=;", pos);
    if (eq == std::string_view::npos || value[eq] == ';') {
      pos = eq == std::string_view::npos ? value.size() : eq + 1;
      continue;  // a parameter without a value is ignored
    }
    TParam p;
    p.Name = TrimView(value.substr(pos, eq - pos));
    size_t v = eq + 1;
    while (v < value.size() && (value[v] == ' ' || value[v] == '\t')) ++v;
    if (v < value.size() && value[v] == '"') {
      size_t close = value.find('"', v + 1);
      if (close == std::string_view::npos) close = value.size();
      p.Value = std::string(value.substr(v + 1, close - v - 1));
      pos = value.find(';', close);
      pos = pos == std::string_view::npos ? value.size() : pos + 1;
    } else {
      size_t end = value.find(';', v);
      p.Value = std::string(TrimView(value.substr(v, end == std::string_view::npos ? end : end - v)));
      pos = end == std::string_view::npos ? value.size() : end + 1;
    }
    params.push_back(std::move(p));
  }
  return type;
}

bool ValidBoundary(std::string_view b) {
  if (b.empty() || b.size() > 70 || b.back() == ' ') return false;
  for (char c : b) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool IsMultipartFormData(std::string_view contentType) {
  std::vector<TParam> params;
  return IEquals(SplitParams(contentType, params), "multipart/form-data");
}

std::string MultipartBoundary(std::string_view contentType) {
  std::vector<TParam> params;
  SplitParams(contentType, params);
  for (const auto& p : params)
    if (IEquals(p.Name, "boundary")) return ValidBoundary(p.Value) ? p.Value : std::string();
  return "";
}

bool ParseMultipartForm(std::string_view contentType, std::string_view body,
                        std::vector<TFormPart>& parts, std::string& error) {
  parts.clear();
  auto fail = [&](const char* why) {
    parts.clear();
    error = why;
    return false;
  };
  if (!IsMultipartFormData(contentType)) return fail("The upload is not a multipart form.");
  const std::string boundary = MultipartBoundary(contentType);
  if (boundary.empty()) return fail("The upload is not a valid multipart form (no boundary).");
  const std::string delim = "--" + boundary;
  const std::string nextDelim = "\r\n" + delim;

  size_t pos;
  if (body.compare(0, delim.size(), delim) == 0) {
    pos = delim.size();
  } else {
    size_t first = body.find(nextDelim);
    if (first == std::string_view::npos)
      return fail("The upload is not a valid multipart form (no delimiter).");
    pos = first + nextDelim.size();
  }
  std::vector<TParam> params;
  for (;;) {
    if (body.compare(pos, 2, "--") == 0) break;  // the closing delimiter; the epilogue is ignored
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
    if (body.compare(pos, 2, "\r\n") != 0)
      return fail("The upload is not a valid multipart form (bad delimiter line).");
    pos += 2;
    if (parts.size() == kMaxFormParts) return fail("The upload has too many form parts.");

    std::string_view headers;
    size_t dataStart;
    if (body.compare(pos, 2, "\r\n") == 0) {
      dataStart = pos + 2;
    } else {
      size_t end = body.find("\r\n\r\n", pos);
      if (end == std::string_view::npos || end - pos > kMaxPartHeaderBytes)
        return fail("The upload is not a valid multipart form (part headers).");
      headers = body.substr(pos, end - pos);
      dataStart = end + 4;
    }
    size_t next = body.find(nextDelim, dataStart);
    if (next == std::string_view::npos)
      return fail("The upload is not a valid multipart form (no closing delimiter).");

    TFormPart part;
    bool disposition = false;
    size_t h = 0;
    while (h < headers.size()) {
      size_t eol = headers.find("\r\n", h);
      std::string_view line = headers.substr(h, eol == std::string_view::npos ? eol : eol - h);
      h = eol == std::string_view::npos ? headers.size() : eol + 2;
      size_t colon = line.find(':');
      if (colon == std::string_view::npos)
        return fail("The upload is not a valid multipart form (part header line).");
      std::string_view name = TrimView(line.substr(0, colon));
      std::string_view value = TrimView(line.substr(colon + 1));
      if (IEquals(name, "Content-Disposition")) {
        if (!IEquals(SplitParams(value, params), "form-data"))
          return fail("The upload is not a valid multipart form (not form-data).");
        disposition = true;
        for (auto& p : params) {
          if (IEquals(p.Name, "name")) {
            part.Name = std::move(p.Value);
          } else if (IEquals(p.Name, "filename")) {
            part.FileName = std::move(p.Value);
            part.HasFileName = true;
          }
        }
      } else if (IEquals(name, "Content-Type")) {
        part.ContentType = std::string(value);
      }
    }
    if (!disposition || part.Name.empty())
      return fail("The upload is not a valid multipart form (a part without a name).");
    part.Data = std::string(body.substr(dataStart, next - dataStart));
    parts.push_back(std::move(part));
    pos = next + nextDelim.size();
  }
  return true;
}

}  // namespace updsrv
