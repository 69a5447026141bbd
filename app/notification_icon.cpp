#include "app/notification_icon.h"

#include <stdexcept>

namespace ostrivane {

TIconImage ProgramIcon() {
  std::vector<TBitmap32> sizes;
  for (const int size : kProgramIconSizes) sizes.push_back(DrawProgramIcon(size));
  return TIconImage(std::move(sizes));
}

int TImageList::Add(TIconImage image) {
  const bool fits =
      std::any_of(image.Sizes().begin(), image.Sizes().end(),
                  [&](const TBitmap32& b) { return b.Width == width_ && b.Height == height_; });
  if (!fits) throw std::invalid_argument("image does not have the list's size");
  images_.push_back(std::move(image));
  return Count() - 1;
}

// --- menu ------------------------------------------------------------------

std::optional<std::u16string> TMenuItem::GetText(TTextProperty property) const {
  if (property == TTextProperty::Caption) return caption_;
  return std::nullopt;
}

void TMenuItem::SetCaption(std::u16string_view caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  if (menu_ != nullptr && menu_->OnChange) menu_->OnChange(*this);
}

void TMenuItem::SetText(TTextProperty property, std::u16string_view text) {
  if (property == TTextProperty::Caption) SetCaption(text);
}

TMenuItem& TPopupMenu::Add(std::u16string name, std::u16string caption,
                           std::function<void()> onClick) {
  items_.push_back(
      std::make_unique<TMenuItem>(std::move(name), std::move(caption), std::move(onClick)));
  TMenuItem& item = *items_.back();
  item.menu_ = this;
  if (OnChange) OnChange(item);
  return item;
}

TMenuItem& TPopupMenu::Insert(std::size_t index, std::u16string name, std::u16string caption,
                              std::function<void()> onClick) {
  const auto at = items_.begin() + static_cast<std::ptrdiff_t>(std::min(index, items_.size()));
  const auto placed = items_.insert(
      at, std::make_unique<TMenuItem>(std::move(name), std::move(caption), std::move(onClick)));
  TMenuItem& item = **placed;
  item.menu_ = this;
  if (OnChange) OnChange(item);
  return item;
}

void TPopupMenu::Remove(std::u16string_view name) {
  const auto found = std::find_if(items_.begin(), items_.end(),
                                  [name](const auto& item) { return item->Name() == name; });
  if (found == items_.end()) return;
  const std::unique_ptr<TMenuItem> removed = std::move(*found);
  items_.erase(found);
  removed->menu_ = nullptr;
  if (OnChange) OnChange(*removed);
}

TMenuItem* TPopupMenu::Find(std::u16string_view name) const {
  for (const auto& item : items_) {
    if (item->Name() == name) return item.get();
  }
  return nullptr;
}

TMenuItem* TPopupMenu::DefaultItem() const {
  for (const auto& item : items_) {
    if (item->Default) return item.get();
  }
  return nullptr;
}

// --- hints -----------------------------------------------------------------

std::u16string CutText(std::u16string_view text, std::size_t length) {
  if (text.size() <= length) return std::u16string(text);
  if (length == 0) return {};
  const char16_t last = text[length - 1];
  if (last >= 0xD800 && last <= 0xDBFF) --length;  // its trail unit is cut off
  return std::u16string(text.substr(0, length));
}

std::u16string TrayTip(std::u16string_view hint) { return CutText(hint, kMaxHintLength); }

// --- the icon --------------------------------------------------------------

TNotificationIcon::TNotificationIcon(INotificationArea& area) : area_(area) {
  record_.ID = reinterpret_cast<std::uintptr_t>(this);
  record_.CallbackMessage = kTrayCallbackMessage;
  area_.Attach(*this);
}

TNotificationIcon::~TNotificationIcon() {
  SetIconVisible(false);
  area_.Detach(*this);
}

void TNotificationIcon::FillRecord() {
  record_.Icon = icon_.Empty() ? nullptr : &icon_;
  record_.Tip = showHint_ ? TrayTip(hint_) : std::u16string();
  if (area_.UsesGuid() && guid_ == TGUID{}) guid_ = area_.NewGuid();
  record_.Guid = guid_;
  record_.Version = behavior_ == TTrayBehavior::bhWin95 ? 0 : 3;
}

void TNotificationIcon::Send(TNotifyOp op) {
  FillRecord();
  area_.Notify(op, record_);
}

void TNotificationIcon::SetHint(std::u16string_view hint) {
  hint_ = hint;
  Send(TNotifyOp::Modify);
}

void TNotificationIcon::SetShowHint(bool show) {
  showHint_ = show;
  Send(TNotifyOp::Modify);
}

void TNotificationIcon::SetIcon(TIconImage icon) {
  icon_ = std::move(icon);
  Send(TNotifyOp::Modify);
}

void TNotificationIcon::SetIconList(TImageList* list) {
  iconList_ = list;
  SetIconIndex(0);
}

void TNotificationIcon::SetIconIndex(int index) {
  if (iconList_ != nullptr && iconList_->Count() > 0) {
    iconIndex_ = std::clamp(index, 0, iconList_->Count() - 1);
    icon_ = iconList_->Get(iconIndex_);
  } else {
    iconIndex_ = 0;
  }
  Send(TNotifyOp::Modify);
}

void TNotificationIcon::SetIconVisible(bool visible) {
  iconVisible_ = visible;
  Send(visible ? TNotifyOp::Add : TNotifyOp::Delete);
}

void TNotificationIcon::SetGuid(std::u16string_view text) {
  const auto parsed = ParseGuid(text);
  guid_ = parsed ? *parsed : area_.NewGuid();
}

void TNotificationIcon::SetBehavior(TTrayBehavior behavior) {
  behavior_ = behavior;
  Send(TNotifyOp::SetVersion);
}

void TNotificationIcon::Refresh() { Send(TNotifyOp::Modify); }

void TNotificationIcon::ShowBalloonHint(std::u16string_view title, std::u16string_view text,
                                        TBalloonIcon icon) {
  if (!iconVisible_) return;
  FillRecord();
  area_.ShowBalloon(record_, TBalloonHint{CutText(title, kMaxBalloonTitleLength),
                                          CutText(text, kMaxBalloonTextLength), icon});
}

void TNotificationIcon::Loaded() {
  Refresh();
  // Shown again. A shell that has the icon already refuses this add; no
  // state here hangs on its answer (IconVisible says what is wanted, not
  // what the shell has), so "TaskbarCreated" still adds a lost icon.
  SetIconVisible(iconVisible_);
  CycleIcons = false;
  WantEnterExitEvents = false;
  SetBehavior(behavior_);
}

void TNotificationIcon::HandleAreaCreated() {
  if (iconVisible_) Send(TNotifyOp::Add);
}

void TNotificationIcon::PopupAtCursor() {
  const auto at = area_.CursorPos();
  if (!at) return;
  Popup(at->X, at->Y);
}

void TNotificationIcon::Popup(int x, int y) {
  if (popupMenu_ == nullptr) return;
  area_.SetForeground();
  area_.ProcessMessages();
  if (popupMenu_->OnPopup) popupMenu_->OnPopup();
  // The handler may have taken the menu away.
  if (popupMenu_ == nullptr) return;
  const auto chosen = area_.TrackPopupMenu(*popupMenu_, TPoint{x, y});
  area_.WakeMainThread();
  // The menu may have been taken away while it was open.
  if (chosen && popupMenu_ != nullptr && *chosen < popupMenu_->Count()) {
    popupMenu_->Item(*chosen).Click();
  }
}

void TNotificationIcon::HandleIconMessage(TIconMessage message) {
  if (!Enabled) return;
  // The pointer's position is asked for only when a handler wants it.
  const auto button = [this](const std::function<void(TMouseButton, TPoint)>& handler,
                             TMouseButton which) {
    if (handler) handler(which, area_.CursorPos().value_or(TPoint{}));
  };
  switch (message) {
    case TIconMessage::RButtonDown:
      button(OnMouseDown, TMouseButton::Right);
      if (popupMenu_ != nullptr && popupMenu_->AutoPopup) {
        area_.SetForeground();
        PopupAtCursor();
      }
      break;
    case TIconMessage::LButtonDblClk:
      if (OnDblClick) OnDblClick();
      if (popupMenu_ != nullptr && popupMenu_->AutoPopup && !LeftPopup) {
        if (const TMenuItem* item = popupMenu_->DefaultItem()) item->Click();
      }
      break;
    case TIconMessage::LButtonDown:
      button(OnMouseDown, TMouseButton::Left);
      break;
    case TIconMessage::MButtonDown:
      button(OnMouseDown, TMouseButton::Middle);
      break;
    case TIconMessage::LButtonUp:
      if (OnClick) OnClick();
      button(OnMouseUp, TMouseButton::Left);
      break;
    case TIconMessage::RButtonUp:
      button(OnMouseUp, TMouseButton::Right);
      break;
    case TIconMessage::MButtonUp:
      button(OnMouseUp, TMouseButton::Middle);
      break;
    case TIconMessage::MouseMove:
      if (OnMouseMove) OnMouseMove(area_.CursorPos().value_or(TPoint{}));
      break;
    case TIconMessage::BalloonShow:
    case TIconMessage::BalloonHide:
    case TIconMessage::BalloonTimeout:
    case TIconMessage::BalloonUserClick:
      break;  // a balloon's own events have no handlers here
  }
}

std::optional<std::u16string> TNotificationIcon::GetText(TTextProperty property) const {
  if (property == TTextProperty::Hint) return hint_;
  return std::nullopt;
}

void TNotificationIcon::SetText(TTextProperty property, std::u16string_view text) {
  if (property == TTextProperty::Hint) SetHint(text);
}

}  // namespace ostrivane
