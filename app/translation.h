// The two-language text table of a window and the dispatcher that switches
// it. The window carries its language-1 texts as designed; switching sets
// only what differs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivane {

// The text properties a table can set.
enum class TTextProperty : std::uint8_t {
  Caption,
  Hint,
  DisplayLabel,
  FontName,
  Lines,  // a multi-line list property, as one text with line breaks
  Strings,
  Collection,
};

// A window or component whose texts a table can set. A property the
// component lacks reads as nullopt and is never set.
class ITranslatable {
 public:
  virtual ~ITranslatable() = default;
  [[nodiscard]] virtual std::optional<std::u16string> GetText(TTextProperty property) const = 0;
  virtual void SetText(TTextProperty property, std::u16string_view text) = 0;
  // The font's character set, for components with a font of their own.
  [[nodiscard]] virtual std::optional<int> FontCharset() const { return std::nullopt; }
  virtual void SetFontCharset(int /*charset*/) {}
  // True when the component takes its font from its parent.
  [[nodiscard]] virtual bool ParentFont() const { return false; }
};

// The window a table belongs to.
class ITranslationWindow {
 public:
  virtual ~ITranslationWindow() = default;
  [[nodiscard]] virtual std::u16string_view ClassName() const = 0;
  [[nodiscard]] virtual std::u16string_view Name() const = 0;
  virtual ITranslatable& Self() = 0;
  // The window's component of that name, or null.
  virtual ITranslatable* FindComponent(std::u16string_view name) = 0;
};

// The kinds of entries, one per property they set.
enum class TEntryKind : std::uint8_t {
  Caption,
  Hint,
  DisplayLabel,
  Font,
  Charset,
  MultiLine,
  OtherString,
  Collection,
};

struct TTranslationEntry {
  TEntryKind Kind;
  std::u16string Key;
  // One text per language, in language order; empty for no text.
  std::vector<std::u16string> Texts;
};

// The value of a standard Windows character-set name ("DEFAULT_CHARSET"),
// nullopt for any other text.
std::optional<int> CharsetFromName(std::u16string_view name);

class TLanguageDispatcher;

class TTranslationTable {
 public:
  TTranslationTable(ITranslationWindow& window, std::vector<std::u16string> langNames,
                    std::vector<TTranslationEntry> entries);
  ~TTranslationTable();
  TTranslationTable(const TTranslationTable&) = delete;
  TTranslationTable& operator=(const TTranslationTable&) = delete;

  [[nodiscard]] int ActiveLanguage() const noexcept { return activeLanguage_; }
  [[nodiscard]] const std::u16string& Language() const noexcept { return language_; }
  [[nodiscard]] int NumOfLanguages() const noexcept { return static_cast<int>(langNames_.size()); }
  [[nodiscard]] const std::vector<std::u16string>& LangNames() const noexcept { return langNames_; }
  [[nodiscard]] const std::vector<TTranslationEntry>& TranslationData() const noexcept {
    return entries_;
  }

  // Links the table to a dispatcher (which then switches it).
  void SetLangDispatcher(TLanguageDispatcher* dispatcher);
  [[nodiscard]] TLanguageDispatcher* LangDispatcher() const noexcept { return dispatcher_; }

  // Switches to language `n` (1-based) and applies its texts to the window.
  // A number out of range, or the active one, does nothing.
  void SetActiveLanguage(int n);

 private:
  friend class TLanguageDispatcher;
  void Apply();
  void ApplyEntry(const TTranslationEntry& entry, TTextProperty property, ITranslatable& target);
  void ApplyFont(const TTranslationEntry& font, ITranslatable& target);
  ITranslatable* Resolve(std::u16string_view key, std::u16string_view* property = nullptr);
  [[nodiscard]] bool IsWindowKey(std::u16string_view key) const;
  [[nodiscard]] std::u16string_view TextFor(const TTranslationEntry& entry) const;

  ITranslationWindow& window_;
  std::vector<std::u16string> langNames_;
  std::vector<TTranslationEntry> entries_;
  TLanguageDispatcher* dispatcher_ = nullptr;
  int activeLanguage_ = 1;
  std::u16string language_;
};

class TLanguageDispatcher {
 public:
  explicit TLanguageDispatcher(std::vector<std::u16string> langNames);
  ~TLanguageDispatcher();
  TLanguageDispatcher(const TLanguageDispatcher&) = delete;
  TLanguageDispatcher& operator=(const TLanguageDispatcher&) = delete;

  [[nodiscard]] int ActiveLanguage() const noexcept { return activeLanguage_; }
  [[nodiscard]] const std::u16string& Language() const noexcept { return language_; }
  [[nodiscard]] int NumOfLanguages() const noexcept { return static_cast<int>(langNames_.size()); }
  [[nodiscard]] const std::vector<std::u16string>& LangNames() const noexcept { return langNames_; }

  // Switches every linked table, in the order they were linked. A number
  // out of range, or the active one, does nothing.
  void SetActiveLanguage(int n);

 private:
  friend class TTranslationTable;
  void Link(TTranslationTable& table);
  void Unlink(TTranslationTable& table);

  std::vector<std::u16string> langNames_;
  std::vector<TTranslationTable*> tables_;
  int activeLanguage_ = 1;
  std::u16string language_;
};

}  // namespace ostrivane
