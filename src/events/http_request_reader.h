#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <memory>
#include <vector>

#include "events/http_types.h"

namespace lsv::events {

// Where request bytes come from: a socket in the listener, memory in tests and the fuzzer.
class IByteSource {
 public:
  // Bytes read, 0 once the peer has closed its sending side. Throws when the read fails.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;

 protected:
  ~IByteSource() = default;
};

// What one client can make the listener hold. A request over a bound is closed unanswered, except
// for the two lists below, which keep their first items: the parsed form of a request then costs
// at most a small constant times its bytes (an "&" or an "a;" would otherwise cost a string each).
struct RequestLimits {
  std::size_t maxLineLength = 8 * 1024;
  std::size_t maxHeaderLines = 100;
  std::size_t maxBodyLength = 64 * 1024;
  // No page event has more than 3 query fields, so a request cut down to 100 still is none.
  std::size_t maxQueryFields = 100;
  // Nothing reads the cookies.
  std::size_t maxCookies = 100;
};

// A request that cannot be served; the connection is closed without a response.
class RequestFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class RequestReader {
 public:
  static constexpr std::size_t kBufferSize = 32768;

  RequestReader(IByteSource& source, const RequestLimits& limits);

  // Up to the next LF, without it and without a CR right before it.
  std::string ReadLine();
  std::string ReadExactly(std::size_t count);
  std::string ReadToClose();
  const RequestLimits& Limits() const { return limits_; }

 private:
  bool Fill();

  IByteSource& source_;
  RequestLimits limits_;
  // Not value-initialised: clearing 32 KiB for every connection is measurable.
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Reads and parses one request. nullopt when its method does not reach the handler (or there is
// none bound): then nothing is written. Raises RequestFailed for a request that cannot be parsed.
std::optional<THttpRequest> ReadRequest(RequestReader& reader, bool handlerBound, const std::string& peerAddress,
                                        const std::string& localAddress);

}  // namespace lsv::events
