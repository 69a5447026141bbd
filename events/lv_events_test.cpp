#include "events/lv_events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/test_util.h"

namespace ostrivane {

// Readable Variants in failure messages.
void PrintTo(const Variant& v, std::ostream* os) {
  *os << VarTypeAsText(v.Type());
  if (const auto* text = v.Get<std::u16string>()) {
    *os << " (" << text->size() << " code units)";
  } else if (!v.IsEmpty() && !v.IsNull()) {
    try {
      *os << " " << v.ToInt64();
    } catch (const std::exception&) {
    }
  }
}

namespace {

using Cat = TLVNotifyActions;
using Act = TLVNotify_General;

template <typename E>
constexpr auto Ord(E e) {
  return static_cast<std::underlying_type_t<E>>(e);
}

static_assert(sizeof(TLVNotifyActions) == 1);
static_assert(sizeof(TLVNotify_General) == 1);
static_assert(std::is_same_v<std::underlying_type_t<TLVNotifyActions>, std::uint8_t>);
static_assert(std::is_same_v<std::underlying_type_t<TLVNotify_General>, std::uint8_t>);
static_assert(Ord(Cat::LVNotify_Song) == 3);
static_assert(Ord(Cat::LVNotify_Status) == 9);
static_assert(Ord(Cat::LVNotify_User) == 11);
static_assert(Ord(Act::LVAction_UpdateSongCache) == 3);
static_assert(Ord(Act::LVNotify_LoadItem) == 4);
static_assert(Ord(Act::LVAction_UpdateGamma) == 16);
static_assert(Ord(Act::LVQuery_CloseOnESC) == 21);
static_assert(Ord(Act::LVAction_BGVideoPrepare2) == 34);
static_assert(Ord(Act::LVEvent_SettingsChanged) == 41);
static_assert(Ord(Act::LVAction_Presenter_VideoStop) == 55);
static_assert(Ord(Act::LVAction_Remote_NextPage) == 59);
static_assert(Ord(Act::LVAction_ReloadIfFilename) == 64);

// --- observers for the tests -----------------------------------------------

// What one observer saw of one message.
struct Seen {
  int observer = 0;
  TLVNotifyActions Category{};
  std::uint8_t Action = 0;
  Variant Param1;
  Variant Param2;
  Variant Result;
  TObject* AObject = nullptr;
};

using CallLog = std::vector<Seen>;

std::vector<int> Callers(const CallLog& log) {
  std::vector<int> ids;
  for (const auto& s : log) {
    ids.push_back(s.observer);
  }
  return ids;
}

// Logs every message it gets, then runs its reaction (if any).
class TestObserver : public ILVObserver {
 public:
  using Reaction = std::function<void(TestObserver& self, TLVBroadCastMessage& m)>;

  TestObserver(int id, CallLog& log, Reaction reaction = {})
      : id_(id), log_(log), reaction_(std::move(reaction)) {}

  void HandleMessage(TLVBroadCastMessage& Message) override {
    log_.push_back(Seen{id_, Message.Category, Ord(Message.Action), Message.Param1, Message.Param2,
                        Message.Result, Message.AObject});
    if (reaction_) {
      reaction_(*this, Message);
    }
  }

 private:
  int id_;
  CallLog& log_;
  Reaction reaction_;
};

std::shared_ptr<ILVObserver> MakeObserver(int id, CallLog& log, TestObserver::Reaction r = {}) {
  return std::make_shared<TestObserver>(id, log, std::move(r));
}

TObject gSentObject;

// --- vocabulary ------------------------------------------------------------

TEST(LVEventsVocabulary, ObserverInterfaceIdentifier) {
  const TGUID& g = ILVObserver::IID;
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.D1, g.D2,
                g.D3, g.D4[0], g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
  EXPECT_STREQ(text, "{9DCA1E55-21FD-4037-9441-AA6D4D79D482}");
}

// --- what a message carries ------------------------------------------------

struct MessageCase {
  const char* name;
  std::function<void(TLVEventCentral&)> send;
  TLVNotifyActions Category;
  std::uint8_t Action;
  Variant Param1;
  Variant Param2;
  TObject* AObject;
};

class LVEventsMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(LVEventsMessage, ArrivesWithTheFieldsOfItsOperation) {
  const MessageCase& c = GetParam();
  CallLog log;
  TLVEventCentral hub;
  hub.Attach(MakeObserver(1, log));
  c.send(hub);
  ASSERT_EQ(log.size(), 1U);
  const Seen& s = log[0];
  EXPECT_EQ(s.Category, c.Category);
  EXPECT_EQ(s.Action, c.Action);
  EXPECT_EQ(s.Param1, c.Param1);
  EXPECT_EQ(s.Param2, c.Param2);
  EXPECT_TRUE(s.Result.IsEmpty());
  EXPECT_EQ(s.AObject, c.AObject);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, LVEventsMessage,
    testing::Values(
        MessageCase{"notify", [](TLVEventCentral& h) { h.Notify(Cat::LVNotify_Bible, 5); },
                    Cat::LVNotify_Bible, 5, Variant(), Variant(), nullptr},
        MessageCase{"notify_param1",
                    [](TLVEventCentral& h) { h.Notify(Cat::LVNotify_General, 1, u"a"); },
                    Cat::LVNotify_General, 1, Variant(u"a"), Variant(), nullptr},
        MessageCase{"notify_param2",
                    [](TLVEventCentral& h) { h.Notify(Cat::LVNotify_Video, 26, 7, 2.5); },
                    Cat::LVNotify_Video, 26, Variant(7), Variant(2.5), nullptr},
        MessageCase{"notify_null_params",
                    [](TLVEventCentral& h) {
                      h.Notify(Cat::LVNotify_User, 200, Variant::Null(), Variant::Null());
                    },
                    Cat::LVNotify_User, 200, Variant::Null(), Variant::Null(), nullptr},
        MessageCase{
            "notify_object",
            [](TLVEventCentral& h) { h.Notify(Cat::LVNotify_Stage, 9, u"p", &gSentObject); },
            Cat::LVNotify_Stage, 9, Variant(u"p"), Variant(), &gSentObject},
        MessageCase{
            "update_song_cache",
            [](TLVEventCentral& h) { h.UpdateSongCache(u"C:\\Lieder\\Gr\u00fc\u00dfe.sng"); },
            Cat::LVNotify_Song, 3, Variant(u"C:\\Lieder\\Gr\u00fc\u00dfe.sng"), Variant(), nullptr},
        MessageCase{"query",
                    [](TLVEventCentral& h) { (void)h.Query(Cat::LVNotify_Preview, 18, 3); },
                    Cat::LVNotify_Preview, 18, Variant(3), Variant(), nullptr}),
    testutil::CaseName());

TEST(LVEventsMessage, LaterObserversSeeWhatEarlierOnesWrote) {
  CallLog log;
  TLVEventCentral hub;
  hub.Attach(MakeObserver(1, log, [](TestObserver&, TLVBroadCastMessage& m) {
    m.Result = Variant(11);
    m.Param2 = Variant(u"from 1");
  }));
  hub.Attach(MakeObserver(2, log));
  hub.Attach(MakeObserver(3, log));
  hub.Notify(Cat::LVNotify_General, 0, 1);
  // A broadcast goes on to everybody, whatever Result holds.
  ASSERT_EQ(Callers(log), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(log[1].Result, Variant(11));
  EXPECT_EQ(log[2].Param2, Variant(u"from 1"));
}

// --- the Action argument ---------------------------------------------------

struct ActionCase {
  const char* name;
  Variant Action;
  std::uint8_t stored;
};

class LVEventsAction : public testing::TestWithParam<ActionCase> {};

TEST_P(LVEventsAction, KeepsTheLowEightBitsOfTheIntegerConversion) {
  const ActionCase& c = GetParam();
  CallLog log;
  TLVEventCentral hub;
  hub.Attach(MakeObserver(1, log));
  hub.Notify(Cat::LVNotify_General, c.Action);
  (void)hub.Query(Cat::LVNotify_General, c.Action, Variant());
  ASSERT_EQ(log.size(), 2U);
  EXPECT_EQ(log[0].Action, c.stored) << "Notify";
  EXPECT_EQ(log[1].Action, c.stored) << "Query";
}

INSTANTIATE_TEST_SUITE_P(
    Values, LVEventsAction,
    testing::Values(
        ActionCase{"zero", Variant(0), 0}, ActionCase{"last_named", Variant(64), 64},
        ActionCase{"unnamed_65", Variant(65), 65}, ActionCase{"unnamed_255", Variant(255), 255},
        ActionCase{"wraps_256_to_test", Variant(256), Ord(Act::LVAction_Test)},
        ActionCase{"wraps_257", Variant(257), 1}, ActionCase{"minus_one", Variant(-1), 255},
        ActionCase{"int64_in_range", Variant(std::int64_t{1000}), 1000 & 0xFF},
        ActionCase{"byte", Variant(std::uint8_t{59}), 59},
        ActionCase{"tie_2_5_to_even", Variant(2.5), Ord(Act::LVAction_AddItemIfNotExists)},
        ActionCase{"tie_3_5_to_even", Variant(3.5), Ord(Act::LVNotify_LoadItem)},
        ActionCase{"rounds_2_6_up", Variant(2.6), 3},
        ActionCase{"tie_minus_2_5", Variant(-2.5), 254}, ActionCase{"single", Variant(4.5F), 4},
        ActionCase{"empty", Variant(), 0}, ActionCase{"text", Variant(u"42"), 42},
        ActionCase{"text_256", Variant(u"256"), 0}),
    testutil::CaseName());

struct BadActionCase {
  const char* name;
  Variant Action;
};

class LVEventsBadAction : public testing::TestWithParam<BadActionCase> {};

TEST_P(LVEventsBadAction, RaisesBeforeAnyObserverIsCalled) {
  const BadActionCase& c = GetParam();
  CallLog log;
  TLVEventCentral hub;
  hub.Attach(MakeObserver(1, log));
  EXPECT_THROW(hub.Notify(Cat::LVNotify_General, c.Action), std::runtime_error);
  EXPECT_THROW(hub.Notify(Cat::LVNotify_General, c.Action, 1), std::runtime_error);
  EXPECT_THROW(hub.Notify(Cat::LVNotify_General, c.Action, 1, 2), std::runtime_error);
  EXPECT_THROW(hub.Notify(Cat::LVNotify_General, c.Action, 1, &gSentObject), std::runtime_error);
  EXPECT_THROW((void)hub.Query(Cat::LVNotify_General, c.Action, 1), std::runtime_error);
  // The conversion comes before the category test.
  EXPECT_THROW(hub.Notify(Cat::LVNotify_None, c.Action), std::runtime_error);
  EXPECT_TRUE(log.empty());
  // The hub is unharmed.
  hub.Notify(Cat::LVNotify_General, 1);
  EXPECT_EQ(log.size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(Values, LVEventsBadAction,
                         testing::Values(BadActionCase{"not_a_number", Variant(u"abc")},
                                         BadActionCase{"int64_overflow",
                                                       Variant(std::int64_t{1} << 40)},
                                         BadActionCase{"double_overflow", Variant(1e12)}),
                         testutil::CaseName());

TEST(LVEventsBadAction, ConversionErrorIsTheVariantRuntimes) {
  TLVEventCentral hub;
  EXPECT_THROW(hub.Notify(Cat::LVNotify_General, Variant(u"abc")), EVariantTypeCastError);
  EXPECT_THROW(hub.Notify(Cat::LVNotify_General, Variant(std::int64_t{1} << 40)),
               EVariantOverflowError);
}

// --- categories ------------------------------------------------------------

TEST(LVEventsCategory, NoneIsDroppedByNotifyButQueriedAnyway) {
  CallLog log;
  TLVEventCentral hub;
  hub.Attach(MakeObserver(1, log));
  hub.Attach(MakeObserver(2, log));
  hub.Notify(Cat::LVNotify_None, 1);
  hub.Notify(Cat::LVNotify_None, 1, 2);
  hub.Notify(Cat::LVNotify_None, 1, 2, 3);
  hub.Notify(Cat::LVNotify_None, 1, 2, &gSentObject);
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(hub.Query(Cat::LVNotify_None, 1, 2).IsEmpty());
  EXPECT_EQ(Callers(log), (std::vector<int>{1, 2}));
  EXPECT_EQ(log[0].Category, Cat::LVNotify_None);
}

// --- attaching and detaching -----------------------------------------------

TEST(LVEventsAttach, SecondAttachChangesNothingAndOneDetachRemoves) {
  CallLog log;
  TLVEventCentral hub;
  const auto a = MakeObserver(1, log);
  hub.Attach(a);
  hub.Attach(a);
  EXPECT_EQ(hub.ObserverCount(), 1U);
  hub.Notify(Cat::LVNotify_General, 0);
  EXPECT_EQ(Callers(log), (std::vector<int>{1}));
  hub.Detach(a);
  EXPECT_EQ(hub.ObserverCount(), 0U);
  hub.Notify(Cat::LVNotify_General, 0);
  EXPECT_EQ(log.size(), 1U);
}

TEST(LVEventsAttach, ObserversAreCalledInAttachOrder) {
  CallLog log;
  TLVEventCentral hub;
  const auto a = MakeObserver(1, log);
  const auto b = MakeObserver(2, log);
  const auto c = MakeObserver(3, log);
  hub.Attach(c);
  hub.Attach(a);
  hub.Attach(b);
  hub.Detach(a);
  hub.Attach(a);
  hub.Notify(Cat::LVNotify_General, 0);
  EXPECT_EQ(Callers(log), (std::vector<int>{3, 2, 1}));
}

TEST(LVEventsAttach, DetachOfAnUnknownObserverChangesNothing) {
  CallLog log;
  TLVEventCentral hub;
  const auto a = MakeObserver(1, log);
  const auto stranger = MakeObserver(2, log);
  hub.Detach(stranger);  // no list yet
  EXPECT_FALSE(hub.HasObserverList());
  hub.Attach(a);
  hub.Detach(stranger);
  hub.Detach(nullptr);
  hub.Attach(nullptr);
  EXPECT_EQ(hub.ObserverCount(), 1U);
  hub.Notify(Cat::LVNotify_General, 0);
  EXPECT_EQ(Callers(log), (std::vector<int>{1}));
}

TEST(LVEventsAttach, DetachOfTheLastReleasesTheListAndAttachStartsANewOne) {
  CallLog log;
  TLVEventCentral hub;
  EXPECT_FALSE(hub.HasObserverList());
  auto a = MakeObserver(1, log);
  const std::weak_ptr<ILVObserver> weakA = a;
  hub.Attach(a);
  EXPECT_TRUE(hub.HasObserverList());
  hub.Detach(a);
  EXPECT_FALSE(hub.HasObserverList());
  a.reset();
  EXPECT_TRUE(weakA.expired()) << "the hub still holds a reference";
  const auto b = MakeObserver(2, log);
  hub.Attach(b);
  EXPECT_TRUE(hub.HasObserverList());
  hub.Notify(Cat::LVNotify_General, 0);
  EXPECT_EQ(Callers(log), (std::vector<int>{2}));
}

TEST(LVEventsAttach, TheHubKeepsAttachedObserversAliveAndReleasesThemUntold) {
  CallLog log;
  std::weak_ptr<ILVObserver> weakA;
  {
    TLVEventCentral hub;
    {
      auto a = MakeObserver(1, log);
      weakA = a;
      hub.Attach(a);
    }
    ASSERT_FALSE(weakA.expired());
    hub.Notify(Cat::LVNotify_General, 0);
    EXPECT_EQ(log.size(), 1U);
  }
  EXPECT_TRUE(weakA.expired());
  EXPECT_EQ(log.size(), 1U);
}

TEST(LVEventsAttach, IdentityIsTheObjectNotTheReference) {
  CallLog log;
  TLVEventCentral hub;
  const auto concrete = std::make_shared<TestObserver>(1, log);
  const std::shared_ptr<ILVObserver> first = concrete;
  const std::shared_ptr<ILVObserver> second = concrete;
  hub.Attach(first);
  hub.Attach(second);
  EXPECT_EQ(hub.ObserverCount(), 1U);
  hub.Detach(second);
  EXPECT_FALSE(hub.HasObserverList());
}

// --- queries ---------------------------------------------------------------

// How each of a query's observers answers: leaves Result alone, sets it, or
// sets and empties it again.
enum class Answer { None, Value, Null, SetAndEmpty };

struct QueryCase {
  const char* name;
  std::vector<std::pair<Answer, int>> observers;
  Variant expected;
  std::vector<int> called;
};

class LVEventsQuery : public testing::TestWithParam<QueryCase> {};

TEST_P(LVEventsQuery, StopsAtTheFirstAnswer) {
  const QueryCase& c = GetParam();
  CallLog log;
  TLVEventCentral hub;
  int id = 0;
  for (const auto& observer : c.observers) {
    const Answer answer = observer.first;
    const int value = observer.second;
    hub.Attach(MakeObserver(++id, log, [answer, value](TestObserver&, TLVBroadCastMessage& m) {
      switch (answer) {
        case Answer::None:
          break;
        case Answer::Value:
          m.Result = Variant(value);
          break;
        case Answer::Null:
          m.Result = Variant::Null();
          break;
        case Answer::SetAndEmpty:
          m.Result = Variant(value);
          m.Result = Variant();
          break;
      }
    }));
  }
  const Variant result = hub.Query(Cat::LVNotify_General, Ord(Act::LVQuery_Size), Variant());
  EXPECT_EQ(result, c.expected);
  EXPECT_EQ(result.Type(), c.expected.Type());
  EXPECT_EQ(Callers(log), c.called);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LVEventsQuery,
    testing::Values(QueryCase{"no_observers", {}, Variant(), {}},
                    QueryCase{"nobody_answers",
                              {{Answer::None, 0}, {Answer::None, 0}, {Answer::None, 0}},
                              Variant(),
                              {1, 2, 3}},
                    QueryCase{"first_answers",
                              {{Answer::Value, 7}, {Answer::Value, 8}, {Answer::None, 0}},
                              Variant(7),
                              {1}},
                    QueryCase{"second_answers",
                              {{Answer::None, 0}, {Answer::Value, 42}, {Answer::Value, 9}},
                              Variant(42),
                              {1, 2}},
                    QueryCase{"null_is_an_answer",
                              {{Answer::None, 0}, {Answer::Null, 0}, {Answer::Value, 9}},
                              Variant::Null(),
                              {1, 2}},
                    QueryCase{"emptied_again_goes_on",
                              {{Answer::SetAndEmpty, 5}, {Answer::None, 0}, {Answer::Value, 9}},
                              Variant(9),
                              {1, 2, 3}},
                    QueryCase{"last_answers",
                              {{Answer::None, 0}, {Answer::None, 0}, {Answer::Value, 3}},
                              Variant(3),
                              {1, 2, 3}}),
    testutil::CaseName());

// --- changes during a walk -------------------------------------------------

TEST(LVEventsWalk, ObserverAttachedDuringABroadcastIsNotCalledByIt) {
  CallLog log;
  TLVEventCentral hub;
  const auto late = MakeObserver(9, log);
  hub.Attach(MakeObserver(1, log, [&](TestObserver&, TLVBroadCastMessage&) { hub.Attach(late); }));
  hub.Attach(MakeObserver(2, log));
  hub.Notify(Cat::LVNotify_General, 0);
  EXPECT_EQ(Callers(log), (std::vector<int>{1, 2}));
  log.clear();
  (void)hub.Query(Cat::LVNotify_General, 0, Variant());
  EXPECT_EQ(Callers(log), (std::vector<int>{1, 2, 9}));
}

TEST(LVEventsWalk, ObserverMayDetachItselfWhileCalled) {
  CallLog log;
  TLVEventCentral hub;
  std::weak_ptr<ILVObserver> weakSelf;
  bool aliveAfterDetach = false;
  {
    auto self = MakeObserver(1, log, [&](TestObserver&, TLVBroadCastMessage&) {
      hub.Detach(weakSelf.lock());
      aliveAfterDetach = !weakSelf.expired();
    });
    weakSelf = self;
    hub.Attach(self);
  }  // now only the hub holds it
  hub.Attach(MakeObserver(2, log));
  hub.Attach(MakeObserver(3, log));
  hub.Notify(Cat::LVNotify_General, 0);
  EXPECT_EQ(Callers(log), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(aliveAfterDetach);
  EXPECT_TRUE(weakSelf.expired()) << "released once the walk is over";
  log.clear();
  hub.Notify(Cat::LVNotify_General, 0);
  EXPECT_EQ(Callers(log), (std::vector<int>{2, 3}));
}

struct DetachCase {
  const char* name;
  int detacher;              // 1-based position of the observer that detaches
  std::vector<int> targets;  // positions it detaches
  std::vector<int> called;
  bool listLeft;
};

class LVEventsDetachDuringWalk : public testing::TestWithParam<DetachCase> {};

// An observer already called stays called; one not yet reached is skipped;
// the positions of the others do not shift under the walk.
TEST_P(LVEventsDetachDuringWalk, CallsExactlyTheObserversStillAttached) {
  const DetachCase& c = GetParam();
  for (const bool query : {false, true}) {
    SCOPED_TRACE(query ? "Query" : "Notify");
    CallLog log;
    TLVEventCentral hub;
    std::vector<std::shared_ptr<ILVObserver>> all;
    for (int id = 1; id <= 4; ++id) {
      all.push_back(MakeObserver(id, log, [&, id](TestObserver&, TLVBroadCastMessage&) {
        if (id == c.detacher) {
          for (const int t : c.targets) {
            hub.Detach(all[static_cast<std::size_t>(t - 1)]);
          }
        }
      }));
      hub.Attach(all.back());
    }
    if (query) {
      EXPECT_TRUE(hub.Query(Cat::LVNotify_General, 0, Variant()).IsEmpty());
    } else {
      hub.Notify(Cat::LVNotify_General, 0);
    }
    EXPECT_EQ(Callers(log), c.called);
    EXPECT_EQ(hub.HasObserverList(), c.listLeft);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LVEventsDetachDuringWalk,
                         testing::Values(DetachCase{"earlier_one", 2, {1}, {1, 2, 3, 4}, true},
                                         DetachCase{"later_one", 1, {3}, {1, 2, 4}, true},
                                         DetachCase{
                                             "itself_and_the_next", 2, {2, 3}, {1, 2, 4}, true},
                                         DetachCase{"everybody", 2, {1, 2, 3, 4}, {1, 2}, false},
                                         DetachCase{"the_last", 4, {4}, {1, 2, 3, 4}, true}),
                         testutil::CaseName());

// --- errors from observers -------------------------------------------------

struct ThrowCase {
  const char* name;
  std::function<void(TLVEventCentral&)> send;
};

class LVEventsObserverError : public testing::TestWithParam<ThrowCase> {};

TEST_P(LVEventsObserverError, EndsTheWalkAndReachesTheCaller) {
  CallLog log;
  TLVEventCentral hub;
  hub.Attach(MakeObserver(1, log));
  const auto thrower = MakeObserver(2, log, [](TestObserver&, TLVBroadCastMessage&) {
    throw std::logic_error("observer failed");
  });
  hub.Attach(thrower);
  hub.Attach(MakeObserver(3, log));
  EXPECT_THROW(GetParam().send(hub), std::logic_error);
  EXPECT_EQ(Callers(log), (std::vector<int>{1, 2}));
  // The hub goes on working.
  log.clear();
  hub.Detach(thrower);
  GetParam().send(hub);
  EXPECT_EQ(Callers(log), (std::vector<int>{1, 3}));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, LVEventsObserverError,
    testing::Values(
        ThrowCase{"notify", [](TLVEventCentral& h) { h.Notify(Cat::LVNotify_Song, 1); }},
        ThrowCase{"notify_object",
                  [](TLVEventCentral& h) { h.Notify(Cat::LVNotify_Song, 1, 2, &gSentObject); }},
        ThrowCase{"query",
                  [](TLVEventCentral& h) { (void)h.Query(Cat::LVNotify_Song, 1, Variant()); }},
        ThrowCase{"update_song_cache", [](TLVEventCentral& h) { h.UpdateSongCache(u"a.sng"); }}),
    testutil::CaseName());

// --- Error -----------------------------------------------------------------

TEST(LVEventsError, HasNoEffect) {
  CallLog log;
  TLVEventCentral hub;
  hub.Error(Cat::LVNotify_Song, u"ignored");
  EXPECT_FALSE(hub.HasObserverList());
  hub.Attach(MakeObserver(1, log));
  hub.Error(Cat::LVNotify_None, u"");
  hub.Error(Cat::LVNotify_General, u"something went wrong");
  hub.Error(static_cast<TLVNotifyActions>(200), u"x");
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(hub.ObserverCount(), 1U);
}

// --- the process-wide hub --------------------------------------------------

// Records, when destroyed, what EventCentral was at that moment.
class FinalisationWitness : public ILVObserver {
 public:
  FinalisationWitness(int& calls, bool& destroyed, TLVEventCentral*& centralSeen)
      : calls_(calls), destroyed_(destroyed), centralSeen_(centralSeen) {}
  FinalisationWitness(const FinalisationWitness&) = delete;
  FinalisationWitness& operator=(const FinalisationWitness&) = delete;
  ~FinalisationWitness() override {
    destroyed_ = true;
    centralSeen_ = EventCentral;
  }
  void HandleMessage(TLVBroadCastMessage&) override { ++calls_; }

 private:
  int& calls_;
  bool& destroyed_;
  TLVEventCentral*& centralSeen_;
};

TEST(LVEventsModule, CreatedAtStartUpAndClearedBeforeItIsFreed) {
  ASSERT_EQ(EventCentral, nullptr);
  InitializeEventCentral();
  ASSERT_NE(EventCentral, nullptr);
  TLVEventCentral* const first = EventCentral;
  EXPECT_FALSE(first->HasObserverList());
  InitializeEventCentral();
  EXPECT_EQ(EventCentral, first) << "a second initialisation keeps the hub";

  int calls = 0;
  bool destroyed = false;
  TLVEventCentral* centralSeen = first;
  EventCentral->Attach(std::make_shared<FinalisationWitness>(calls, destroyed, centralSeen));
  EventCentral->Notify(Cat::LVNotify_Status, 1);
  EXPECT_EQ(calls, 1);

  FinalizeEventCentral();
  EXPECT_EQ(EventCentral, nullptr);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(centralSeen, nullptr) << "the hub was freed before EventCentral was cleared";
  EXPECT_EQ(calls, 1) << "finalisation tells no observer";
  FinalizeEventCentral();  // nothing left to free

  InitializeEventCentral();
  ASSERT_NE(EventCentral, nullptr);
  EXPECT_FALSE(EventCentral->HasObserverList());
  FinalizeEventCentral();
}

// --- several threads -------------------------------------------------------

// Counts its calls; notices a call after its destruction.
class CountingObserver : public ILVObserver {
 public:
  explicit CountingObserver(std::atomic<bool>& calledAfterRelease)
      : calledAfterRelease_(calledAfterRelease) {}
  CountingObserver(const CountingObserver&) = delete;
  CountingObserver& operator=(const CountingObserver&) = delete;
  ~CountingObserver() override { alive_.store(0); }

  void HandleMessage(TLVBroadCastMessage& Message) override {
    if (alive_.load() != kAlive) {
      calledAfterRelease_.store(true);
    }
    calls_.fetch_add(1);
    if (onCall_) {
      onCall_(Message);
    }
  }

  [[nodiscard]] std::int64_t Calls() const { return calls_.load(); }
  // Set before the observer is attached.
  std::function<void(TLVBroadCastMessage&)> onCall_;

 private:
  static constexpr unsigned kAlive = 0xA11CEU;
  std::atomic<unsigned> alive_{kAlive};
  std::atomic<std::int64_t> calls_{0};
  std::atomic<bool>& calledAfterRelease_;
};

TEST(LVEventsThreads, AttachAndDetachWhileAnotherThreadBroadcasts) {
  constexpr int kMutators = 3;
  constexpr int kRounds = 1500;
  constexpr int kMaxBroadcasts = 200000;

  TLVEventCentral hub;
  std::atomic<bool> calledAfterRelease{false};
  const auto steady = std::make_shared<CountingObserver>(calledAfterRelease);
  hub.Attach(steady);

  std::atomic<int> mutatorsRunning{kMutators};
  std::vector<std::weak_ptr<ILVObserver>> released;
  std::mutex releasedLock;

  std::vector<std::thread> mutators;
  mutators.reserve(kMutators);
  for (int t = 0; t < kMutators; ++t) {
    mutators.emplace_back([&, t] {
      std::vector<std::weak_ptr<ILVObserver>> mine;
      for (int round = 0; round < kRounds; ++round) {
        auto a = std::make_shared<CountingObserver>(calledAfterRelease);
        auto b = std::make_shared<CountingObserver>(calledAfterRelease);
        if (round % 3 == 0) {
          // b leaves by itself the first time it is called.
          std::weak_ptr<ILVObserver> weakB = b;
          b->onCall_ = [&hub, weakB](TLVBroadCastMessage&) { hub.Detach(weakB.lock()); };
        }
        hub.Attach(a);
        hub.Attach(b);
        hub.Attach(a);  // no second entry
        if (t == 0 && round % 2 == 0) {
          hub.Attach(steady);  // attached already: changes nothing
        }
        hub.Detach(a);
        hub.Detach(b);  // may have left by itself already
        mine.emplace_back(a);
        mine.emplace_back(b);
      }
      const std::lock_guard lock(releasedLock);
      released.insert(released.end(), mine.begin(), mine.end());
      mutatorsRunning.fetch_sub(1);
    });
  }

  std::int64_t broadcasts = 0;
  std::int64_t answered = 0;
  std::thread broadcaster([&] {
    while (mutatorsRunning.load() > 0 && broadcasts < kMaxBroadcasts) {
      hub.Notify(Cat::LVNotify_General, 1, broadcasts);
      ++broadcasts;
      if (!hub.Query(Cat::LVNotify_General, 2, Variant()).IsEmpty()) {
        ++answered;
      }
    }
  });

  for (auto& m : mutators) {
    m.join();
  }
  broadcaster.join();

  EXPECT_FALSE(calledAfterRelease.load());
  EXPECT_EQ(steady->Calls(), 2 * broadcasts) << "steady missed or repeated calls";
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(hub.ObserverCount(), 1U);
  EXPECT_EQ(released.size(), static_cast<std::size_t>(2 * kMutators * kRounds));
  for (const auto& w : released) {
    ASSERT_TRUE(w.expired()) << "the hub kept a detached observer";
  }
}

TEST(LVEventsThreads, ConcurrentAttachAndDetachKeepTheListConsistent) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 3000;
  TLVEventCentral hub;
  std::atomic<bool> calledAfterRelease{false};
  const auto shared = std::make_shared<CountingObserver>(calledAfterRelease);
  std::vector<std::shared_ptr<CountingObserver>> own;
  own.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    own.push_back(std::make_shared<CountingObserver>(calledAfterRelease));
  }

  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const auto mine = own[static_cast<std::size_t>(t)];
      for (int round = 0; round < kRounds; ++round) {
        hub.Attach(shared);
        hub.Attach(mine);
        hub.Detach(shared);
        if (round + 1 < kRounds) {
          hub.Detach(mine);
        }
      }
    });
  }
  for (auto& th : threads) {
    th.join();
  }

  // Each thread ends with its own observer attached: no Attach was lost to
  // another thread's release of an emptied list, and none is held twice.
  EXPECT_EQ(hub.ObserverCount(), static_cast<std::size_t>(kThreads));
  hub.Notify(Cat::LVNotify_General, 0);
  for (const auto& o : own) {
    EXPECT_EQ(o->Calls(), 1);
  }
  EXPECT_EQ(shared->Calls(), 0);
  for (const auto& o : own) {
    hub.Detach(o);
  }
  EXPECT_FALSE(hub.HasObserverList());
}

}  // namespace
}  // namespace ostrivane
