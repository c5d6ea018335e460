#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace lsv::events {

// One parsed request, as the handler sees it.
struct THttpRequest {
  std::string PeerAddress;
  std::string HostName;
  std::string RequestPath;
  std::string Method;
  std::string ProtocolVersion;
  std::string BasicUser;
  std::string BasicPassword;
  std::string QueryText;
  bool HasAuthorization = false;
  std::vector<std::string> HeaderLines;
  std::vector<std::string> QueryFields;
  std::vector<std::pair<std::string, std::string>> RequestCookies;
  // The address the client connected to: tells a local client from a remote one.
  std::string LocalAddress;
};

// The response the listener writes once the handler has returned.
class THttpResponse {
 public:
  using Writer = std::function<void(const std::string& bytes)>;

  THttpResponse(std::string serverToken, Writer writer)
      : ServerToken(std::move(serverToken)), writer_(std::move(writer)) {}

  std::string ServerToken;
  std::string ReasonPhrase = "OK";
  std::string MediaType = "text/html";
  bool HeaderSent = false;
  std::int32_t StatusCode = 200;
  std::int32_t BodyLength = -1;
  std::vector<std::string> ExtraHeaders;
  std::string BodyText;

  void SetStatus(std::int32_t code);
  // The status line and the header block, sent as one write. A second call fails.
  void WriteHeader();
  void WriteBody();

 private:
  void SetHeader(const std::string& name, const std::string& value);

  Writer writer_;
};

// The reason phrase for a status code ("Unknown Response Code" for codes without one).
const char* ReasonPhraseFor(std::int32_t code);

}  // namespace lsv::events
