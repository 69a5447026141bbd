#include "net/firewall_rules.h"

#include <array>
#include <utility>

#include "support/utf8.h"

namespace ostrivane::firewall {
namespace {

// The upper case of one UTF-16 unit for the scripts whose paths the
// firewall meets in practice: ASCII, Latin-1, Latin Extended-A, Greek and
// Cyrillic. Other characters compare as they are.
char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  // Latin Extended-A: pairs, upper case first, except the odd stretch
  // U+0139..U+0148 and U+0179..U+017E, where the upper case comes second.
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return static_cast<char16_t>(c & ~char16_t{1});
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
    return (c & 1) == 0 ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

std::u16string_view Trimmed(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

bool IsEvery(std::u16string_view list) {
  const std::u16string_view trimmed = Trimmed(list);
  return trimmed.empty() || trimmed == u"*";
}

// A decimal port number, 0..65535, digits only.
std::optional<std::uint32_t> PortNumber(std::u16string_view text) {
  text = Trimmed(text);
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::uint32_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - u'0');
  }
  if (value > 65535) return std::nullopt;
  return value;
}

constexpr std::array<std::pair<std::uint32_t, std::string_view>, 3> kProfileNames = {{
    {kDomain, "Domain"},
    {kPrivate, "Private"},
    {kPublic, "Public"},
}};

std::string ProfileList(std::uint32_t profiles) {
  if ((profiles & kAllProfiles) == kAllProfiles) return "all profiles";
  std::string out;
  for (const auto& [type, name] : kProfileNames) {
    if ((profiles & type) == 0) continue;
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out.empty() ? "no profile" : out;
}

std::string ProtocolName(int protocol) {
  switch (protocol) {
    case kTcp:
      return "TCP";
    case kUdp:
      return "UDP";
    case kAnyProtocol:
      return "any protocol";
    default:
      return "protocol " + std::to_string(protocol);
  }
}

// Whether `rule` speaks about inbound UDP on `port` to the program at
// `programPath` in the profile `type`.
bool Applies(const Rule& rule, std::u16string_view programPath, std::uint16_t port,
             std::uint32_t type) {
  if (!rule.enabled || rule.direction != TDirection::In || (rule.profiles & type) == 0) {
    return false;
  }
  if (rule.protocol != kUdp && rule.protocol != kAnyProtocol) return false;
  if (!Trimmed(rule.service).empty()) return false;
  if (!IsEvery(rule.application) && !SamePath(rule.application, programPath)) return false;
  return PortsInclude(rule.localPorts, port);
}

}  // namespace

bool SamePath(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

bool PortsInclude(std::u16string_view localPorts, std::uint16_t port) {
  if (IsEvery(localPorts)) return true;
  std::u16string_view rest = localPorts;
  while (true) {
    const std::size_t comma = rest.find(u',');
    const std::u16string_view item = rest.substr(0, comma);
    const std::size_t dash = item.find(u'-');
    if (dash == std::u16string_view::npos) {
      if (PortNumber(item) == port) return true;
    } else {
      const auto low = PortNumber(item.substr(0, dash));
      const auto high = PortNumber(item.substr(dash + 1));
      if (low && high && *low <= port && port <= *high) return true;
    }
    if (comma == std::u16string_view::npos) return false;
    rest.remove_prefix(comma + 1);
  }
}

std::string DescribeRule(const Rule& rule) {
  // Appended piece by piece: GCC 12 at -O2 misreads `"..." + std::string`
  // here as an overlapping copy (-Wrestrict).
  std::string out = "\"";
  out += Utf16ToUtf8(rule.name);
  out += "\" (";
  out += rule.action == TAction::Allow ? "allow" : "block";
  out += rule.direction == TDirection::In ? " inbound, " : " outbound, ";
  out += ProtocolName(rule.protocol);
  if (rule.protocol == kUdp || rule.protocol == kTcp) {
    if (IsEvery(rule.localPorts)) {
      out += " any port";
    } else {
      out += " port ";
      out += Utf16ToUtf8(rule.localPorts);
    }
  }
  if (IsEvery(rule.application)) {
    out += ", any program";
  } else {
    out += ", program ";
    out += Utf16ToUtf8(rule.application);
  }
  if (!Trimmed(rule.service).empty()) {
    out += ", service ";
    out += Utf16ToUtf8(rule.service);
  }
  out += ", ";
  out += ProfileList(rule.profiles);
  if (!IsEvery(rule.remoteAddresses)) {
    out += ", from ";
    out += Utf16ToUtf8(rule.remoteAddresses);
  }
  if (!rule.enabled) out += ", disabled";
  out += ")";
  return out;
}

Assessment Assess(const PolicySettings& settings, std::u16string_view programPath,
                  std::uint16_t port) {
  Assessment result;
  bool anyActive = false;
  bool blocked = false;
  for (const auto& [type, name] : kProfileNames) {
    if ((settings.currentProfiles & type) == 0) continue;
    anyActive = true;
    const ProfileSettings* profile = nullptr;
    for (const ProfileSettings& candidate : settings.profiles) {
      if (candidate.type == type) profile = &candidate;
    }
    if (profile == nullptr) {
      result.reasons.push_back(std::string(name) + " profile (active): its settings are not known");
      result.verdict = TFirewallVerdict::NotKnown;
      return result;
    }
    std::string line = std::string(name) + " profile (active): firewall ";
    if (!profile->firewallEnabled) {
      result.reasons.push_back(line + "off");
      continue;
    }
    line += "on, inbound traffic that no rule allows is ";
    line += profile->defaultInbound == TAction::Allow ? "allowed" : "blocked";
    if (profile->blockAllInbound) line += ", and all incoming connections are blocked";
    std::vector<const Rule*> blocking;
    std::vector<const Rule*> allowing;
    for (const Rule& rule : settings.rules) {
      if (!Applies(rule, programPath, port, type)) continue;
      (rule.action == TAction::Block ? blocking : allowing).push_back(&rule);
    }
    std::vector<std::string> details;
    bool profileBlocks = false;
    if (!blocking.empty()) {
      profileBlocks = true;
      line += ": blocked by a rule (a block rule wins over every allow rule)";
      for (const Rule* rule : blocking) details.push_back("  blocks: " + DescribeRule(*rule));
    } else if (profile->blockAllInbound) {
      profileBlocks = true;
      line += ": blocked";
    } else if (!allowing.empty()) {
      line += ": allowed by a rule";
      for (const Rule* rule : allowing) details.push_back("  allows: " + DescribeRule(*rule));
    } else {
      profileBlocks = profile->defaultInbound == TAction::Block;
      line += profileBlocks ? ": blocked, no rule allows it" : ": allowed, no rule blocks it";
    }
    result.reasons.push_back(std::move(line));
    for (std::string& detail : details) result.reasons.push_back(std::move(detail));
    blocked = blocked || profileBlocks;
  }
  if (!anyActive) {
    result.reasons.emplace_back("no active profile is known");
    result.verdict = TFirewallVerdict::NotKnown;
    return result;
  }
  result.verdict = blocked ? TFirewallVerdict::Blocked : TFirewallVerdict::Allowed;
  return result;
}

Assessment AssessPolicy(IFirewallPolicy& policy, std::u16string_view programPath) {
  const std::optional<PolicySettings> settings = policy.Read();
  if (!settings) return {TFirewallVerdict::NotKnown, {"the firewall's settings cannot be read"}};
  return Assess(*settings, programPath);
}

Rule RelayRule(std::u16string_view programPath) {
  Rule rule;
  rule.name = std::u16string(kRuleName);
  rule.application = std::u16string(programPath);
  rule.protocol = kUdp;
  rule.localPorts = u"19151";
  rule.remoteAddresses = u"LocalSubnet";
  rule.direction = TDirection::In;
  rule.action = TAction::Allow;
  rule.profiles = kAllProfiles;
  rule.enabled = true;
  return rule;
}

Plan PlanAllow(const PolicySettings& settings, std::u16string_view programPath) {
  Plan plan;
  for (const Rule& rule : settings.rules) {
    const bool leftBlock = rule.direction == TDirection::In && rule.action == TAction::Block &&
                           !IsEvery(rule.application) && SamePath(rule.application, programPath);
    if (leftBlock || rule.name == kRuleName) plan.remove.push_back(rule);
  }
  plan.add = RelayRule(programPath);
  return plan;
}

Plan PlanRemove(const PolicySettings& settings) {
  Plan plan;
  for (const Rule& rule : settings.rules) {
    if (rule.name == kRuleName) plan.remove.push_back(rule);
  }
  return plan;
}

std::string AllowLeftUndone(const PolicySettings& after, std::u16string_view programPath) {
  const Rule wanted = RelayRule(programPath);
  std::size_t own = 0;
  bool ownAsWanted = false;
  for (const Rule& rule : after.rules) {
    if (rule.direction == TDirection::In && rule.action == TAction::Block &&
        !IsEvery(rule.application) && SamePath(rule.application, programPath)) {
      return "a block rule for the program is still there: " + DescribeRule(rule);
    }
    if (rule.name != kRuleName) continue;
    ++own;
    ownAsWanted = SamePath(rule.application, wanted.application) &&
                  rule.protocol == wanted.protocol && rule.localPorts == wanted.localPorts &&
                  rule.remoteAddresses == wanted.remoteAddresses &&
                  rule.direction == wanted.direction && rule.action == wanted.action &&
                  rule.profiles == wanted.profiles && rule.enabled;
  }
  if (own == 0) return "the firewall did not keep the rule \"Ostrivane\"";
  if (own > 1) return std::to_string(own) + " rules are named \"Ostrivane\"";
  if (!ownAsWanted) return "the firewall keeps the rule \"Ostrivane\" otherwise than it was given";
  return {};
}

std::string RemoveLeftUndone(const PolicySettings& after) {
  for (const Rule& rule : after.rules) {
    if (rule.name == kRuleName) return "the rule is still there: " + DescribeRule(rule);
  }
  return {};
}

ChangeResult Apply(IFirewallPolicy& policy, const Plan& plan) {
  const auto failed = [](const std::string& what, const std::string& error) {
    if (error == kAccessDenied) return ChangeResult{TChangeOutcome::NeedsAdministrator, error};
    return ChangeResult{TChangeOutcome::Failed, what + ": " + error};
  };
  for (const Rule& rule : plan.remove) {
    const std::string error = policy.Remove(rule);
    if (!error.empty()) return failed("cannot remove the rule " + DescribeRule(rule), error);
  }
  if (plan.add) {
    const std::string error = policy.Add(*plan.add);
    if (!error.empty()) return failed("cannot add the rule " + DescribeRule(*plan.add), error);
  }
  return {};
}

}  // namespace ostrivane::firewall
