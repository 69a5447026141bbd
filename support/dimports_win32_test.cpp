// The table bound by Windows' own loader: the entries reach the system's
// functions, and the DPI fallback reads the screen's device context.
#include <gtest/gtest.h>
#include <windows.h>

#include "support/dimports.h"
#include "support/dimports_platform.h"

namespace ostrivane {
namespace {

class DImportsSystemTest : public testing::Test {
 protected:
  void SetUp() override { InitializeDImports(); }
};

TEST_F(DImportsSystemTest, TheInterfaceLanguageComesFromTheSystem) {
  const DImports::LANGID first = DImports::GetUserDefaultUILanguage();
  EXPECT_NE(first, 0);
  EXPECT_EQ(DImports::GetUserDefaultUILanguage(), first);
  EXPECT_EQ(first, ::GetUserDefaultUILanguage());
}

TEST_F(DImportsSystemTest, TheSystemsStrCmpLogicalWComparesNumbersByValue) {
  EXPECT_EQ(DImports::StrCmpLogicalW(u"file10", u"file9"), 1);
  EXPECT_EQ(DImports::StrCmpLogicalW(u"file9", u"file10"), -1);
}

TEST_F(DImportsSystemTest, TheSystemsCompareStringOrdinalIgnoresCaseOnRequest) {
  EXPECT_EQ(DImports::CompareStringOrdinal(u"Hello", -1, u"hELLO", -1, TRUE), CSTR_EQUAL);
  EXPECT_NE(DImports::CompareStringOrdinal(u"Hello", -1, u"hELLO", -1, FALSE), CSTR_EQUAL);
}

TEST_F(DImportsSystemTest, GetDpiForMonitorFallbackMatchesTheScreen) {
  HDC screen = ::GetDC(nullptr);
  const int expectedX = ::GetDeviceCaps(screen, LOGPIXELSX);
  const int expectedY = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  DImports::UINT x = 0;
  DImports::UINT y = 0;
  ASSERT_EQ(DImports::Fallback::GetDpiForMonitor(nullptr, DImports::MDT_RAW_DPI, &x, &y), S_OK);
  EXPECT_EQ(static_cast<int>(x), expectedX);
  EXPECT_EQ(static_cast<int>(y), expectedY);
}

}  // namespace
}  // namespace ostrivane
