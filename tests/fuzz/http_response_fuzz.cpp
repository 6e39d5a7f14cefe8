// libFuzzer entry: arbitrary bytes as a server's answer must only ever end
// in a parsed response or an EHttpError, never a crash or an overrun.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/uHttpClient.h"
#include "net/uHttpWire.h"

namespace {
class FuzzSource : public IHttpSource {
 public:
  FuzzSource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t Receive(char* buffer, std::size_t size) override {
    // The first byte picks the piece size so refills are exercised too.
    const std::size_t step = size_ ? 1 + data_[0] % 64 : 1;
    const std::size_t n = std::min({size, step, size_ - pos_});
    std::copy(data_ + pos_, data_ + pos_ + n, buffer);
    pos_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzSource source(data, size);
  THttpResponseReader reader(source, 70 * 1024);
  try {
    const THttpResponseHead head = reader.ReadHead();
    TBodyEvents events;
    std::size_t total = 0;
    events.Data = [&total](const char*, std::size_t n) { total += n; };
    reader.ReadBody(PlanBody(head), events);
  } catch (const EHttpError&) {
  }
  return 0;
}
