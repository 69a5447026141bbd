#include "app/relay_status.h"

namespace ostrivane {
namespace {

bool English(int language) noexcept { return language == 2; }

std::u16string Widened(std::string_view ascii) {
  std::u16string text;
  text.reserve(ascii.size());
  for (const char c : ascii) text.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::u16string RelayStatusLine(const TRelayStatus& status, int language) {
  switch (status.State) {
    case TRelayState::Listening:
      return (English(language) ? u"Listening on " : u"Empf\u00E4ngt auf ") +
             Widened(status.Address);
    case TRelayState::Blocked:
      return English(language) ? u"Blocked by the firewall" : u"Von der Firewall blockiert";
    case TRelayState::WaitingForNetwork:
      break;
  }
  return English(language) ? u"Waiting for a network" : u"Wartet auf ein Netzwerk";
}

std::u16string RelayHint(std::u16string_view title, const TRelayStatus& status, int language) {
  std::u16string hint(title);
  hint += u'\n';
  hint += RelayStatusLine(status, language);
  return TrayTip(hint);
}

std::u16string AllowThroughFirewallCaption(int language) {
  return English(language) ? u"Allow through firewall\u2026" : u"Durch die &Firewall lassen\u2026";
}

TBalloonHint FirewallBlocksBalloon(int language) {
  if (English(language)) {
    return {u"Remote commands are blocked",
            u"The firewall blocks the remote commands for Lyravox. To let them through, "
            u"choose \u201CAllow through firewall\u2026\u201D in this icon's menu "
            u"(an administrator has to agree).",
            TBalloonIcon::Warning};
  }
  return {u"Fernbefehle werden blockiert",
          u"Die Firewall blockiert die Fernbefehle f\u00FCr Lyravox. Um sie durchzulassen, "
          u"w\u00E4hlen Sie im Men\u00FC dieses Symbols \u201EDurch die Firewall "
          u"lassen\u2026\u201C (ein Administrator muss zustimmen).",
          TBalloonIcon::Warning};
}

}  // namespace ostrivane
