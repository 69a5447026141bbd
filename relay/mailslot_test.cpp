#include "relay/mailslot.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ostrivane
