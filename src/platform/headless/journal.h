#pragma once

#include <string>
#include <vector>

namespace platform::headless {

// What the doubles were asked to do, in order, so tests can check sequences across services.
using Journal = std::vector<std::string>;

}  // namespace platform::headless
