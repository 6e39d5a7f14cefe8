// The server's message of the day. The input is the answer, a NUL, then the
// previous local copy: any bytes end in a decision, never a crash, and a
// message is shown only from an answer that holds one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ui/main/uServerMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string answer = TrimBlanks(std::string(input.substr(0, nul)));
  const std::string previous =
      nul == std::string_view::npos ? std::string() : TrimBlanks(std::string(input.substr(nul + 1)));
  const TServerMessageDecision d = DecideServerMessage(answer, previous, "1.0.0.0");
  if (d.Show && !d.HasMessages) std::abort();
  return 0;
}
