#include "events/command_handover.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace lsv::events {

namespace {

// Tokens start somewhere unpredictable, so another program cannot easily name a hand-over that is
// in flight. Guessing one would only let it trigger that very event early, once: the sender's own
// message then finds nothing to take.
CommandHandOver::Token FirstToken() {
  std::random_device device;
  auto seed = static_cast<CommandHandOver::Token>(device());
  seed ^= static_cast<CommandHandOver::Token>(std::chrono::steady_clock::now().time_since_epoch().count());
  return seed | 1;
}

}  // namespace

CommandHandOver::CommandHandOver() : next_(FirstToken()) {}

CommandHandOver::Token CommandHandOver::Park(COMMAND command) {
  std::lock_guard<std::mutex> guard(lock_);
  // Odd steps over an odd start never reach 0, the wParam of a message sent with nothing in it.
  const Token token = next_;
  next_ += 2;
  parked_.emplace_back(token, std::move(command));
  return token;
}

std::optional<COMMAND> CommandHandOver::Take(Token token) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = std::find_if(parked_.begin(), parked_.end(), [token](const auto& p) { return p.first == token; });
  if (found == parked_.end()) return std::nullopt;
  COMMAND command = std::move(found->second);
  parked_.erase(found);
  return command;
}

void CommandHandOver::Discard(Token token) {
  std::lock_guard<std::mutex> guard(lock_);
  std::erase_if(parked_, [token](const auto& p) { return p.first == token; });
}

}  // namespace lsv::events
