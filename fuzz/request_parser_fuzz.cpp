// libFuzzer target: one request's bytes through the listener's reader and parser, with the
// listener's bounds. Anything but a parsed request or a refused one is a finding.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "events/http_request_reader.h"

namespace {

// Hands the input out in small pieces, the way a socket may.
class MemorySource : public lsv::events::IByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t count = std::min({size, size_ - offset_, std::size_t{7}});
    std::memcpy(buffer, data_ + offset_, count);
    offset_ += count;
    return count;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemorySource source(data, size);
  lsv::events::RequestLimits limits;
  lsv::events::RequestReader reader(source, limits);
  try {
    const auto request = lsv::events::ReadRequest(reader, true, "127.0.0.1", "127.0.0.1");
    if (request) {
      // The bounds hold whatever the input.
      if (request->HeaderLines.size() > limits.maxHeaderLines + 1) __builtin_trap();
      for (const std::string& line : request->HeaderLines) {
        if (line.size() > limits.maxLineLength) __builtin_trap();
      }
      if (request->RequestPath.empty() || (request->RequestPath[0] != '/' && request->RequestPath != "*")) {
        __builtin_trap();
      }
    }
  } catch (const lsv::events::RequestFailed&) {
  }
  return 0;
}
