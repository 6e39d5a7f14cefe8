// The server's reader of an uploaded report, and its answer against a small
// catalogue: any bytes end in an answer or a refusal with a sentence, never a
// crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/Catalogue.h"
#include "server/CheckService.h"
#include "server/Report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const updsrv::TCatalogue catalogue = updsrv::TCatalogue::Parse(
      "PCI\\VEN_8086&DEV_1234 | 5-1-2008 | 8.1 | Intel | \n"
      "pci\\ven_10de | 1-2-2009 | 9.0 | NVIDIA | http://example.com/nv.exe\n");
  const std::string text(reinterpret_cast<const char*>(data), size);
  updsrv::TReport report;
  std::string error;
  if (updsrv::ParseReport(text, report, error)) updsrv::AnswerReport(report, catalogue, {});
  return 0;
}
