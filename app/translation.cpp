#include "app/translation.h"

#include <algorithm>
#include <array>
#include <utility>

namespace ostrivane {
namespace {

struct CharsetName {
  std::u16string_view name;
  int value;
};

constexpr std::array<CharsetName, 19> kCharsets{{
    {u"ANSI_CHARSET", 0},      {u"DEFAULT_CHARSET", 1},    {u"SYMBOL_CHARSET", 2},
    {u"MAC_CHARSET", 77},      {u"SHIFTJIS_CHARSET", 128}, {u"HANGEUL_CHARSET", 129},
    {u"JOHAB_CHARSET", 130},   {u"GB2312_CHARSET", 134},   {u"CHINESEBIG5_CHARSET", 136},
    {u"GREEK_CHARSET", 161},   {u"TURKISH_CHARSET", 162},  {u"VIETNAMESE_CHARSET", 163},
    {u"HEBREW_CHARSET", 177},  {u"ARABIC_CHARSET", 178},   {u"BALTIC_CHARSET", 186},
    {u"RUSSIAN_CHARSET", 204}, {u"THAI_CHARSET", 222},     {u"EASTEUROPE_CHARSET", 238},
    {u"OEM_CHARSET", 255},
}};

}  // namespace

std::optional<int> CharsetFromName(std::u16string_view name) {
  for (const auto& c : kCharsets) {
    if (c.name == name) return c.value;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------

TTranslationTable::TTranslationTable(ITranslationWindow& window,
                                     std::vector<std::u16string> langNames,
                                     std::vector<TTranslationEntry> entries)
    : window_(window), langNames_(std::move(langNames)), entries_(std::move(entries)) {
  if (!langNames_.empty()) language_ = langNames_.front();
}

TTranslationTable::~TTranslationTable() { SetLangDispatcher(nullptr); }

void TTranslationTable::SetLangDispatcher(TLanguageDispatcher* dispatcher) {
  if (dispatcher_ == dispatcher) return;
  if (dispatcher_ != nullptr) dispatcher_->Unlink(*this);
  dispatcher_ = dispatcher;
  if (dispatcher_ != nullptr) dispatcher_->Link(*this);
}

void TTranslationTable::SetActiveLanguage(int n) {
  if (n < 1 || n > NumOfLanguages() || n == activeLanguage_) return;
  activeLanguage_ = n;
  language_ = langNames_[static_cast<std::size_t>(n - 1)];
  Apply();
}

bool TTranslationTable::IsWindowKey(std::u16string_view key) const {
  return key == window_.ClassName() || key == window_.Name();
}

std::u16string_view TTranslationTable::TextFor(const TTranslationEntry& entry) const {
  const auto index = static_cast<std::size_t>(activeLanguage_ - 1);
  return index < entry.Texts.size() ? std::u16string_view(entry.Texts[index])
                                    : std::u16string_view();
}

ITranslatable* TTranslationTable::Resolve(std::u16string_view key, std::u16string_view* property) {
  std::u16string_view component = key;
  if (property != nullptr) {
    // "Memo1.Lines": the component, then the property it names.
    const auto dot = key.find(u'.');
    if (dot == std::u16string_view::npos) return nullptr;
    component = key.substr(0, dot);
    *property = key.substr(dot + 1);
  }
  if (IsWindowKey(component)) return &window_.Self();
  return window_.FindComponent(component);
}

void TTranslationTable::ApplyEntry(const TTranslationEntry& entry, TTextProperty property,
                                   ITranslatable& target) {
  const std::u16string_view text = TextFor(entry);
  if (text.empty()) return;
  const auto current = target.GetText(property);
  if (!current || *current == text) return;
  target.SetText(property, text);
}

void TTranslationTable::ApplyFont(const TTranslationEntry& font, ITranslatable& target) {
  if (target.ParentFont()) return;
  const auto charsetEntry = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) {
    return e.Kind == TEntryKind::Charset && e.Key == font.Key;
  });
  if (charsetEntry != entries_.end()) {
    const auto charset = CharsetFromName(TextFor(*charsetEntry));
    const auto current = target.FontCharset();
    if (charset && current && *current != *charset) target.SetFontCharset(*charset);
  }
  ApplyEntry(font, TTextProperty::FontName, target);
}

void TTranslationTable::Apply() {
  const auto forEach = [this](TEntryKind kind, bool windowEntries, auto&& action) {
    for (const auto& entry : entries_) {
      if (entry.Kind != kind || IsWindowKey(entry.Key) != windowEntries) continue;
      if (ITranslatable* target = Resolve(entry.Key)) action(entry, *target);
    }
  };
  const auto setting = [this](TTextProperty property) {
    return [this, property](const TTranslationEntry& e, ITranslatable& t) {
      ApplyEntry(e, property, t);
    };
  };
  const auto fonts = [this](const TTranslationEntry& e, ITranslatable& t) { ApplyFont(e, t); };

  forEach(TEntryKind::Caption, true, setting(TTextProperty::Caption));
  forEach(TEntryKind::Hint, true, setting(TTextProperty::Hint));
  forEach(TEntryKind::Caption, false, setting(TTextProperty::Caption));
  forEach(TEntryKind::Hint, false, setting(TTextProperty::Hint));
  for (const bool window : {false, true}) {
    forEach(TEntryKind::DisplayLabel, window, setting(TTextProperty::DisplayLabel));
  }
  forEach(TEntryKind::Font, false, fonts);
  forEach(TEntryKind::Font, true, fonts);
  // The list-valued kinds name their property after the component.
  for (const auto& [kind, property] :
       {std::pair{TEntryKind::MultiLine, TTextProperty::Lines},
        std::pair{TEntryKind::OtherString, TTextProperty::Strings},
        std::pair{TEntryKind::Collection, TTextProperty::Collection}}) {
    for (const auto& entry : entries_) {
      if (entry.Kind != kind) continue;
      std::u16string_view name;
      ITranslatable* target = Resolve(entry.Key, &name);
      if (target == nullptr) continue;
      if (kind == TEntryKind::MultiLine && name != u"Lines") continue;
      ApplyEntry(entry, property, *target);
    }
  }
}

// ---------------------------------------------------------------------------

TLanguageDispatcher::TLanguageDispatcher(std::vector<std::u16string> langNames)
    : langNames_(std::move(langNames)) {
  if (!langNames_.empty()) language_ = langNames_.front();
}

TLanguageDispatcher::~TLanguageDispatcher() {
  for (TTranslationTable* table : tables_) table->dispatcher_ = nullptr;
}

void TLanguageDispatcher::Link(TTranslationTable& table) { tables_.push_back(&table); }

void TLanguageDispatcher::Unlink(TTranslationTable& table) { std::erase(tables_, &table); }

void TLanguageDispatcher::SetActiveLanguage(int n) {
  if (n < 1 || n > NumOfLanguages() || n == activeLanguage_) return;
  activeLanguage_ = n;
  // A table may unlink itself while it applies; walk a copy.
  const std::vector<TTranslationTable*> tables = tables_;
  for (TTranslationTable* table : tables) table->SetActiveLanguage(n);
  language_ = langNames_[static_cast<std::size_t>(n - 1)];
}

}  // namespace ostrivane
