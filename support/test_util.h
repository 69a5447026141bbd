// Helpers shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrivane::testutil {

// Names a parameterised case after its `name` member.
struct CaseName {
  template <typename T>
  std::string operator()(const testing::TestParamInfo<T>& p) const {
    return std::string(p.param.name);
  }
};

// One log of what several fakes were asked, in order, from any thread.
class CallLog {
 public:
  void Add(std::string call) {
    const std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  [[nodiscard]] std::vector<std::string> Get() const {
    const std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// `value` in upper-case hexadecimal, at least `digits` digits long:
// Hex(0x8000) is "8000", Hex(0xE9, 4) is "00E9".
inline std::string Hex(std::uint32_t value, std::size_t digits = 1) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0 || text.size() < digits);
  return text;
}

// Every code unit of `units` as " XXXX", for failure messages: " D83D DE00".
inline std::string Hex(std::u16string_view units) {
  std::string text;
  for (const char16_t unit : units) text += " " + Hex(unit, 4);
  return text;
}

#ifndef _WIN32
// Sets environment variables for the lifetime of the object and restores
// them afterwards.
class EnvironmentScope {
 public:
  EnvironmentScope() = default;
  EnvironmentScope(const EnvironmentScope&) = delete;
  EnvironmentScope& operator=(const EnvironmentScope&) = delete;
  ~EnvironmentScope() {
    // Latest first, so that a variable set twice gets its first value back.
    std::for_each(saved_.rbegin(), saved_.rend(), [](const auto& entry) {
      const auto& [name, value] = entry;
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    });
  }
  // `value` nullptr: unset.
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old == nullptr ? std::nullopt : std::optional<std::string>(old));
    if (value == nullptr) {
      ::unsetenv(name);
    } else {
      ::setenv(name, value, 1);
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
#endif

// A new, empty folder below the system's temporary folder that only this
// user can enter; removed with everything in it when the object ends.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(const std::string& prefix = "ostrivane-test") {
    namespace fs = std::filesystem;
    std::random_device random;
    // Creating the folder is what reserves its name.
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() / (prefix + "-" + std::to_string(random()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) path_ = candidate;
    }
    if (path_.empty()) {
      ADD_FAILURE() << "cannot create a temporary folder";
      return;
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace);
  }
  ~ScopedTempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& Path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

#ifndef _WIN32
// A test whose XDG_RUNTIME_DIR is a new private temporary folder from the
// start of the test to its end.
class TempRuntimeDirTest : public testing::Test {
 protected:
  TempRuntimeDirTest() { environment_.Set("XDG_RUNTIME_DIR", RuntimeDir().c_str()); }

  // The folder that XDG_RUNTIME_DIR names.
  [[nodiscard]] std::string RuntimeDir() const { return tempDir_.Path().string(); }

 private:
  ScopedTempDir tempDir_{"ostrivane-runtime"};
  EnvironmentScope environment_;
};
#endif

}  // namespace ostrivane::testutil
