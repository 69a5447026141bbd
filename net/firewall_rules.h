// The firewall's settings as the relay needs to judge them, the judgement
// itself, and the changes that let the relay through.
//
// The model follows Windows Defender Firewall (INetFwPolicy2): profiles that
// are active at once (Domain, Private, Public), per profile whether the
// firewall is on and what it does with inbound traffic that no rule names,
// and the rules. Everything here is portable; the system's settings are read
// and changed through IFirewallPolicy, an interface so that the tests can put
// a fake (firewall_rules_fake.h) in the system's place. The system's own
// comes from DefaultFirewallPolicy() (firewall_win32.cpp: the firewall's COM
// objects; firewall_posix.cpp: nothing to read).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/firewall.h"

namespace ostrivane::firewall {

// Profile types, as the firewall numbers them (NET_FW_PROFILE2_...).
inline constexpr std::uint32_t kDomain = 0x1;
inline constexpr std::uint32_t kPrivate = 0x2;
inline constexpr std::uint32_t kPublic = 0x4;
inline constexpr std::uint32_t kAllProfiles = 0x7FFFFFFF;

// IP protocol numbers as the rules give them; kAnyProtocol is every protocol.
inline constexpr int kTcp = 6;
inline constexpr int kUdp = 17;
inline constexpr int kAnyProtocol = 256;

// The relay's port and the rule of its own.
inline constexpr std::uint16_t kRelayPort = 19151;
inline constexpr std::u16string_view kRuleName = u"Ostrivane";

enum class TAction : std::uint8_t { Block, Allow };
enum class TDirection : std::uint8_t { In, Out };

struct Rule {
  // Given by whoever reads the settings, the same for the same rule until
  // the next reading; IFirewallPolicy::Remove takes it back.
  std::size_t id = 0;
  std::u16string name;
  // The program's full path, environment variables already expanded by the
  // reader; empty for every program.
  std::u16string application;
  // A service's short name; a rule that names one applies to that service
  // only, never to a program on its own.
  std::u16string service;
  int protocol = kAnyProtocol;
  // "*" (or empty) for every port, else a comma-separated list of ports and
  // ranges ("19151", "19000-19200", "80,443,19151") or keywords ("RPC", ...).
  std::u16string localPorts;
  // "*" (or empty) for every address, else a list such as "LocalSubnet".
  std::u16string remoteAddresses;
  TDirection direction = TDirection::In;
  TAction action = TAction::Allow;
  std::uint32_t profiles = kAllProfiles;
  bool enabled = true;
};

struct ProfileSettings {
  std::uint32_t type = 0;  // one of kDomain, kPrivate, kPublic
  bool firewallEnabled = true;
  // "Block all incoming connections, including those in the list of allowed
  // apps": no allow rule counts.
  bool blockAllInbound = false;
  TAction defaultInbound = TAction::Block;
};

struct PolicySettings {
  std::uint32_t currentProfiles = 0;  // the active profile types, ORed
  std::vector<ProfileSettings> profiles;
  std::vector<Rule> rules;
};

// The verdict and, for people, why: one line per active profile, then the
// rules that decided, each as one line.
struct Assessment {
  TFirewallVerdict verdict = TFirewallVerdict::NotKnown;
  std::vector<std::string> reasons;  // UTF-8
};

// What the firewall does to inbound UDP on `port` for the program at
// `programPath` (a full path). NotKnown when no active profile is known or
// an active profile's settings are missing.
Assessment Assess(const PolicySettings& settings, std::u16string_view programPath,
                  std::uint16_t port = kRelayPort);

// Whether two paths name the same file the way the firewall compares them:
// ignoring case.
bool SamePath(std::u16string_view a, std::u16string_view b);

// Whether a rule's local ports ("*", "19151", "19000-19200", lists) take in
// `port`.
bool PortsInclude(std::u16string_view localPorts, std::uint16_t port);

// The relay's own rule for `programPath`: inbound, allow, UDP 19151, all
// profiles, from the local subnet only.
Rule RelayRule(std::u16string_view programPath);

// A change of the settings: rules to remove (their ids), then at most one to
// add.
struct Plan {
  std::vector<Rule> remove;
  std::optional<Rule> add;
};

// Letting the program through: the enabled or disabled inbound block rules
// for its path go (those a refused prompt leaves behind win over any allow
// rule), every rule named "Ostrivane" goes, and the relay's rule is added.
Plan PlanAllow(const PolicySettings& settings, std::u16string_view programPath);
// Taking it back: every rule named "Ostrivane", nothing else.
Plan PlanRemove(const PolicySettings& settings);

// What a change left undone, read from the settings after it (empty when
// nothing): after allowing, a block rule for the program still there, or
// not exactly one rule "Ostrivane" as RelayRule makes it; after removing, a
// rule "Ostrivane" still there. A firewall may accept a change and keep
// nothing of it (Wine's does).
std::string AllowLeftUndone(const PolicySettings& after, std::u16string_view programPath);
std::string RemoveLeftUndone(const PolicySettings& after);

// The system's firewall settings. Reading needs no administrator; changing
// them does.
class IFirewallPolicy {
 public:
  virtual ~IFirewallPolicy() = default;
  // The settings as they stand, or nullopt when the rules cannot be read.
  // Profiles that cannot be read are left out (and with them the verdict
  // becomes NotKnown), so that the rules can be changed all the same.
  virtual std::optional<PolicySettings> Read() = 0;
  // Removes the rule with this id from the last Read. Empty when done, else
  // why not (UTF-8).
  virtual std::string Remove(const Rule& rule) = 0;
  virtual std::string Add(const Rule& rule) = 0;
};

enum class TChangeOutcome : std::uint8_t { Done, NeedsAdministrator, Failed };

struct ChangeResult {
  TChangeOutcome outcome = TChangeOutcome::Done;
  std::string error;  // for Failed
};

// Carries out `plan`: removals first, then the addition. Stops at the first
// failure.
ChangeResult Apply(IFirewallPolicy& policy, const Plan& plan);

// The text the policy returns when the change was refused for want of
// administrator rights; Apply turns it into NeedsAdministrator.
inline constexpr std::string_view kAccessDenied = "access denied";

// One rule, for people: name, action, protocol, ports, program, profiles.
std::string DescribeRule(const Rule& rule);

// Reads the settings through `policy` and judges them as Assess does;
// settings that cannot be read give NotKnown.
Assessment AssessPolicy(IFirewallPolicy& policy, std::u16string_view programPath);

// The system's firewall: one object per call.
std::unique_ptr<IFirewallPolicy> DefaultFirewallPolicy();

}  // namespace ostrivane::firewall
