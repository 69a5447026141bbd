#include "app/notification_icon.h"

#include <gtest/gtest.h>

#include "app/test_fakes.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using testutil::FakeNotificationArea;
using Strings = std::vector<std::string>;

// --- hint texts --------------------------------------------------------------

struct TipCase {
  const char* name;
  std::u16string hint;
  std::u16string tip;
};

class TrayTipTest : public testing::TestWithParam<TipCase> {};

TEST_P(TrayTipTest, CutsToTheAreasLength) { EXPECT_EQ(TrayTip(GetParam().hint), GetParam().tip); }

INSTANTIATE_TEST_SUITE_P(
    Hints, TrayTipTest,
    testing::Values(TipCase{"empty", u"", u""},
                    TipCase{"short", u"Lyravox Remote Server", u"Lyravox Remote Server"},
                    TipCase{"exactly127", std::u16string(127, u'a'), std::u16string(127, u'a')},
                    TipCase{"128", std::u16string(127, u'a') + u"b", std::u16string(127, u'a')},
                    TipCase{"300", std::u16string(300, u'x'), std::u16string(127, u'x')},
                    // A pair whose lead unit would be the 127th goes whole.
                    TipCase{"pairAcrossTheCut", std::u16string(126, u'a') + u"\U0001F600",
                            std::u16string(126, u'a')},
                    TipCase{"pairBeforeTheCut", std::u16string(125, u'a') + u"\U0001F600z",
                            std::u16string(125, u'a') + u"\U0001F600"}),
    testutil::CaseName());

// --- the icon's properties --------------------------------------------------

class NotificationIconTest : public testing::Test {
 protected:
  static TIconImage Picture(int size, std::uint32_t color) {
    return TIconImage({TBitmap32{
        size, size, std::vector<std::uint32_t>(static_cast<std::size_t>(size * size), color)}});
  }
  [[nodiscard]] Strings Ops() const {
    Strings ops;
    for (const auto& c : area.calls) ops.push_back(FakeNotificationArea::OpName(c.op));
    return ops;
  }

  FakeNotificationArea area;
};

TEST_F(NotificationIconTest, PropertiesSendWhatTheAreaNeeds) {
  TNotificationIcon icon(area);
  icon.SetHint(u"hint");
  icon.SetIconVisible(true);
  icon.SetBehavior(TTrayBehavior::bhWin95);
  icon.SetShowHint(false);
  icon.Refresh();
  icon.SetIconVisible(false);
  EXPECT_EQ(Ops(), (Strings{"modify", "add", "version", "modify", "modify", "delete"}));
  EXPECT_EQ(area.calls[1].tip, u"hint");
  EXPECT_FALSE(area.calls[1].hasIcon) << "no image yet";
  EXPECT_EQ(area.calls[3].tip, u"") << "hint hidden";
  EXPECT_EQ(icon.Record().Version, 0U);
  EXPECT_EQ(icon.Record().CallbackMessage, 0x800U);
  EXPECT_EQ(icon.Record().ID, reinterpret_cast<std::uintptr_t>(&icon));
}

TEST_F(NotificationIconTest, IndexIsClampedToTheListAndCopiesItsImage) {
  TImageList list(16, 16);
  list.Add(Picture(16, 0xFF000001));
  list.Add(Picture(16, 0xFF000002));
  TNotificationIcon icon(area);
  icon.SetIconIndex(3);
  EXPECT_EQ(icon.IconIndex(), 0) << "no list";
  icon.SetIconList(&list);
  EXPECT_EQ(icon.Icon(), list.Get(0));
  icon.SetIconIndex(5);
  EXPECT_EQ(icon.IconIndex(), 1);
  EXPECT_EQ(icon.Icon(), list.Get(1));
  icon.SetIconIndex(-2);
  EXPECT_EQ(icon.IconIndex(), 0);
  icon.SetIconIndex(1);
  icon.SetIconList(&list);
  EXPECT_EQ(icon.IconIndex(), 0) << "linking a list resets the index";
  EXPECT_EQ(Ops(), Strings(6, "modify"));
  EXPECT_THROW(list.Add(Picture(32, 0xFF000003)), std::invalid_argument);
}

TEST_F(NotificationIconTest, GuidFromTextOrNewWhereTheAreaNeedsOne) {
  TNotificationIcon icon(area);
  icon.SetGuid(u"{2547D847-3F7E-44CD-B27C-EFE9602A2672}");
  EXPECT_EQ(icon.Guid().D1, 0x2547D847U);
  EXPECT_TRUE(area.calls.empty()) << "setting the GUID sends nothing";
  icon.SetGuid(u"not a guid");
  EXPECT_EQ(icon.Guid().D1, 1U) << "the area's new GUID";
  EXPECT_EQ(area.guidsMade, 1U);

  FakeNotificationArea guidArea;
  guidArea.usesGuid = true;
  TNotificationIcon unnamed(guidArea);
  unnamed.SetIconVisible(true);
  EXPECT_FALSE(unnamed.Guid() == TGUID{}) << "a GUID is made when the record is filled";
  EXPECT_TRUE(guidArea.calls[0].guid == unnamed.Guid());
  unnamed.Refresh();
  EXPECT_EQ(guidArea.guidsMade, 1U) << "and kept";
  EXPECT_TRUE(guidArea.calls[1].guid == unnamed.Guid());
}

TEST_F(NotificationIconTest, TheAreaKnowsTheObjectFromCreationToDestruction) {
  {
    TNotificationIcon icon(area);
    EXPECT_EQ(area.attached, &icon);
    icon.SetIconVisible(true);
  }
  EXPECT_EQ(area.attached, nullptr);
  // The area lets go only after the icon was removed.
  EXPECT_EQ(area.log, (Strings{"attach", "add", "delete", "detach"}));
}

TEST_F(NotificationIconTest, DestructionRemovesTheIconAndAreaRestartReAddsIt) {
  {
    TNotificationIcon icon(area);
    icon.HandleAreaCreated();
    EXPECT_TRUE(area.calls.empty()) << "not visible: nothing to re-add";
    icon.SetIconVisible(true);
    icon.HandleAreaCreated();
  }
  EXPECT_EQ(Ops(), (Strings{"add", "add", "delete"}));
}

// --- mouse actions ----------------------------------------------------------

struct MouseCase {
  const char* name;
  TIconMessage message;
  Strings log;  // what the area is asked, in order
  int clicks;   // runs of the menu entry
};

class IconMouseTest : public testing::TestWithParam<MouseCase> {
 protected:
  void SetUp() override {
    menu.Add(u"btnClose", u"&Beenden", [this] { ++clicks; });
    icon.SetPopupMenu(&menu);
    area.log.clear();
    area.choose = 0;
  }
  FakeNotificationArea area;
  TNotificationIcon icon{area};
  TPopupMenu menu;
  int clicks = 0;
};

TEST_P(IconMouseTest, OnlyTheRightButtonOpensTheMenu) {
  icon.HandleIconMessage(GetParam().message);
  EXPECT_EQ(area.log, GetParam().log);
  EXPECT_EQ(clicks, GetParam().clicks);
}

const Strings kMenuOpened{"foreground", "cursor", "foreground", "process", "track 300,200", "wake"};

INSTANTIATE_TEST_SUITE_P(
    Messages, IconMouseTest,
    testing::Values(MouseCase{"RightDown", TIconMessage::RButtonDown, kMenuOpened, 1},
                    MouseCase{"RightUp", TIconMessage::RButtonUp, {}, 0},
                    MouseCase{"LeftDown", TIconMessage::LButtonDown, {}, 0},
                    MouseCase{"LeftUp", TIconMessage::LButtonUp, {}, 0},
                    MouseCase{"LeftDouble", TIconMessage::LButtonDblClk, {}, 0},
                    MouseCase{"MiddleDown", TIconMessage::MButtonDown, {}, 0},
                    MouseCase{"MiddleUp", TIconMessage::MButtonUp, {}, 0},
                    MouseCase{"Move", TIconMessage::MouseMove, {}, 0},
                    MouseCase{"Balloon", TIconMessage::BalloonUserClick, {}, 0},
                    MouseCase{"Unknown", static_cast<TIconMessage>(0x209), {}, 0}),
    testutil::CaseName());

TEST_F(IconMouseTest, MenuClosedWithoutChoiceRunsNothing) {
  area.choose.reset();
  icon.HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_EQ(area.log, kMenuOpened);
  EXPECT_EQ(clicks, 0);
}

TEST_F(IconMouseTest, NothingWhenDisabledUnknownCursorOrNoAutoPopup) {
  icon.Enabled = false;
  icon.HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_TRUE(area.log.empty());
  icon.Enabled = true;

  area.cursor.reset();
  icon.HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_EQ(area.log, (Strings{"foreground", "cursor"}));
  area.cursor = TPoint{1, 2};
  area.log.clear();

  menu.AutoPopup = false;
  icon.HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_TRUE(area.log.empty());
  EXPECT_EQ(clicks, 0);
}

TEST_F(IconMouseTest, DoubleClickRunsOnlyADefaultEntry) {
  TMenuItem& second = menu.Add(u"other", u"Other", [this] { clicks += 10; });
  icon.HandleIconMessage(TIconMessage::LButtonDblClk);
  EXPECT_EQ(clicks, 0);
  second.Default = true;
  icon.HandleIconMessage(TIconMessage::LButtonDblClk);
  EXPECT_EQ(clicks, 10);
  icon.LeftPopup = true;
  icon.HandleIconMessage(TIconMessage::LButtonDblClk);
  EXPECT_EQ(clicks, 10);
  EXPECT_TRUE(area.log.empty()) << "no menu is shown";
}

TEST_F(IconMouseTest, EventsWithHandlersGetTheButtonAndPosition) {
  std::vector<std::pair<TMouseButton, TPoint>> downs;
  int doubles = 0;
  icon.OnMouseDown = [&](TMouseButton b, TPoint p) { downs.emplace_back(b, p); };
  icon.OnDblClick = [&] { ++doubles; };
  icon.HandleIconMessage(TIconMessage::LButtonDown);
  icon.HandleIconMessage(TIconMessage::MButtonDown);
  icon.HandleIconMessage(TIconMessage::LButtonDblClk);
  ASSERT_EQ(downs.size(), 2U);
  EXPECT_EQ(downs[0].first, TMouseButton::Left);
  EXPECT_EQ(downs[1].first, TMouseButton::Middle);
  EXPECT_EQ(downs[0].second, (TPoint{300, 200}));
  EXPECT_EQ(doubles, 1);
}

TEST_F(IconMouseTest, PopupWithoutMenuDoesNothing) {
  icon.SetPopupMenu(nullptr);
  icon.Popup(5, 6);
  icon.HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_TRUE(area.log.empty());
  icon.SetPopupMenu(&menu);
  icon.Popup(5, 6);
  EXPECT_EQ(area.log, (Strings{"foreground", "process", "track 5,6", "wake"}));
  EXPECT_EQ(area.menuCaptions, std::vector<std::u16string>{u"&Beenden"});
}

TEST(PopupMenu, ChangeEventForNewEntriesAndNewCaptionsOnly) {
  TPopupMenu menu;
  std::vector<std::u16string> changes;
  menu.OnChange = [&](TMenuItem& item) { changes.push_back(item.Name() + u"=" + item.Caption()); };
  TMenuItem& close = menu.Add(u"btnClose", u"&Beenden", {});
  close.SetCaption(u"&Beenden");  // the same text: no change
  close.SetText(TTextProperty::Caption, u"Exit");
  close.SetText(TTextProperty::Hint, u"ignored");
  close.SetCaption(u"Exit");
  EXPECT_EQ(changes, (std::vector<std::u16string>{u"btnClose=&Beenden", u"btnClose=Exit"}));
  menu.OnChange = nullptr;
  close.SetCaption(u"&Beenden");  // without a handler nothing is raised
  EXPECT_EQ(close.Caption(), u"&Beenden");
}

TEST(PopupMenu, InsertedAndRemovedEntriesKeepTheOrderAndRaiseTheChangeEvent) {
  TPopupMenu menu;
  std::vector<std::u16string> changes;
  menu.OnChange = [&](TMenuItem& item) {
    changes.push_back(item.Name() + u"/" + std::u16string(menu.Count(), u'*'));
  };
  menu.Add(u"btnClose", u"Exit", {});
  menu.Insert(0, u"btnFirewall", u"Allow", {});
  menu.Insert(7, u"last", u"Last", {});  // past the end: appended
  EXPECT_EQ(menu.Item(0).Name(), u"btnFirewall");
  EXPECT_EQ(menu.Item(1).Name(), u"btnClose");
  EXPECT_EQ(menu.Item(2).Name(), u"last");
  menu.Remove(u"btnFirewall");
  menu.Remove(u"none");  // not there: nothing
  ASSERT_EQ(menu.Count(), 2U);
  EXPECT_EQ(menu.Item(0).Name(), u"btnClose");
  EXPECT_EQ(menu.Find(u"btnFirewall"), nullptr);
  // Each change is told once the menu holds it (or no longer holds it).
  EXPECT_EQ(changes, (std::vector<std::u16string>{u"btnClose/*", u"btnFirewall/**", u"last/***",
                                                  u"btnFirewall/**"}));
}

TEST_F(IconMouseTest, TheMenusOpeningEventMayChangeTheEntriesBeforeTheyAreShown) {
  Strings opened;
  menu.OnPopup = [&] {
    opened.push_back(area.log.back());
    menu.Insert(0, u"btnFirewall", u"Allow", [&] { opened.emplace_back("allow"); });
  };
  area.choose = 0;
  icon.HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_EQ(opened, (Strings{"process", "allow"})) << "raised after the queue ran, before the menu";
  EXPECT_EQ(area.menuCaptions, (std::vector<std::u16string>{u"Allow", u"&Beenden"}));
  EXPECT_EQ(clicks, 0);
  // Taken away by the handler: no menu is shown.
  menu.OnPopup = [&] { icon.SetPopupMenu(nullptr); };
  area.log.clear();
  icon.Popup(1, 2);
  EXPECT_EQ(area.log, (Strings{"foreground", "process"}));
}

TEST_F(NotificationIconTest, BalloonOnlyBesideAVisibleIconCutToWhatTheAreaShows) {
  TNotificationIcon icon(area);
  icon.SetHint(u"hint");
  icon.ShowBalloonHint(u"title", u"text", TBalloonIcon::Warning);
  EXPECT_TRUE(area.balloons.empty()) << "no icon, no balloon";
  icon.SetIconVisible(true);
  icon.ShowBalloonHint(std::u16string(70, u't'), std::u16string(254, u'x') + u"\U0001F600",
                       TBalloonIcon::Warning);
  ASSERT_EQ(area.balloons.size(), 1U);
  EXPECT_EQ(area.balloons[0].Title, std::u16string(kMaxBalloonTitleLength, u't'));
  EXPECT_EQ(area.balloons[0].Text, std::u16string(254, u'x')) << "no half of a pair";
  EXPECT_EQ(area.balloons[0].Icon, TBalloonIcon::Warning);
  EXPECT_EQ(area.balloonTips[0], u"hint");
  EXPECT_EQ(area.log.back(), "balloon");
}

}  // namespace
}  // namespace ostrivane
