#include "app/translation.h"

#include <gtest/gtest.h>

#include "app/test_fakes.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using testutil::FakeComponent;
using Strings = std::vector<std::string>;
using P = TTextProperty;
using K = TEntryKind;

struct CharsetCase {
  const char* name;
  std::u16string text;
  std::optional<int> value;
};

class CharsetNameTest : public testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetNameTest, StandardNamesOnly) {
  EXPECT_EQ(CharsetFromName(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Names, CharsetNameTest,
                         testing::Values(CharsetCase{"Ansi", u"ANSI_CHARSET", 0},
                                         CharsetCase{"Default", u"DEFAULT_CHARSET", 1},
                                         CharsetCase{"Mac", u"MAC_CHARSET", 77},
                                         CharsetCase{"EastEurope", u"EASTEUROPE_CHARSET", 238},
                                         CharsetCase{"Oem", u"OEM_CHARSET", 255},
                                         CharsetCase{"Empty", u"", std::nullopt},
                                         CharsetCase{"LowerCase", u"default_charset", std::nullopt},
                                         CharsetCase{"Number", u"1", std::nullopt}),
                         testutil::CaseName());

// A window with one component of each sort, every set recorded by name and
// property number.
class Window final : public ITranslationWindow {
 public:
  explicit Window(Strings& sets)
      : self("Form", sets, {{P::Caption, u"Form"}, {P::Hint, u"form hint"}, {P::FontName, u"F1"}}),
        label("Label", sets,
              {{P::Caption, u"L1"}, {P::Hint, u"label hint"}, {P::DisplayLabel, u"D1"}}),
        edit("Edit", sets, {{P::Caption, u"E1"}, {P::FontName, u"EF1"}}),
        memo("Memo", sets, {{P::Lines, u"M1"}}),
        list("List", sets, {{P::Strings, u"S1"}, {P::Collection, u"C1"}}) {
    self.charset = 1;
    edit.charset = 1;
  }
  [[nodiscard]] std::u16string_view ClassName() const override { return u"TForm1"; }
  [[nodiscard]] std::u16string_view Name() const override { return u"Form1"; }
  ITranslatable& Self() override { return self; }
  ITranslatable* FindComponent(std::u16string_view name) override {
    if (name == u"Label") return &label;
    if (name == u"Edit") return &edit;
    if (name == u"Memo") return &memo;
    if (name == u"List") return &list;
    return nullptr;
  }
  FakeComponent self, label, edit, memo, list;
};

// Entries listed against the order they are applied in.
std::vector<TTranslationEntry> AllKinds() {
  return {
      {K::Collection, u"List.Items", {u"C1", u"C2"}},
      {K::OtherString, u"List.Strings", {u"S1", u"S2"}},
      {K::MultiLine, u"Memo.Lines", {u"M1", u"M2"}},
      {K::Charset, u"Edit", {u"", u"RUSSIAN_CHARSET"}},
      {K::Font, u"Edit", {u"EF1", u"EF2"}},
      {K::Charset, u"TForm1", {u"DEFAULT_CHARSET", u"GREEK_CHARSET"}},
      {K::Font, u"TForm1", {u"F1", u"F2"}},
      {K::DisplayLabel, u"Label", {u"D1", u"D2"}},
      {K::Hint, u"Label", {u"label hint", u"label hint 2"}},
      {K::Caption, u"Edit", {u"E1", u"E2"}},
      {K::Caption, u"Label", {u"L1", u"L2"}},
      {K::Hint, u"Form1", {u"form hint", u"form hint 2"}},
      {K::Caption, u"TForm1", {u"Form", u"Form 2"}},
  };
}

TEST(TranslationTable, AppliesKindsInTheirOrder) {
  Strings sets;
  Window window(sets);
  TTranslationTable table(window, {u"German", u"English"}, AllKinds());
  table.SetActiveLanguage(2);
  const auto n = [](P p) { return std::to_string(static_cast<int>(p)); };
  EXPECT_EQ(sets, (Strings{"Form." + n(P::Caption), "Form." + n(P::Hint), "Edit." + n(P::Caption),
                           "Label." + n(P::Caption), "Label." + n(P::Hint),
                           "Label." + n(P::DisplayLabel), "Edit.charset", "Edit." + n(P::FontName),
                           "Form.charset", "Form." + n(P::FontName), "Memo." + n(P::Lines),
                           "List." + n(P::Strings), "List." + n(P::Collection)}));
  EXPECT_EQ(window.edit.charset, 204);
  EXPECT_EQ(window.self.charset, 161);
  EXPECT_EQ(window.memo.texts[P::Lines], u"M2");
  EXPECT_EQ(table.ActiveLanguage(), 2);
  EXPECT_EQ(table.Language(), u"English");

  // Back to the design language: every text returns, the unnamed charset
  // of Edit stays.
  sets.clear();
  table.SetActiveLanguage(1);
  EXPECT_EQ(window.label.texts[P::Caption], u"L1");
  EXPECT_EQ(window.self.texts[P::FontName], u"F1");
  EXPECT_EQ(window.self.charset, 1);
  EXPECT_EQ(window.edit.charset, 204);
  EXPECT_EQ(sets.size(), 12U);
}

TEST(TranslationTable, EqualEmptyUnknownAndParentFontSetNothing) {
  Strings sets;
  Window window(sets);
  window.edit.parentFont = true;
  TTranslationTable table(window, {u"German", u"English"},
                          {
                              {K::Caption, u"Label", {u"L1", u"L1"}},        // equal
                              {K::Caption, u"Edit", {u"E1", u""}},           // empty
                              {K::Caption, u"Missing", {u"x", u"y"}},        // no such component
                              {K::Caption, u"Memo", {u"x", u"y"}},           // no such property
                              {K::Font, u"Edit", {u"EF1", u"EF2"}},          // parent font
                              {K::Charset, u"Edit", {u"", u"OEM_CHARSET"}},  // parent font
                              {K::MultiLine, u"Memo", {u"M1", u"M2"}},       // names no property
                              {K::MultiLine, u"Memo.Text", {u"M1", u"M2"}},  // not a list
                              {K::Charset, u"TForm1", {u"", u"NO_CHARSET"}},
                              {K::Caption, u"Label", {u"L1"}},  // no text for language 2
                          });
  table.SetActiveLanguage(2);
  EXPECT_TRUE(sets.empty()) << sets.front();
  EXPECT_EQ(window.self.charset, 1);
}

TEST(TranslationTable, SameOrOutOfRangeLanguageDoesNothing) {
  Strings sets;
  Window window(sets);
  TTranslationTable table(window, {u"German", u"English"}, AllKinds());
  for (const int n : {1, 0, 3, -1}) table.SetActiveLanguage(n);
  EXPECT_TRUE(sets.empty());
  EXPECT_EQ(table.ActiveLanguage(), 1);
  EXPECT_EQ(table.Language(), u"German");
}

TEST(LanguageDispatcher, SwitchesLinkedTablesInLinkOrder) {
  Strings sets;
  Window first(sets);
  Window second(sets);
  TLanguageDispatcher dispatcher({u"German", u"English"});
  EXPECT_EQ(dispatcher.ActiveLanguage(), 1);
  EXPECT_EQ(dispatcher.Language(), u"German");
  EXPECT_EQ(dispatcher.NumOfLanguages(), 2);
  TTranslationTable b(second, {u"German", u"English"}, {{K::Caption, u"Label", {u"L1", u"B"}}});
  TTranslationTable a(first, {u"German", u"English"}, {{K::Caption, u"Edit", {u"E1", u"A"}}});
  b.SetLangDispatcher(&dispatcher);
  a.SetLangDispatcher(&dispatcher);
  EXPECT_EQ(b.LangDispatcher(), &dispatcher);
  dispatcher.SetActiveLanguage(2);
  EXPECT_EQ(sets, (Strings{"Label.0", "Edit.0"}));
  EXPECT_EQ(dispatcher.Language(), u"English");
  EXPECT_EQ(a.ActiveLanguage(), 2);

  dispatcher.SetActiveLanguage(2);
  dispatcher.SetActiveLanguage(7);
  EXPECT_EQ(sets.size(), 2U);

  // An unlinked table is no longer switched.
  b.SetLangDispatcher(nullptr);
  dispatcher.SetActiveLanguage(1);
  EXPECT_EQ(a.ActiveLanguage(), 1);
  EXPECT_EQ(b.ActiveLanguage(), 2);
}

}  // namespace
}  // namespace ostrivane
