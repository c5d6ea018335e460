#include "events/http_request_reader.h"

#include <algorithm>
#include <cstring>

#include "base/number_text.h"
#include "base/text.h"
#include "events/http_parsing.h"

namespace lsv::events {

RequestReader::RequestReader(IByteSource& source, const RequestLimits& limits)
    : source_(source), limits_(limits), buffer_(new char[kBufferSize]) {}

bool RequestReader::Fill() {
  if (begin_ == end_) begin_ = end_ = 0;
  if (end_ == kBufferSize) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t count = source_.Read(buffer_.get() + end_, kBufferSize - end_);
  end_ += count;
  return count > 0;
}

std::string RequestReader::ReadLine() {
  std::string line;
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const void* lf = std::memchr(start, '\n', end_ - begin_);
    const std::size_t take = lf != nullptr ? static_cast<const char*>(lf) - start : end_ - begin_;
    line.append(start, take);
    begin_ += take;
    // The line's own CR may still be in it; one byte over the bound is allowed for that.
    if (line.size() > limits_.maxLineLength + 1) throw RequestFailed("Line too long.");
    if (lf != nullptr) {
      ++begin_;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > limits_.maxLineLength) throw RequestFailed("Line too long.");
      return line;
    }
    if (!Fill()) throw RequestFailed("Connection closed gracefully.");
  }
}

std::string RequestReader::ReadExactly(std::size_t count) {
  std::string bytes;
  // Callers check count against a bound first; growing by halves would hold up to twice it.
  bytes.reserve(count);
  while (bytes.size() < count) {
    if (begin_ == end_ && !Fill()) throw RequestFailed("Connection closed gracefully.");
    const std::size_t take = std::min(count - bytes.size(), end_ - begin_);
    bytes.append(buffer_.get() + begin_, take);
    begin_ += take;
  }
  return bytes;
}

std::string RequestReader::ReadToClose() {
  std::string bytes;
  for (;;) {
    bytes.append(buffer_.get() + begin_, end_ - begin_);
    begin_ = end_ = 0;
    if (bytes.size() > limits_.maxBodyLength) throw RequestFailed("Body too long.");
    if (!Fill()) return bytes;
  }
}

std::optional<THttpRequest> ReadRequest(RequestReader& reader, bool handlerBound, const std::string& peerAddress,
                                        const std::string& localAddress) {
  const std::optional<RequestLine> line = SplitRequestLine(reader.ReadLine());
  if (!line) throw RequestFailed("Error in parsing command.");
  const std::string method = UpperAscii(line->method);
  if ((method != "GET" && method != "POST" && method != "HEAD") || !handlerBound) return std::nullopt;

  THttpRequest request;
  request.PeerAddress = peerAddress;
  request.LocalAddress = localAddress;
  request.Method = method;
  request.ProtocolVersion = line->protocolVersion;

  for (;;) {
    std::string header = reader.ReadLine();
    const bool last = IsAllControlOrBlank(header);
    if (!last && request.HeaderLines.size() >= reader.Limits().maxHeaderLines) {
      throw RequestFailed("Too many header lines.");
    }
    // A line that arrived in pieces was grown to up to twice its length; keep only its bytes.
    header.shrink_to_fit();
    request.HeaderLines.push_back(std::move(header));
    if (last) break;
  }

  const std::string lengthText = HeaderValue(request.HeaderLines, "Content-Length");
  const std::int32_t length = lengthText.empty() ? -1 : ParseInteger(lengthText).value_or(-1);
  if (length >= 0) {
    if (static_cast<std::size_t>(length) > reader.Limits().maxBodyLength) throw RequestFailed("Body too long.");
    request.QueryText = reader.ReadExactly(static_cast<std::size_t>(length));
  } else if (method == "POST") {
    request.QueryText = reader.ReadToClose();
    request.QueryText.shrink_to_fit();
  }

  const std::size_t question = line->target.find('?');
  const std::string pathPart = line->target.substr(0, question);
  const std::string query = question == std::string::npos ? "" : line->target.substr(question + 1);
  if (!query.empty()) {
    if (!request.QueryText.empty()) request.QueryText.append("\r\n");
    request.QueryText.append(query);
  }
  request.QueryFields = SplitQuery(request.QueryText, reader.Limits().maxQueryFields);

  for (const std::string& header : request.HeaderLines) {
    const std::size_t room = reader.Limits().maxCookies - request.RequestCookies.size();
    if (room == 0) break;
    const std::size_t colon = header.find(':');
    if (colon != std::string::npos && EqualsNoCase(header.substr(0, colon), "Cookie")) {
      std::vector<std::string> one{header};
      for (auto& cookie : ParseCookies(HeaderValue(one, "Cookie"), room)) {
        request.RequestCookies.push_back(std::move(cookie));
      }
    }
  }

  request.HostName = HeaderValue(request.HeaderLines, "Host");
  if (pathPart == "*") {
    request.RequestPath = pathPart;
  } else {
    DerivedPath derived = DeriveRequestPath(pathPart);
    request.RequestPath = std::move(derived.path);
    if (request.HostName.empty() && !derived.host.empty()) request.HostName = std::move(derived.host);
  }

  const std::string authorization = HeaderValue(request.HeaderLines, "Authorization");
  request.HasAuthorization = !authorization.empty();
  if (request.HasAuthorization) {
    const std::size_t blank = authorization.find(' ');
    if (!EqualsNoCase(authorization.substr(0, blank), "Basic")) throw RequestFailed("Unsupported authorization scheme.");
    const std::string credentials =
        DecodeBase64(blank == std::string::npos ? std::string_view() : std::string_view(authorization).substr(blank + 1));
    const std::size_t colon = credentials.find(':');
    request.BasicUser = credentials.substr(0, colon);
    if (colon != std::string::npos) request.BasicPassword = credentials.substr(colon + 1);
  }
  return request;
}

}  // namespace lsv::events
