// The page's event requests: from the listener's connection thread to the strip's window thread.

#include "events/page_events.h"

#include <cctype>

#include "app/error_reporting.h"
#include "app/main_form.h"
#include "app/messages.h"
#include "app/number_text.h"

namespace lsv::events {

std::string EventKey(std::string_view requestPath) {
  std::string key;
  for (char c : requestPath) {
    if (c != '/') key += c;
  }
  return key;
}

std::string FieldValue(const std::vector<std::string>& queryFields, std::string_view name) {
  for (const std::string& item : queryFields) {
    const std::size_t equals = item.find('=');
    if (equals == std::string::npos || equals != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < equals && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(item[i])) == std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (same) return item.substr(equals + 1);
  }
  return "";
}

std::int32_t EventArgument(const std::string& text) { return ParseInteger(text).value_or(0); }

bool IsLocalPeer(const std::string& peerAddress, const std::string& localAddress) {
  return peerAddress.rfind("127.", 0) == 0 || (!peerAddress.empty() && peerAddress == localAddress);
}

}  // namespace lsv::events

namespace lsv::app {

void TMainForm::IdHTTPServerCommandGet(events::TConnectionThread& AThread, events::THttpRequest& RequestInfo,
                                       events::THttpResponse& ResponseInfo) {
  ResponseInfo.SetStatus(404);
  AThread.EndAfterRequest();
  // Anyone on the network may reach the listener; only this machine may drive the strip. Others
  // get the same answer as any other request.
  if (!events::IsLocalPeer(RequestInfo.PeerAddress, RequestInfo.LocalAddress)) return;

  const std::string key = events::EventKey(RequestInfo.RequestPath);
  if (RequestInfo.QueryFields.size() != 3) return;
  if (key != events::kEventName) return;

  const COMMAND command{key, events::FieldValue(RequestInfo.QueryFields, "type"),
                        events::FieldValue(RequestInfo.QueryFields, "arg1"),
                        events::FieldValue(RequestInfo.QueryFields, "arg2")};
  // The record lives in this frame, so the hand-over must be synchronous. While it lasts the
  // window thread may be stopping the listener ("close"); the stop need not wait for us then.
  AThread.SetWaitingForOwner(true);
  messenger_->Send(WM_PAGE_EVENT, reinterpret_cast<std::uintptr_t>(&command), 0);
  AThread.SetWaitingForOwner(false);
}

void TMainForm::OnCommand(const COMMAND& command) {
  CatchCException(app_, [&] {
    if (command.name != events::kEventName) return;
    if (command.type == "mousedown") {
      const std::int32_t x = events::EventArgument(command.arg1);
      const std::int32_t y = events::EventArgument(command.arg2);
      BeginDrag(x, y);
    } else if (command.type == "mouseup") {
      EndDrag();
    } else if (command.type == "close") {
      A_Close.Execute();
    } else if (command.type == "refresh") {
      A_Refresh.Execute();
    } else if (command.type == "openmenu") {
      const platform::Point client{events::EventArgument(command.arg1) + CppWebBrowser->Left(),
                                   events::EventArgument(command.arg2) + CppWebBrowser->Top()};
      mousePos = form_->ClientToScreen(client);
      A_OpenMenu.Execute();
    }
  });
}

}  // namespace lsv::app
