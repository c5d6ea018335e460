#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lsv::events {

// A page event on its way to the window thread.
struct COMMAND {
  std::string name;
  std::string type;
  std::string arg1;
  std::string arg2;
};

// The hand-over of page events from the listener's connection threads to the window thread.
//
// The command travels as window message 1025, and any program on the desktop can send the strip a
// 1025 with any wParam. So wParam is never a pointer: the sending thread parks a copy of its
// command here under a fresh token and sends the token; the window thread takes the command out
// by its token. An unknown token, or one already taken, names nothing and is ignored, and the
// window thread never reads memory that belongs to another thread.
//
// Shared by the strip and the threads that send (std::shared_ptr), so a thread that is still
// handing over when the strip goes holds a valid object.
class CommandHandOver {
 public:
  using Token = std::uintptr_t;

  CommandHandOver();

  // Called by the sending thread before the message goes out.
  Token Park(COMMAND command);
  // Called on the window thread for a 1025: the parked command, once; nullopt for anything else.
  std::optional<COMMAND> Take(Token token);
  // Called by the sending thread once the message has been handled or could not be sent: a
  // command nobody took is dropped.
  void Discard(Token token);

 private:
  std::mutex lock_;
  Token next_;
  std::vector<std::pair<Token, COMMAND>> parked_;
};

}  // namespace lsv::events
