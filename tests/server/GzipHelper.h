// gzip packing for the server tests (zlib, one member).
#pragma once

#include <zlib.h>

#include <stdexcept>
#include <string>

inline std::string GzipPack(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out;
  out.resize(deflateBound(&z, data.size()) + 64);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

// A report as the client writes it: header, then one block per device.
struct TestDevice {
  std::string hwid, compid, date, name = "Device";
};

inline std::string MakeReport(const std::vector<TestDevice>& devices, const std::string& os = "xp-32") {
  std::string r = "<os>" + os + "</os>\r\n<partner></partner>\r\n\r\n";
  int n = 0;
  for (const auto& d : devices) {
    ++n;
    r += "<dev>\r\n<id>" + std::to_string(n) + "</id>\r\n<cguid>{4D36E972-E325-11CE-BFC1-08002BE10318}</cguid>\r\n";
    r += "<hwid>" + d.hwid + "</hwid>\r\n<compid>" + d.compid + "</compid>\r\n<date>" + d.date +
         "</date>\r\n<devname>" + d.name + "</devname>\r\n</dev>\r\n\r\n";
  }
  return r;
}
