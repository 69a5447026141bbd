#include "relay/mailslot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "relay/mailslot_fake.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using testutil::FakeMailSlotSystem;

using Log = std::vector<std::string>;

// One WriteString after changing the fake's state; `written` is what the
// Write underneath returns.
struct Step {
  std::function<void(FakeMailSlotSystem&)> arrange;
  std::string message;
  std::size_t written;
};

struct ScenarioCase {
  const char* name;
  std::vector<Step> steps;
  Log log;  // every system call, up to and including the writer's release
  std::vector<std::string> delivered;
};

void PrintTo(const ScenarioCase& c, std::ostream* os) { *os << c.name; }

const auto kNoChange = [](FakeMailSlotSystem&) {};
const auto kSlotAppears = [](FakeMailSlotSystem& s) { s.slotExists = true; };

class MailSlotWriterScenarioTest : public testing::TestWithParam<ScenarioCase> {};

TEST_P(MailSlotWriterScenarioTest, MakesExactlyTheseSystemCalls) {
  const auto& c = GetParam();
  FakeMailSlotSystem system;
  {
    TMailSlotWriter writer(u"Lyravox\\Messages", system);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      c.steps[i].arrange(system);
      EXPECT_EQ(writer.Write(c.steps[i].message.data(), c.steps[i].message.size()),
                c.steps[i].written)
          << "step " << i;
    }
  }
  EXPECT_EQ(system.log, c.log);
  EXPECT_EQ(system.delivered, c.delivered);
  EXPECT_TRUE(system.held.empty()) << "the writer leaked a handle";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailSlotWriterScenarioTest,
    testing::Values(ScenarioCase{"NoWriteOpensNothing", {}, {}, {}},
                    ScenarioCase{"HandleKeptAcrossMessagesInCallOrder",
                                 {{kSlotAppears, "abc", 3}, {kNoChange, "de", 2}},
                                 {"open 1", "write 1 3", "write 1 2", "close 1"},
                                 {"abc", "de"}},
                    ScenarioCase{"NoSlotTwoOpensThenSlotAppears",
                                 {{kNoChange, "abc", 0}, {kSlotAppears, "abc", 3}},
                                 {"open -", "open -", "open 1", "write 1 3", "close 1"},
                                 {"abc"}},
                    ScenarioCase{"BrokenHeldHandleClosedAndReopened",
                                 {{kSlotAppears, "a", 1},
                                  {[](FakeMailSlotSystem& s) { s.broken.insert(1); }, "bc", 2}},
                                 {"open 1", "write 1 1", "write 1 2", "close 1", "open 2",
                                  "write 2 2", "close 2"},
                                 {"a", "bc"}},
                    ScenarioCase{"SecondWriteFailsNewHandleStaysHeld",
                                 {{kSlotAppears, "a", 1},
                                  {[](FakeMailSlotSystem& s) { s.failWrites = true; }, "b", 0},
                                  {[](FakeMailSlotSystem& s) { s.failWrites = false; }, "c", 1}},
                                 {"open 1", "write 1 1", "write 1 1", "close 1", "open 2",
                                  "write 2 1", "write 2 1", "close 2"},
                                 {"a", "c"}},
                    ScenarioCase{"SlotGoneWhileHeldThenBack",
                                 {{kSlotAppears, "a", 1},
                                  {[](FakeMailSlotSystem& s) {
                                     s.broken.insert(1);
                                     s.slotExists = false;
                                   },
                                   "b", 0},
                                  {kSlotAppears, "c", 1}},
                                 {"open 1", "write 1 1", "write 1 1", "close 1", "open -", "open 2",
                                  "write 2 1", "close 2"},
                                 {"a", "c"}},
                    ScenarioCase{"EmptyMessageIsOneWriteOfZeroBytes",
                                 {{kSlotAppears, "", 0}},
                                 {"open 1", "write 1 0", "close 1"},
                                 {""}}),
    testutil::CaseName());

TEST(MailSlotWriterTest, WriteStringSendsEveryByteAsOneMessage) {
  FakeMailSlotSystem system;
  system.slotExists = true;
  {
    TMailSlotWriter writer(u"Lyravox\\Messages", system);
    writer.WriteString(std::string("a\0b\xE4", 4));
    writer.WriteString("");
    writer.WriteString("second");
  }
  EXPECT_EQ(system.log, (Log{"open 1", "write 1 4", "write 1 0", "write 1 6", "close 1"}));
  EXPECT_EQ(system.delivered, (std::vector<std::string>{std::string("a\0b\xE4", 4), "", "second"}));
}

struct NameCase {
  const char* name;
  std::u16string slotName;
  std::u16string path;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class MailSlotNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(MailSlotNameTest, OpensPrefixPlusNameUnchanged) {
  const auto& c = GetParam();
  FakeMailSlotSystem system;
  TMailSlotWriter writer(c.slotName, system);
  EXPECT_EQ(writer.MailSlotName(), c.path);
  writer.WriteString("x");
  EXPECT_EQ(system.openedPaths, (std::vector<std::u16string>{c.path, c.path}));
}

INSTANTIATE_TEST_SUITE_P(Cases, MailSlotNameTest,
                         testing::Values(NameCase{"ProgramSlot", u"Lyravox\\Messages",
                                                  u"\\\\.\\mailslot\\Lyravox\\Messages"},
                                         NameCase{"NotTrimmed", u" x ", u"\\\\.\\mailslot\\ x "},
                                         NameCase{"Empty", u"", u"\\\\.\\mailslot\\"}),
                         testutil::CaseName());

TEST(MailSlotWriterTest, ReadRaisesNamingTheSlotAndTouchesNothing) {
  FakeMailSlotSystem system;
  TMailSlotWriter writer(u"Lyravox\\Messages", system);
  char buffer[4] = {'k', 'e', 'e', 'p'};
  try {
    writer.Read(buffer, sizeof buffer);
    FAIL() << "Read returned";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Stream read error: \\\\.\\mailslot\\Lyravox\\Messages");
  }
  EXPECT_EQ(std::string(buffer, sizeof buffer), "keep");
  EXPECT_TRUE(system.log.empty());
}

TEST(MailSlotWriterTest, ReadErrorCarriesTheNameAsUtf8) {
  FakeMailSlotSystem system;
  TMailSlotWriter writer(u"Gr\u00FC\u00DFe", system);
  try {
    writer.Read(nullptr, 0);
    FAIL() << "Read returned";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(),
                 "Stream read error: \\\\.\\mailslot\\Gr\xC3\xBC\xC3\x9F"
                 "e");
  }
}

struct UnsupportedCase {
  const char* name;
  std::function<void(TMailSlotWriter&)> call;
};

void PrintTo(const UnsupportedCase& c, std::ostream* os) { *os << c.name; }

class MailSlotUnsupportedTest : public testing::TestWithParam<UnsupportedCase> {};

TEST_P(MailSlotUnsupportedTest, RaisesSeekNotImplemented) {
  FakeMailSlotSystem system;
  TMailSlotWriter writer(u"Lyravox\\Messages", system);
  try {
    GetParam().call(writer);
    FAIL() << "returned";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "TMailSlotWriter.Seek not implemented");
  }
  EXPECT_TRUE(system.log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailSlotUnsupportedTest,
    testing::Values(UnsupportedCase{"SeekFromBeginning",
                                    [](TMailSlotWriter& w) { w.Seek(0, SeekOrigin::soBeginning); }},
                    UnsupportedCase{"SeekFromEnd",
                                    [](TMailSlotWriter& w) { w.Seek(-1, SeekOrigin::soEnd); }},
                    UnsupportedCase{"Position", [](TMailSlotWriter& w) { w.GetPosition(); }},
                    UnsupportedCase{"Size", [](TMailSlotWriter& w) { w.GetSize(); }}),
    testutil::CaseName());

TEST(MailSlotWriterTest, SetSizeHasNoEffect) {
  FakeMailSlotSystem system;
  system.slotExists = true;
  {
    TMailSlotWriter writer(u"s", system);
    writer.SetSize(0);
    writer.SetSize(100);
    EXPECT_EQ(writer.Write("ab", 2), 2U);
  }
  EXPECT_EQ(system.log, (Log{"open 1", "write 1 2", "close 1"}));
}

TEST(MailSlotWriterTest, SendStringConvertsSendsOneMessageAndCloses) {
  FakeMailSlotSystem system;
  system.slotExists = true;
  TMailSlotWriter::SendString(u"Lyravox\\Messages", u"Gr\u00FC\u00DF <x/>", system);
  EXPECT_EQ(system.openedPaths,
            (std::vector<std::u16string>{u"\\\\.\\mailslot\\Lyravox\\Messages"}));
  EXPECT_EQ(system.log, (Log{"open 1", "write 1 9", "close 1"}));
  EXPECT_EQ(system.delivered, (std::vector<std::string>{"Gr\xFC\xDF <x/>"}));
}

TEST(MailSlotWriterTest, SendDataSendsTheBytesAndCloses) {
  FakeMailSlotSystem system;
  system.slotExists = true;
  const std::uint8_t data[] = {0x00, 0x02, 0xFF};
  TMailSlotWriter::SendData(u"s", data, sizeof data, system);
  EXPECT_EQ(system.log, (Log{"open 1", "write 1 3", "close 1"}));
  EXPECT_EQ(system.delivered, (std::vector<std::string>{std::string("\0\x02\xFF", 3)}));
}

TEST(MailSlotWriterTest, SendWithoutSlotReturnsNormally) {
  FakeMailSlotSystem system;
  TMailSlotWriter::SendString(u"s", u"x", system);
  TMailSlotWriter::SendData(u"s", "y", 1, system);
  EXPECT_EQ(system.log, (Log{"open -", "open -", "open -", "open -"}));
}

TEST(MailSlotWriterTest, TemporaryWriterReleasedWhenSendingRaises) {
  FakeMailSlotSystem system;
  system.slotExists = true;
  system.throwOnWrite = true;
  EXPECT_THROW(TMailSlotWriter::SendData(u"s", "y", 1, system), std::runtime_error);
  EXPECT_THROW(TMailSlotWriter::SendString(u"s", u"y", system), std::runtime_error);
  EXPECT_EQ(system.log, (Log{"open 1", "write 1 1", "close 1", "open 2", "write 2 1", "close 2"}));
}

// ---- Waiting for room in a reader's queue ----------------------------------

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = MailSlotClock;

Clock::time_point At(Clock::duration sinceStart) { return Clock::time_point{} + sinceStart; }

// One Write, `after` the previous one returned.
struct TimedWrite {
  Clock::duration after;
  std::size_t written;
};

struct WaitCase {
  const char* name;
  std::size_t queueLimit;
  std::size_t queuedAtStart;
  std::vector<Clock::duration> readTimes;
  std::vector<TimedWrite> writes;
  std::vector<Clock::duration> roomWaits;  // what each attempt was allowed
  Clock::duration waited;                  // the time all the writes took together
};

void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

class MailSlotWaitTest : public testing::TestWithParam<WaitCase> {};

TEST_P(MailSlotWaitTest, WaitsAsTheAllowanceAndTheReaderLet) {
  const auto& c = GetParam();
  FakeMailSlotSystem system;
  system.slotExists = true;
  system.queueLimit = c.queueLimit;
  system.queued = c.queuedAtStart;
  for (const auto t : c.readTimes) system.readTimes.insert(At(t));
  Clock::duration waited{};
  {
    TMailSlotWriter writer(u"Lyravox\\Messages", system);
    for (std::size_t i = 0; i < c.writes.size(); ++i) {
      system.now += c.writes[i].after;
      const Clock::time_point start = system.now;
      EXPECT_EQ(writer.Write("m", 1), c.writes[i].written) << "write " << i;
      waited += system.now - start;
    }
  }
  EXPECT_EQ(system.roomWaits, c.roomWaits);
  EXPECT_EQ(waited, c.waited);
  EXPECT_TRUE(system.held.empty()) << "the writer leaked a handle";
}

const Clock::duration kNoWait = Clock::duration::zero();

INSTANTIATE_TEST_SUITE_P(
    Cases, MailSlotWaitTest,
    testing::Values(
        // The queue is full; the reader reads again 200 ms later, and once
        // more 250 ms after that: each message waits for it, none is lost,
        // and the second wait is allowed only what the first left.
        WaitCase{"ReaderSlowForAMomentLosesNothing",
                 2,
                 2,
                 {milliseconds(200), milliseconds(450)},
                 {{kNoWait, 1}, {kNoWait, 1}, {kNoWait, 1}},
                 {milliseconds(500), milliseconds(300), milliseconds(300)},
                 milliseconds(450)},
        // A reader that has stopped: the first message waits the whole
        // allowance and is dropped, its retry does not wait, and neither do
        // the messages after it.
        WaitCase{"StoppedReaderCostsOneWaitInAll",
                 1,
                 1,
                 {},
                 {{kNoWait, 0}, {milliseconds(10), 0}, {milliseconds(10), 0}, {seconds(30), 0}},
                 {milliseconds(500), kNoWait, kNoWait, kNoWait, kNoWait, kNoWait, kNoWait, kNoWait},
                 milliseconds(500)},
        // The stopped reader reads again: the next message goes through
        // without a wait, and the one after it may wait again, with what has
        // grown back of the allowance: a tenth of the 2 s that passed.
        WaitCase{"ReaderBackAfterStoppingIsWaitedForAgain",
                 1,
                 1,
                 {milliseconds(2300), milliseconds(2550)},
                 {{kNoWait, 0}, {seconds(2), 1}, {kNoWait, 1}},
                 {milliseconds(500), kNoWait, kNoWait, milliseconds(200)},
                 milliseconds(550)},
        // After a long quiet time the allowance is whole again, not more.
        WaitCase{"AllowanceGrowsBackToItsWholeOnly",
                 1,
                 1,
                 {milliseconds(200), seconds(3600) + milliseconds(500)},
                 {{kNoWait, 1}, {seconds(3600), 1}},
                 {milliseconds(500), milliseconds(500)},
                 milliseconds(500)}),
    testutil::CaseName());

// A reader that reads, but one message a second while ten come: once its
// first 500 ms are spent, the writer waits at most a tenth of the time.
TEST(MailSlotWaitTest, SlowReaderCostsAtMostATenthOfTheTime) {
  FakeMailSlotSystem system;
  system.slotExists = true;
  system.queueLimit = 1;
  system.ReadEvery(seconds(1), At(seconds(1)), At(seconds(600)));
  TMailSlotWriter writer(u"Lyravox\\Messages", system);
  Clock::duration waited{};
  std::size_t delivered = 0;
  while (system.now < At(seconds(600))) {
    const Clock::time_point start = system.now;
    if (writer.Write("m", 1) == 1) ++delivered;
    waited += system.now - start;
    system.now += milliseconds(100);
  }
  const Clock::duration elapsed = system.now - At(Clock::duration::zero());
  EXPECT_LE(waited, kMailSlotWaitAllowance + elapsed / kMailSlotWaitShare);
  // Still, the reader gets a message at every read.
  EXPECT_GE(delivered, 599U);
}

// A write that fails for another reason than a full queue is retried as
// always, and leaves the writer willing to wait for its next reader.
TEST(MailSlotWaitTest, FailureOtherThanAFullQueueIsNotTakenForAStoppedReader) {
  FakeMailSlotSystem system;
  system.slotExists = true;
  system.queueLimit = 1;
  system.queued = 1;
  TMailSlotWriter writer(u"Lyravox\\Messages", system);
  EXPECT_EQ(writer.Write("a", 1), 0U);  // full: waits, then the retry does not
  system.failWrites = true;
  EXPECT_EQ(writer.Write("b", 1), 0U);  // fails: the reader is gone
  system.failWrites = false;
  system.queued = 0;
  system.now += seconds(10);
  EXPECT_EQ(writer.Write("c", 1), 1U);
  EXPECT_EQ(system.roomWaits, (std::vector<Clock::duration>{milliseconds(500), kNoWait, kNoWait,
                                                            kNoWait, milliseconds(500)}));
  EXPECT_EQ(system.log,
            (Log{"open 1", "write 1 1 full", "close 1", "open 2", "write 2 1 full", "close 2",
                 "open 3", "write 3 1", "close 3", "open 4", "write 4 1", "write 4 1"}));
}

// A message given up for a full queue lets go of the slot, on the first
// attempt and on the retry: a writer that held on could keep a slot whose
// owner has gone alive (Wine does), and its name from the next owner. The
// next message opens the slot afresh and, once there is room, is delivered
// through that one handle.
TEST(MailSlotWaitTest, MessageGivenUpForAFullQueueLetsGoOfTheSlot) {
  FakeMailSlotSystem system;
  system.slotExists = true;
  system.queueLimit = 1;
  system.queued = 1;
  TMailSlotWriter writer(u"Lyravox\\Messages", system);
  EXPECT_EQ(writer.Write("a", 1), 0U);
  EXPECT_TRUE(system.held.empty()) << "the writer still holds the slot";
  EXPECT_EQ(writer.Write("b", 1), 0U);
  EXPECT_TRUE(system.held.empty()) << "the writer still holds the slot";
  system.queueLimit.reset();  // the reader is back, and reads as fast as it comes
  EXPECT_EQ(writer.Write("c", 1), 1U);
  EXPECT_EQ(writer.Write("d", 1), 1U);
  EXPECT_EQ(system.log, (Log{"open 1", "write 1 1 full", "close 1", "open 2", "write 2 1 full",
                             "close 2", "open 3", "write 3 1 full", "close 3", "open 4",
                             "write 4 1 full", "close 4", "open 5", "write 5 1", "write 5 1"}));
  EXPECT_EQ(system.delivered, (std::vector<std::string>{"c", "d"}));
}

}  // namespace
}  // namespace ostrivane
