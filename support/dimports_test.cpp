// The optional-function table against a stand-in loader: which module each
// entry asks for and how, what it binds to, how often the system is asked,
// the shared module slots, the guarded load and what finalisation releases.
#include "support/dimports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cfenv>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "support/dimports_fake.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using DImports::ProcAddress;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testutil::FakeDynamicLibraries;

// Calls of the system stand-ins, per table row.
std::array<std::atomic<int>, 17> gSystemCalls{};

// A system function of the entry's exact type that only counts its calls.
template <std::size_t row, typename R, typename... Args>
R OSTRIVANE_WINAPI SystemStandIn(Args...) {
  ++gSystemCalls[row];
  if constexpr (std::is_void_v<R>) {
    return;
  } else {
    return R{};
  }
}

template <std::size_t row, typename R, typename... Args>
ProcAddress StandInFor(const DImports::Entry<R, Args...>&) {
  return reinterpret_cast<ProcAddress>(&SystemStandIn<row, R, Args...>);
}

// How an entry obtains its module's handle.
enum class Rule { kLookUp, kLookUpOrLoad, kLoadIfEmpty, kGuardedLoadIfEmpty };

const DImports::GUID kSomeInterface{};

// Results widened to one type; pointers by their address.
template <typename T>
std::int64_t Widen(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(value));
  } else {
    return static_cast<std::int64_t>(value);
  }
}

struct EntryCase {
  const char* name;
  std::size_t row;
  const char* file;
  Rule rule;
  ProcAddress (*standIn)();
  std::function<std::int64_t()> call;  // with null and zero arguments
  std::int64_t fallbackResult;
};

template <std::size_t row, auto& entry>
ProcAddress StandIn() {
  return StandInFor<row>(entry);
}

const std::vector<EntryCase> kEntryCases{
    {"GetUserDefaultUILanguage", 0, "kernel32.dll", Rule::kLookUp,
     &StandIn<0, DImports::GetUserDefaultUILanguage>,
     [] { return Widen(DImports::GetUserDefaultUILanguage()); }, 0},
    {"GetGlyphIndicesA", 1, "gdi32.dll", Rule::kLookUpOrLoad,
     &StandIn<1, DImports::GetGlyphIndicesA>,
     [] {
       DImports::WORD indices[1] = {0xBEEF};
       const auto result = DImports::GetGlyphIndicesA(nullptr, "a", 1, indices, 0);
       return indices[0] == 0xBEEF ? Widen(result) : -1;  // nothing written
     },
     0xFFFFFFFF},
    {"GetGlyphIndicesW", 2, "gdi32.dll", Rule::kLookUpOrLoad,
     &StandIn<2, DImports::GetGlyphIndicesW>,
     [] {
       DImports::WORD indices[1] = {0xBEEF};
       const auto result = DImports::GetGlyphIndicesW(nullptr, nullptr, 0, indices, 0);
       return indices[0] == 0xBEEF ? Widen(result) : -1;  // nothing written
     },
     0xFFFFFFFF},
    {"SetThreadExecutionState", 3, "kernel32.dll", Rule::kLookUp,
     &StandIn<3, DImports::SetThreadExecutionState>,
     [] { return Widen(DImports::SetThreadExecutionState(0x80000000U)); }, 0},
    {"PrintWindow", 4, "user32.dll", Rule::kLookUpOrLoad, &StandIn<4, DImports::PrintWindow>,
     [] { return Widen(DImports::PrintWindow(nullptr, nullptr, 0)); }, 0},
    {"StrCmpLogicalW", 5, "shlwapi.dll", Rule::kLookUpOrLoad, &StandIn<5, DImports::StrCmpLogicalW>,
     [] { return Widen(DImports::StrCmpLogicalW(nullptr, nullptr)); }, 0},
    {"SHCreateItemFromParsingName", 6, "shell32.dll", Rule::kLoadIfEmpty,
     &StandIn<6, DImports::SHCreateItemFromParsingName>,
     [] {
       void* item = &item;
       const auto result =
           DImports::SHCreateItemFromParsingName(nullptr, nullptr, kSomeInterface, &item);
       return item == nullptr ? Widen(result) : -1;  // the out interface must be null
     },
     Widen(DImports::kENotImpl)},
    {"AvSetMmThreadCharacteristicsW", 7, "avrt.dll", Rule::kLookUpOrLoad,
     &StandIn<7, DImports::AvSetMmThreadCharacteristicsW>,
     [] { return Widen(DImports::AvSetMmThreadCharacteristicsW(nullptr, nullptr)); }, 0},
    {"AvRevertMmThreadCharacteristics", 8, "avrt.dll", Rule::kLookUpOrLoad,
     &StandIn<8, DImports::AvRevertMmThreadCharacteristics>,
     [] { return Widen(DImports::AvRevertMmThreadCharacteristics(nullptr)); }, -1},
    {"ILCreateFromPathW", 9, "shell32.dll", Rule::kLoadIfEmpty,
     &StandIn<9, DImports::ILCreateFromPathW>,
     [] { return Widen(DImports::ILCreateFromPathW(nullptr)); }, 0},
    {"ILClone", 10, "shell32.dll", Rule::kLoadIfEmpty, &StandIn<10, DImports::ILClone>,
     [] { return Widen(DImports::ILClone(nullptr)); }, 0},
    {"ILRemoveLastID", 11, "shell32.dll", Rule::kLoadIfEmpty,
     &StandIn<11, DImports::ILRemoveLastID>,
     [] { return Widen(DImports::ILRemoveLastID(nullptr)); }, 0},
    {"ILFree", 12, "shell32.dll", Rule::kLoadIfEmpty, &StandIn<12, DImports::ILFree>,
     [] {
       DImports::ILFree(nullptr);
       return std::int64_t{0};
     },
     0},
    {"CompareStringOrdinal", 13, "kernel32.dll", Rule::kLookUp,
     &StandIn<13, DImports::CompareStringOrdinal>,
     [] { return Widen(DImports::CompareStringOrdinal(nullptr, 0, nullptr, 0, 1)); }, 2},
    {"SHQueryUserNotificationState", 14, "shell32.dll", Rule::kGuardedLoadIfEmpty,
     &StandIn<14, DImports::SHQueryUserNotificationState>,
     [] {
       auto state = static_cast<DImports::QUERY_USER_NOTIFICATION_STATE>(5);
       const auto result = DImports::SHQueryUserNotificationState(&state);
       return state == 5 ? Widen(result) : -1;  // the out state must stay untouched
     },
     Widen(DImports::kENotImpl)},
    {"GetDpiForMonitor", 15, "Shcore.dll", Rule::kGuardedLoadIfEmpty,
     &StandIn<15, DImports::GetDpiForMonitor>,
     [] {
       DImports::UINT x = 0;
       DImports::UINT y = 0;
       const auto result =
           DImports::GetDpiForMonitor(nullptr, DImports::MONITOR_DPI_TYPE{}, &x, &y);
       return x > 0 && y > 0 ? Widen(result) : -1;  // both axes written
     },
     0},
    {"CancelIoEx", 16, "kernel32.dll", Rule::kLookUp, &StandIn<16, DImports::CancelIoEx>,
     [] { return Widen(DImports::CancelIoEx(nullptr, nullptr)); }, 0},
};

constexpr std::uint32_t kInitialErrorMode = 0x0001;

// The operations a first call asks of the loader when the module is a file
// that is not loaded yet; `found` adds the function look-up.
std::vector<std::string> FirstCallLog(const EntryCase& c, bool found) {
  const std::string file = c.file;
  std::vector<std::string> log;
  switch (c.rule) {
    case Rule::kLookUp:
      log = {"find " + file};
      return log;  // never loaded, so never looked into
    case Rule::kLookUpOrLoad:
      log = {"find " + file, "load " + file};
      break;
    case Rule::kLoadIfEmpty:
      log = {"load " + file};
      break;
    case Rule::kGuardedLoadIfEmpty:
      log = {"mode 0x8000", "load " + file, "mode 0x1"};
      break;
  }
  if (found) log.push_back("proc " + file + " " + c.name);
  return log;
}

class DImportsTest : public testing::Test {
 protected:
  void SetUp() override {
    for (auto& calls : gSystemCalls) calls = 0;
    libraries_.SetInitialErrorMode(kInitialErrorMode);
    InitializeDImports(libraries_);
  }
  void TearDown() override { InitializeDImports(DImports::DefaultDynamicLibraries()); }

  FakeDynamicLibraries libraries_;
};

class DImportsEntryTest : public DImportsTest, public testing::WithParamInterface<EntryCase> {};

TEST_P(DImportsEntryTest, BindsToTheSystemFunctionOfAnAlreadyLoadedModule) {
  const EntryCase& c = GetParam();
  libraries_.AddLoaded(c.file);
  libraries_.AddFunction(c.file, c.name, c.standIn());
  c.call();
  c.call();
  EXPECT_EQ(gSystemCalls[c.row], 2);
  const std::string file = c.file;
  switch (c.rule) {
    case Rule::kLookUp:
    case Rule::kLookUpOrLoad:
      EXPECT_THAT(libraries_.Log(), ElementsAre("find " + file, "proc " + file + " " + c.name));
      break;
    case Rule::kLoadIfEmpty:
    case Rule::kGuardedLoadIfEmpty:
      // These modules are loaded by the table whatever their state.
      EXPECT_THAT(libraries_.Log(), ElementsAreArray(FirstCallLog(c, true)));
      break;
  }
}

TEST_P(DImportsEntryTest, LoadsItsModuleByItsRuleAndAsksTheSystemOnce) {
  const EntryCase& c = GetParam();
  libraries_.AddFile(c.file);
  libraries_.AddFunction(c.file, c.name, c.standIn());
  c.call();
  c.call();
  EXPECT_THAT(libraries_.Log(), ElementsAreArray(FirstCallLog(c, c.rule != Rule::kLookUp)));
  // kernel32 is present in every process: its entries never load it and
  // fall back when the look-up fails.
  EXPECT_EQ(gSystemCalls[c.row], c.rule == Rule::kLookUp ? 0 : 2);
  EXPECT_EQ(libraries_.ErrorMode(), kInitialErrorMode);
}

TEST_P(DImportsEntryTest, FallsBackWhenTheModuleIsMissing) {
  const EntryCase& c = GetParam();
  EXPECT_EQ(c.call(), c.fallbackResult);
  EXPECT_EQ(c.call(), c.fallbackResult);
  EXPECT_EQ(gSystemCalls[c.row], 0);
  EXPECT_THAT(libraries_.Log(), ElementsAreArray(FirstCallLog(c, false)));
}

TEST_P(DImportsEntryTest, FallsBackWhenTheModuleLacksTheFunction) {
  const EntryCase& c = GetParam();
  libraries_.AddLoaded(c.file);
  libraries_.AddFunction(c.file, "SomethingElse", c.standIn());
  EXPECT_EQ(c.call(), c.fallbackResult);
  EXPECT_EQ(c.call(), c.fallbackResult);
  EXPECT_EQ(gSystemCalls[c.row], 0);
  const std::vector<std::string> log = libraries_.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "proc " + std::string(c.file) + " " + c.name), 1);
}

TEST_P(DImportsEntryTest, ModuleInitialisationArmsTheEntryAgain) {
  const EntryCase& c = GetParam();
  c.call();  // bound to the fallback
  libraries_.AddLoaded(c.file);
  libraries_.AddFunction(c.file, c.name, c.standIn());
  InitializeDImports(libraries_);
  c.call();
  EXPECT_EQ(gSystemCalls[c.row], 1);
}

INSTANTIATE_TEST_SUITE_P(AllEntries, DImportsEntryTest, testing::ValuesIn(kEntryCases),
                         testutil::CaseName());

const EntryCase& CaseOf(const char* name) {
  for (const EntryCase& c : kEntryCases) {
    if (std::string(c.name) == name) return c;
  }
  throw std::logic_error("no such entry");
}

void Call(const char* name) { CaseOf(name).call(); }

TEST_F(DImportsTest, Shell32IsLoadedByTheFirstOfItsEntriesOnly) {
  libraries_.AddFile("shell32.dll");
  Call("ILClone");
  Call("ILFree");
  Call("SHQueryUserNotificationState");  // guarded, but the slot is filled
  Call("SHCreateItemFromParsingName");
  EXPECT_THAT(libraries_.Log(),
              ElementsAre("load shell32.dll", "proc shell32.dll ILClone", "proc shell32.dll ILFree",
                          "proc shell32.dll SHQueryUserNotificationState",
                          "proc shell32.dll SHCreateItemFromParsingName"));
}

TEST_F(DImportsTest, AFailedLoadLeavesTheSlotEmptyForTheNextEntry) {
  Call("SHQueryUserNotificationState");
  libraries_.AddFile("shell32.dll");
  Call("ILRemoveLastID");
  EXPECT_THAT(libraries_.Log(), ElementsAre("mode 0x8000", "load shell32.dll", "mode 0x1",
                                            "load shell32.dll", "proc shell32.dll ILRemoveLastID"));
}

TEST_F(DImportsTest, ModuleInitialisationEmptiesTheSlots) {
  libraries_.AddFile("shell32.dll");
  Call("ILClone");
  InitializeDImports(libraries_);
  Call("ILFree");
  EXPECT_THAT(libraries_.Log(), ElementsAre("load shell32.dll", "proc shell32.dll ILClone",
                                            "load shell32.dll", "proc shell32.dll ILFree"));
}

TEST_F(DImportsTest, AvrtLoadedByOneEntryIsFoundByTheOther) {
  libraries_.AddFile("avrt.dll");
  Call("AvSetMmThreadCharacteristicsW");
  Call("AvRevertMmThreadCharacteristics");
  EXPECT_THAT(
      libraries_.Log(),
      ElementsAre("find avrt.dll", "load avrt.dll", "proc avrt.dll AvSetMmThreadCharacteristicsW",
                  "find avrt.dll", "proc avrt.dll AvRevertMmThreadCharacteristics"));
}

TEST_F(DImportsTest, ThreadsCallingAnUnboundEntryTogetherAllReachTheSystem) {
  const EntryCase& c = CaseOf("StrCmpLogicalW");
  libraries_.AddLoaded(c.file);
  libraries_.AddFunction(c.file, c.name, c.standIn());
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      c.call();
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(gSystemCalls[c.row], kThreads);
  const std::vector<std::string> log = libraries_.Log();
  const auto lookups = std::count(log.begin(), log.end(), "proc shlwapi.dll StrCmpLogicalW");
  EXPECT_GE(lookups, 1);
  EXPECT_LE(lookups, kThreads);
}

// Disturbs the floating-point environment as a careless library's start-up
// code might.
void DisturbFloatingPoint() {
  std::fesetround(FE_DOWNWARD);
  std::feraiseexcept(FE_DIVBYZERO | FE_INEXACT);
}

TEST_F(DImportsTest, GuardedLoadSuppressesErrorBoxesAndKeepsTheFloatingPointEnvironment) {
  libraries_.AddFile("Shcore.dll");
  libraries_.SetOnLoad(&DisturbFloatingPoint);
  std::feclearexcept(FE_ALL_EXCEPT);
  const int rounding = std::fegetround();
  ASSERT_NE(rounding, FE_DOWNWARD);
  EXPECT_NE(DImports::GuardedLoad(libraries_, "Shcore.dll"), nullptr);
  EXPECT_EQ(std::fegetround(), rounding);
  EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
  EXPECT_THAT(libraries_.ModesDuringLoad(), ElementsAre(DImports::kSemNoOpenFileErrorBox));
  EXPECT_EQ(libraries_.ErrorMode(), kInitialErrorMode);
}

TEST_F(DImportsTest, GuardedLoadOfAMissingFileRestoresTheErrorModeToo) {
  EXPECT_EQ(DImports::GuardedLoad(libraries_, "Shcore.dll"), nullptr);
  EXPECT_THAT(libraries_.ModesDuringLoad(), ElementsAre(DImports::kSemNoOpenFileErrorBox));
  EXPECT_EQ(libraries_.ErrorMode(), kInitialErrorMode);
}

enum class Present { kNothing, kSystemModulesOnly, kEverythingLoaded };

struct FinalizeCase {
  const char* name;
  Present present;
  bool allEntries;  // otherwise only GetUserDefaultUILanguage
  bool executable;
  std::vector<std::string> released;
};

const std::vector<FinalizeCase> kFinalizeCases{
    {"OnlyTheLanguageQueryLoadsAndReleasesNothing", Present::kSystemModulesOnly, false, true, {}},
    {"ModulesTheTableLoadedAreReleased",
     Present::kSystemModulesOnly,
     true,
     true,
     {"release shlwapi.dll", "release shell32.dll", "release avrt.dll", "release Shcore.dll"}},
    {"ModulesFoundLoadedAreKeptButShell32AndShcoreReleased",
     Present::kEverythingLoaded,
     true,
     true,
     {"release shell32.dll", "release Shcore.dll"}},
    {"NothingIsReleasedFromALibrary", Present::kSystemModulesOnly, true, false, {}},
    {"NothingLoadedNothingReleased", Present::kNothing, true, true, {}},
};

class DImportsFinalizeTest : public DImportsTest,
                             public testing::WithParamInterface<FinalizeCase> {};

TEST_P(DImportsFinalizeTest, ReleasesExactlyWhatTheTableLoaded) {
  const FinalizeCase& c = GetParam();
  // kernel32 is always loaded; user32 and gdi32 sometimes only as files, and
  // the table then loads them but keeps them.
  const std::vector<std::string> system{"kernel32.dll", "user32.dll", "gdi32.dll"};
  const std::vector<std::string> optional{"shlwapi.dll", "shell32.dll", "avrt.dll", "Shcore.dll"};
  if (c.present != Present::kNothing) {
    libraries_.AddLoaded("kernel32.dll");
    libraries_.AddFile("user32.dll");
    libraries_.AddFile("gdi32.dll");
    for (const std::string& file : optional) {
      if (c.present == Present::kEverythingLoaded) {
        libraries_.AddLoaded(file);
      } else {
        libraries_.AddFile(file);
      }
    }
  }
  libraries_.SetExecutable(c.executable);
  if (c.allEntries) {
    for (const EntryCase& entry : kEntryCases) entry.call();
  } else {
    Call("GetUserDefaultUILanguage");
    EXPECT_THAT(libraries_.Log(),
                ElementsAre("find kernel32.dll", "proc kernel32.dll GetUserDefaultUILanguage"));
  }
  libraries_.ClearLog();
  FinalizeDImports();
  EXPECT_THAT(libraries_.Log(), ElementsAreArray(c.released));
  libraries_.ClearLog();
  FinalizeDImports();
  EXPECT_THAT(libraries_.Log(), ElementsAre()) << "released twice";
}

INSTANTIATE_TEST_SUITE_P(Runs, DImportsFinalizeTest, testing::ValuesIn(kFinalizeCases),
                         testutil::CaseName());

TEST_F(DImportsTest, FinalisationLeavesTheEntriesBound) {
  const EntryCase& c = CaseOf("ILClone");
  libraries_.AddFile(c.file);
  libraries_.AddFunction(c.file, c.name, c.standIn());
  c.call();
  FinalizeDImports();
  libraries_.ClearLog();
  c.call();
  EXPECT_EQ(gSystemCalls[c.row], 2);
  EXPECT_THAT(libraries_.Log(), ElementsAre());
}

}  // namespace
}  // namespace ostrivane
