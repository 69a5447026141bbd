// A firewall policy held in memory, for the tests of the verdict and of the
// changes: it reads back what it holds, changes it as asked, and can fail
// to be read or refuse changes as a standard user's would.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "net/firewall_rules.h"

namespace ostrivane::testutil {

class FakeFirewallPolicy final : public firewall::IFirewallPolicy {
 public:
  explicit FakeFirewallPolicy(firewall::PolicySettings settings = {})
      : settings_(std::move(settings)) {
    for (firewall::Rule& rule : settings_.rules) rule.id = nextId_++;
  }

  std::optional<firewall::PolicySettings> Read() override {
    if (readFails) return std::nullopt;
    return settings_;
  }

  std::string Remove(const firewall::Rule& rule) override {
    if (denyChanges) return std::string(firewall::kAccessDenied);
    if (keepsNothing) return {};
    const auto found = std::find_if(settings_.rules.begin(), settings_.rules.end(),
                                    [&](const firewall::Rule& r) { return r.id == rule.id; });
    if (found == settings_.rules.end()) return "no such rule";
    settings_.rules.erase(found);
    return {};
  }

  std::string Add(const firewall::Rule& rule) override {
    if (denyChanges) return std::string(firewall::kAccessDenied);
    if (keepsNothing) return {};
    settings_.rules.push_back(rule);
    settings_.rules.back().id = nextId_++;
    return {};
  }

  [[nodiscard]] const firewall::PolicySettings& Settings() const { return settings_; }

  bool readFails = false;     // Read answers nothing, as after a COM failure
  bool denyChanges = false;   // changes are refused, as for a standard user
  bool keepsNothing = false;  // changes are accepted and forgotten, as by Wine

 private:
  firewall::PolicySettings settings_;
  std::size_t nextId_ = 1;
};

}  // namespace ostrivane::testutil
