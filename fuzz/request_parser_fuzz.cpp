// libFuzzer target: one request's bytes through the listener's reader and parser, with the
// listener's bounds. Anything but a parsed request or a refused one is a finding.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

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

std::size_t Held(const std::string& text) { return sizeof text + (text.capacity() > 15 ? text.capacity() + 1 : 0); }

template <typename T>
std::size_t HeldList(const std::vector<T>& items) {
  std::size_t bytes = items.capacity() * sizeof(T);
  for (const T& item : items) {
    if constexpr (std::is_same_v<T, std::string>) {
      bytes += Held(item) - sizeof item;
    } else {
      bytes += Held(item.first) - sizeof item.first + Held(item.second) - sizeof item.second;
    }
  }
  return bytes;
}

// What the parsed request holds on the heap and in itself, strings' spare capacity included.
std::size_t ParsedSize(const lsv::events::THttpRequest& request) {
  return sizeof request + Held(request.PeerAddress) + Held(request.HostName) + Held(request.RequestPath) +
         Held(request.Method) + Held(request.ProtocolVersion) + Held(request.BasicUser) + Held(request.BasicPassword) +
         Held(request.QueryText) + Held(request.LocalAddress) + HeldList(request.HeaderLines) +
         HeldList(request.QueryFields) + HeldList(request.RequestCookies);
}

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
      // The parsed form costs at most a small constant times the bytes that came in: an "&" or
      // an "a;" must not become a string of its own without a cap. The constant part covers the
      // capped lists of empty items and the request's own fields.
      if (ParsedSize(*request) > 4 * size + 32 * 1024) __builtin_trap();
    }
  } catch (const lsv::events::RequestFailed&) {
  }
  return 0;
}
