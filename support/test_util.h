// Helpers shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace ostrivane::testutil {

// Names a parameterised case after its `name` member.
struct CaseName {
  template <typename T>
  std::string operator()(const testing::TestParamInfo<T>& p) const {
    return std::string(p.param.name);
  }
};

}  // namespace ostrivane::testutil
