// Helpers shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
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

#ifndef _WIN32
// Sets environment variables for the lifetime of the object and restores
// them afterwards.
class EnvironmentScope {
 public:
  EnvironmentScope() = default;
  EnvironmentScope(const EnvironmentScope&) = delete;
  EnvironmentScope& operator=(const EnvironmentScope&) = delete;
  ~EnvironmentScope() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
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

}  // namespace ostrivane::testutil
