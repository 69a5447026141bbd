// The program's resources (icon, version, manifest). The test program is
// built with the same resources as Ostrivane.exe, so it reads its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <string>
#include <string_view>
#include <vector>

#include "app/icon_file.h"
#include "app/tray_image.h"

namespace ostrivane {
namespace {

std::string_view Resource(const wchar_t* name, const wchar_t* type) {
  const HRSRC found = FindResourceW(nullptr, name, type);
  if (found == nullptr) return {};
  const HGLOBAL loaded = LoadResource(nullptr, found);
  const void* data = LockResource(loaded);
  if (data == nullptr) return {};
  return {static_cast<const char*>(data), SizeofResource(nullptr, found)};
}

// The icon group's entries (GRPICONDIR / GRPICONDIRENTRY, packed).
struct GroupEntry {
  int width, height, bits, id;
};

std::vector<GroupEntry> IconGroup(std::string_view group) {
  const auto u16 = [&](std::size_t at) {
    return static_cast<int>(static_cast<unsigned char>(group.at(at)) |
                            (static_cast<unsigned char>(group.at(at + 1)) << 8));
  };
  std::vector<GroupEntry> entries;
  const int count = u16(4);
  for (int i = 0; i < count; ++i) {
    const std::size_t at = 6 + 14 * static_cast<std::size_t>(i);
    const auto side = [&](std::size_t k) {
      const int v = static_cast<unsigned char>(group.at(at + k));
      return v == 0 ? 256 : v;
    };
    entries.push_back({side(0), side(1), u16(at + 6), u16(at + 12)});
  }
  return entries;
}

TEST(ProgramResources, IconCarriesEverySizeIn32BitColourAndTheSystemTakesEach) {
  const auto group = IconGroup(Resource(L"MAINICON", MAKEINTRESOURCEW(14)));  // RT_GROUP_ICON
  ASSERT_EQ(group.size(), std::size(kProgramIconFileSizes));
  for (std::size_t i = 0; i < group.size(); ++i) {
    const GroupEntry& e = group[i];
    SCOPED_TRACE(e.width);
    EXPECT_EQ(e.width, kProgramIconFileSizes[i]);
    EXPECT_EQ(e.height, kProgramIconFileSizes[i]);
    EXPECT_EQ(e.bits, 32);
    const std::string_view image =
        Resource(MAKEINTRESOURCEW(e.id), MAKEINTRESOURCEW(3));  // RT_ICON
    ASSERT_FALSE(image.empty());
    const HICON icon = CreateIconFromResourceEx(
        reinterpret_cast<PBYTE>(const_cast<char*>(image.data())), static_cast<DWORD>(image.size()),
        TRUE, 0x00030000, e.width, e.height, LR_DEFAULTCOLOR);
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, e.width);
    EXPECT_EQ(colour.bmHeight, e.height);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

TEST(ProgramResources, SmallIconHasTheDrawnPixelsWithAlpha) {
  const HICON icon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = 16;
  format.bmiHeader.biHeight = -16;  // top-down
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> pixels(256);
  const HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, info.hbmColor, 0, 16, pixels.data(), &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
  ASSERT_EQ(rows, 16);
  const TBitmap32 drawn = DrawProgramIcon(16);
  int alphaDiffers = 0;
  int partlyTransparent = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const std::uint32_t p = pixels[static_cast<std::size_t>(y * 16 + x)];
      if ((p >> 24) != (drawn.At(x, y) >> 24)) ++alphaDiffers;
      if ((p >> 24) > 0 && (p >> 24) < 255) ++partlyTransparent;
      // Opaque pixels keep their colour exactly.
      if ((drawn.At(x, y) >> 24) == 255) {
        EXPECT_EQ(p, drawn.At(x, y)) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(alphaDiffers, 0);
  EXPECT_GT(partlyTransparent, 0) << "smooth edges";
}

std::wstring VersionString(const std::vector<std::byte>& block, const wchar_t* name) {
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return {};
  return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

TEST(ProgramResources, VersionInformationNamesTheProductAndItsVersion) {
  wchar_t program[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0U);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(program, &handle);
  ASSERT_GT(size, 0U);
  std::vector<std::byte> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(program, 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDU);
  EXPECT_EQ(fixed->dwFileVersionMS, (OSTRIVANE_VERSION_MAJOR << 16U) | OSTRIVANE_VERSION_MINOR);
  EXPECT_EQ(fixed->dwFileVersionLS, OSTRIVANE_VERSION_PATCH << 16U);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(VersionString(block, L"ProductName"), L"Ostrivane");
  EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"Ostrivane.exe");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), L"" OSTRIVANE_VERSION_TEXT);
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"" OSTRIVANE_VERSION_TEXT L".0");
}

TEST(ProgramResources, ManifestAsksForCommonControls6PerMonitorDpiAndTheUsersRights) {
  const std::string_view manifest = Resource(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_FALSE(manifest.empty());
  for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
                           ">PerMonitorV2, PerMonitor</dpiAwareness>", ">true/pm</dpiAware>",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(manifest.find(part), std::string_view::npos) << part;
  }
  // And the system acted on it: the process is DPI aware, and the common
  // controls come from the side-by-side assembly of version 6.
  EXPECT_TRUE(IsProcessDPIAware());
  ACTCTX_SECTION_KEYED_DATA redirection{};
  redirection.cbSize = sizeof redirection;
  EXPECT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                       L"comctl32.dll", &redirection));
  const HMODULE controls = LoadLibraryW(L"comctl32.dll");
  ASSERT_NE(controls, nullptr);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(controls, path, MAX_PATH);
  std::wstring lower(path);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_NE(lower.find(L"\\winsxs\\"), std::wstring::npos) << lower;
  EXPECT_NE(lower.find(L"common-controls"), std::wstring::npos) << lower;
  FreeLibrary(controls);
}

}  // namespace
}  // namespace ostrivane
