#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/form.h"
#include "platform/types.h"

namespace lsv::app {

// A command with a caption; whoever triggers it (menu, timer, page event, dialog) goes through
// Execute, so there is one place where it runs.
class TAction {
 public:
  TAction(std::string caption, std::function<void()> onExecute)
      : caption_(std::move(caption)), onExecute_(std::move(onExecute)) {}

  const std::string& Caption() const { return caption_; }
  void Execute() const {
    if (onExecute_) onExecute_();
  }

 private:
  std::string caption_;
  std::function<void()> onExecute_;
};

// Holds the strip's actions; it owns nothing beyond the list.
class TActionManager {
 public:
  void Add(TAction& action) { actions_.push_back(&action); }
  const std::vector<TAction*>& Actions() const { return actions_; }

 private:
  std::vector<TAction*> actions_;
};

// A menu entry takes caption and behaviour from its action; one without an action is a separator.
class TMenuItem {
 public:
  static constexpr const char* kSeparator = "-";

  explicit TMenuItem(TAction* action = nullptr) : action_(action) {}

  std::string Caption() const { return action_ != nullptr ? action_->Caption() : kSeparator; }
  TAction* Action() const { return action_; }

 private:
  TAction* action_;
};

// Opens only when asked (never by itself on a right click); modal, and the chosen item's action
// runs before Popup returns.
class TPopupMenu {
 public:
  explicit TPopupMenu(platform::IForm& owner) : owner_(owner) {}

  void SetItems(std::vector<TMenuItem*> items) { items_ = std::move(items); }
  const std::vector<TMenuItem*>& Items() const { return items_; }

  void Popup(int x, int y) {
    std::vector<platform::MenuItem> entries;
    entries.reserve(items_.size());
    for (const TMenuItem* item : items_) entries.push_back({item->Caption()});
    const int chosen = owner_.PopupMenu(platform::Point{x, y}, entries);
    if (chosen >= 0 && static_cast<std::size_t>(chosen) < items_.size()) {
      if (TAction* action = items_[static_cast<std::size_t>(chosen)]->Action()) action->Execute();
    }
  }

 private:
  platform::IForm& owner_;
  std::vector<TMenuItem*> items_;
};

}  // namespace lsv::app
