// The tray icon: a non-visual component of the main window that keeps the
// program's icon in the desktop's notification area, with a hint and a
// context menu. The platform's notification area sits behind
// INotificationArea; what the icon does with it is here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/translation.h"
#include "app/tray_image.h"
#include "support/guid.h"

namespace ostrivane {

// An icon: one picture in the sizes it was drawn in. The 16 × 16 one is the
// picture's nominal size; larger desktops take a larger one.
class TIconImage {
 public:
  TIconImage() = default;
  explicit TIconImage(std::vector<TBitmap32> sizes) : sizes_(std::move(sizes)) {}
  [[nodiscard]] bool Empty() const noexcept { return sizes_.empty(); }
  [[nodiscard]] const std::vector<TBitmap32>& Sizes() const noexcept { return sizes_; }
  friend bool operator==(const TIconImage& a, const TIconImage& b) {
    return a.sizes_.size() == b.sizes_.size() &&
           std::equal(a.sizes_.begin(), a.sizes_.end(), b.sizes_.begin(),
                      [](const TBitmap32& x, const TBitmap32& y) {
                        return x.Width == y.Width && x.Height == y.Height && x.Pixels == y.Pixels;
                      });
  }

 private:
  std::vector<TBitmap32> sizes_;
};

// The program's main icon in every size of kProgramIconSizes.
TIconImage ProgramIcon();

// A list of images of one nominal size.
class TImageList {
 public:
  TImageList(int width, int height) : width_(width), height_(height) {}
  [[nodiscard]] int Width() const noexcept { return width_; }
  [[nodiscard]] int Height() const noexcept { return height_; }
  [[nodiscard]] int Count() const noexcept { return static_cast<int>(images_.size()); }
  [[nodiscard]] const TIconImage& Get(int index) const {
    return images_.at(static_cast<std::size_t>(index));
  }
  // Adds an image that has the list's nominal size; answers its index.
  int Add(TIconImage image);

 private:
  int width_;
  int height_;
  std::vector<TIconImage> images_;
};

class TPopupMenu;

class TMenuItem final : public ITranslatable {
 public:
  TMenuItem(std::u16string name, std::u16string caption, std::function<void()> onClick)
      : OnClick(std::move(onClick)), name_(std::move(name)), caption_(std::move(caption)) {}

  [[nodiscard]] const std::u16string& Name() const noexcept { return name_; }
  [[nodiscard]] const std::u16string& Caption() const noexcept { return caption_; }
  // A new caption raises the menu's OnChange.
  void SetCaption(std::u16string_view caption);
  // Runs the entry's handler, if it has one.
  void Click() const {
    if (OnClick) OnClick();
  }

  bool Default = false;
  std::function<void()> OnClick;

  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty property) const override;
  void SetText(TTextProperty property, std::u16string_view text) override;

 private:
  friend class TPopupMenu;
  TPopupMenu* menu_ = nullptr;
  std::u16string name_;
  std::u16string caption_;
};

class TPopupMenu {
 public:
  TPopupMenu() = default;
  // Its entries know it: it stays where it was made.
  TPopupMenu(const TPopupMenu&) = delete;
  TPopupMenu& operator=(const TPopupMenu&) = delete;

  TMenuItem& Add(std::u16string name, std::u16string caption, std::function<void()> onClick);
  // Puts a new entry at `index` (at the end when past it).
  TMenuItem& Insert(std::size_t index, std::u16string name, std::u16string caption,
                    std::function<void()> onClick);
  // Takes the entry of that name away; nothing when there is none.
  void Remove(std::u16string_view name);
  [[nodiscard]] std::size_t Count() const noexcept { return items_.size(); }
  [[nodiscard]] TMenuItem& Item(std::size_t index) const { return *items_.at(index); }
  [[nodiscard]] TMenuItem* Find(std::u16string_view name) const;
  // The lowest-numbered entry marked as default, or null.
  [[nodiscard]] TMenuItem* DefaultItem() const;

  bool AutoPopup = true;
  // Raised with the entry after an entry was added, inserted or removed, or
  // its caption changed. For a removed entry it is raised while the entry
  // still exists, no longer in the menu.
  std::function<void(TMenuItem&)> OnChange;
  // Raised when the icon opens the menu, just before it is shown: the
  // handler may still change the entries.
  std::function<void()> OnPopup;

 private:
  std::vector<std::unique_ptr<TMenuItem>> items_;
};

// The mouse messages the notification area reports for an icon, by the
// numbers the Windows shell uses.
enum class TIconMessage : std::uint32_t {
  MouseMove = 0x200,
  LButtonDown = 0x201,
  LButtonUp = 0x202,
  LButtonDblClk = 0x203,
  RButtonDown = 0x204,
  RButtonUp = 0x205,
  MButtonDown = 0x207,
  MButtonUp = 0x208,
  BalloonShow = 0x402,
  BalloonHide = 0x403,
  BalloonTimeout = 0x404,
  BalloonUserClick = 0x405,
};

enum class TMouseButton : std::uint8_t { Left, Right, Middle };

struct TPoint {
  int X = 0;
  int Y = 0;
  friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
};

// Longest hint the notification area shows, in UTF-16 units.
inline constexpr std::size_t kMaxHintLength = 127;
// Longest balloon title and text the notification area shows, in UTF-16
// units.
inline constexpr std::size_t kMaxBalloonTitleLength = 63;
inline constexpr std::size_t kMaxBalloonTextLength = 255;

// The picture beside a balloon's title.
enum class TBalloonIcon : std::uint8_t { None, Info, Warning, Error };

// A notification shown for a while beside the icon. The area shows it
// quietly, or not at all, while the user does not want to be disturbed.
struct TBalloonHint {
  std::u16string Title;  // at most kMaxBalloonTitleLength units
  std::u16string Text;   // at most kMaxBalloonTextLength units
  TBalloonIcon Icon = TBalloonIcon::None;
};

// What the notification area is told about the icon.
struct TNotifyIconRecord {
  std::uintptr_t ID = 0;              // the icon object's own identity
  const TIconImage* Icon = nullptr;   // null when there is no image
  std::u16string Tip;                 // at most kMaxHintLength units
  TGUID Guid;                         // the icon's identity where the area asks for one
  std::uint32_t Version = 0;          // notification protocol version
  std::uint32_t CallbackMessage = 0;  // the message the area reports mouse actions with
};

enum class TNotifyOp : std::uint8_t { Add, Modify, Delete, SetVersion };

class TNotificationIcon;

// The platform's notification area and the few window services the menu
// needs. Results of Notify are not looked at.
class INotificationArea {
 public:
  virtual ~INotificationArea() = default;
  // The icon object came into being (called by its constructor): the area
  // counts it in, and from now on hands it the mouse actions on its icon
  // and the news that the area was created anew.
  virtual void Attach(TNotificationIcon& icon) = 0;
  // The object is going, its icon already removed: the area lets go of it.
  virtual void Detach(TNotificationIcon& icon) noexcept = 0;
  virtual bool Notify(TNotifyOp op, const TNotifyIconRecord& record) = 0;
  // Whether icons are known to the area by GUID.
  [[nodiscard]] virtual bool UsesGuid() const = 0;
  // A new GUID, made the platform's way, for an icon that needs one.
  virtual TGUID NewGuid() = 0;
  virtual std::optional<TPoint> CursorPos() = 0;
  // Makes the program's menu window the foreground one, so that the menu
  // closes when the user clicks elsewhere.
  virtual void SetForeground() = 0;
  // Runs what is waiting in the main thread's queue.
  virtual void ProcessMessages() = 0;
  // Shows the menu with its left edge at `at` and waits until it closes;
  // answers the chosen entry's index for the caller to run, or nullopt:
  // nothing was chosen, or the platform runs the chosen entry itself.
  virtual std::optional<std::size_t> TrackPopupMenu(const TPopupMenu& menu, TPoint at) = 0;
  // Wakes the main thread's message loop after the menu closed.
  virtual void WakeMainThread() = 0;
  // Shows `balloon` beside the icon of `record`, which the area has.
  virtual bool ShowBalloon(const TNotifyIconRecord& record, const TBalloonHint& balloon) = 0;
};

enum class TTrayBehavior : std::uint8_t { bhWin95, bhWin2000 };

inline constexpr std::uint32_t kTrayCallbackMessage = 0x800;

class TNotificationIcon final : public ITranslatable {
 public:
  explicit TNotificationIcon(INotificationArea& area);
  ~TNotificationIcon() override;
  TNotificationIcon(const TNotificationIcon&) = delete;
  TNotificationIcon& operator=(const TNotificationIcon&) = delete;

  [[nodiscard]] const std::u16string& Hint() const noexcept { return hint_; }
  void SetHint(std::u16string_view hint);
  [[nodiscard]] bool ShowHint() const noexcept { return showHint_; }
  void SetShowHint(bool show);
  [[nodiscard]] const TIconImage& Icon() const noexcept { return icon_; }
  void SetIcon(TIconImage icon);
  [[nodiscard]] TImageList* IconList() const noexcept { return iconList_; }
  void SetIconList(TImageList* list);
  [[nodiscard]] int IconIndex() const noexcept { return iconIndex_; }
  void SetIconIndex(int index);
  [[nodiscard]] bool IconVisible() const noexcept { return iconVisible_; }
  void SetIconVisible(bool visible);
  [[nodiscard]] TPopupMenu* PopupMenu() const noexcept { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu) noexcept { popupMenu_ = menu; }
  [[nodiscard]] const TGUID& Guid() const noexcept { return guid_; }
  // Stores the GUID written in braces; any other text makes a new GUID.
  void SetGuid(std::u16string_view text);
  [[nodiscard]] TTrayBehavior Behavior() const noexcept { return behavior_; }
  void SetBehavior(TTrayBehavior behavior);

  bool Enabled = true;
  bool LeftPopup = false;
  bool CycleIcons = false;
  std::uint32_t CycleInterval = 0;
  bool WantEnterExitEvents = false;
  bool MinimizeToTray = false;

  // Events; none is raised without a handler.
  std::function<void(TMouseButton, TPoint)> OnMouseDown;
  std::function<void(TMouseButton, TPoint)> OnMouseUp;
  std::function<void(TPoint)> OnMouseMove;
  std::function<void()> OnClick;
  std::function<void()> OnDblClick;

  // Sends the icon afresh to the area.
  void Refresh();
  // Shows a balloon beside the visible icon, title and text cut to what the
  // area shows; nothing while the icon is not visible.
  void ShowBalloonHint(std::u16string_view title, std::u16string_view text, TBalloonIcon icon);
  // Opens the menu where the mouse pointer is; nothing when that is unknown.
  void PopupAtCursor();
  // Opens the menu at the screen point; nothing without a menu.
  void Popup(int x, int y);
  // A mouse action the area reports for the icon.
  void HandleIconMessage(TIconMessage message);
  // The area was created anew (the desktop's shell restarted): a visible
  // icon is added again.
  void HandleAreaCreated();
  // The design has finished loading.
  void Loaded();

  [[nodiscard]] const TNotifyIconRecord& Record() const noexcept { return record_; }

  // ITranslatable: the hint.
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty property) const override;
  void SetText(TTextProperty property, std::u16string_view text) override;

 private:
  void Send(TNotifyOp op);
  void FillRecord();

  INotificationArea& area_;
  TNotifyIconRecord record_;
  std::u16string hint_;
  bool showHint_ = true;
  TIconImage icon_;
  TImageList* iconList_ = nullptr;
  int iconIndex_ = 0;
  bool iconVisible_ = false;
  TPopupMenu* popupMenu_ = nullptr;
  TGUID guid_;
  TTrayBehavior behavior_ = TTrayBehavior::bhWin95;
};

// The hint as the area shows it: its first kMaxHintLength units, without a
// lead surrogate cut off from its pair.
std::u16string TrayTip(std::u16string_view hint);
// The first `length` units of `text` at most, without a lead surrogate cut
// off from its pair.
std::u16string CutText(std::u16string_view text, std::size_t length);

}  // namespace ostrivane
