// Windows Defender Firewall through its COM objects (INetFwPolicy2): read by
// anyone, changed by an administrator only. And the program's way to let
// itself through: the firewall tool beside it, which gets itself elevated.
#include <windows.h>
// Before <netfw.h>, so that its GUIDs are defined here.
#include <initguid.h>
#include <netfw.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/firewall.h"
#include "net/firewall_rules.h"
#include "support/main_thread.h"
#include "support/program_file_win32.h"

namespace ostrivane {
namespace {

// One reference to a COM object.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef& other) : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComRef& operator=(const ComRef& other) {
    if (this != &other) {
      Reset();
      p_ = other.p_;
      if (p_ != nullptr) p_->AddRef();
    }
    return *this;
  }
  ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }

  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  T** Out() {
    Reset();
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  T* operator->() const { return p_; }
  [[nodiscard]] T* Get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A BSTR owned.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text)
      : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                             static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* Out() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  [[nodiscard]] BSTR Get() const { return b_; }
  [[nodiscard]] std::u16string Text() const {
    if (b_ == nullptr) return {};
    return {reinterpret_cast<const char16_t*>(b_), SysStringLen(b_)};
  }

 private:
  BSTR b_ = nullptr;
};

// COM for the calling thread while the object lives. A thread that has COM
// in another apartment already is served as it is.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  [[nodiscard]] bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

// A path with environment variables (%ProgramFiles%, %LOCALAPPDATA%, ...)
// expanded, as the firewall expands them when it matches a rule.
std::u16string Expanded(const std::u16string& text) {
  if (text.find(u'%') == std::u16string::npos) return text;
  const auto* source = reinterpret_cast<const wchar_t*>(text.c_str());
  const DWORD needed = ExpandEnvironmentStringsW(source, nullptr, 0);
  if (needed == 0) return text;
  std::wstring out(needed, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(source, out.data(), needed);
  if (written == 0 || written > needed) return text;
  out.resize(written - 1);
  return {out.begin(), out.end()};
}

std::string HresultText(HRESULT hr) {
  std::array<char, 16> hex{};
  wsprintfA(hex.data(), "0x%08lX", static_cast<unsigned long>(hr));
  return std::string("error ") + hex.data();
}

std::string ChangeError(HRESULT hr) {
  if (hr == E_ACCESSDENIED) return std::string(firewall::kAccessDenied);
  return HresultText(hr);
}

class ComFirewallPolicy final : public firewall::IFirewallPolicy {
 public:
  std::optional<firewall::PolicySettings> Read() override {
    held_.clear();
    if (!com_.Usable()) return std::nullopt;
    if (!Open()) return std::nullopt;
    // A profile that cannot be read is left out, and without the current
    // profiles none is known: the verdict is "not known" then, while the
    // rules may still be changed (Wine's firewall answers just that much).
    firewall::PolicySettings settings;
    LONG current = 0;
    if (SUCCEEDED(policy_->get_CurrentProfileTypes(&current))) {
      settings.currentProfiles = static_cast<std::uint32_t>(current);
    }
    for (const std::uint32_t type : {firewall::kDomain, firewall::kPrivate, firewall::kPublic}) {
      if ((settings.currentProfiles & type) == 0) continue;
      const auto profileType = static_cast<NET_FW_PROFILE_TYPE2>(type);
      VARIANT_BOOL enabled = VARIANT_FALSE;
      VARIANT_BOOL blockAll = VARIANT_FALSE;
      NET_FW_ACTION inbound = NET_FW_ACTION_BLOCK;
      if (FAILED(policy_->get_FirewallEnabled(profileType, &enabled)) ||
          FAILED(policy_->get_BlockAllInboundTraffic(profileType, &blockAll)) ||
          FAILED(policy_->get_DefaultInboundAction(profileType, &inbound))) {
        continue;
      }
      settings.profiles.push_back(
          {type, enabled != VARIANT_FALSE, blockAll != VARIANT_FALSE,
           inbound == NET_FW_ACTION_ALLOW ? firewall::TAction::Allow : firewall::TAction::Block});
    }
    LONG count = 0;
    if (FAILED(rules_->get_Count(&count))) return std::nullopt;
    // Wine's collection counts none and enumerates nothing.
    if (count == 0) return settings;
    ComRef<IUnknown> enumUnknown;
    ComRef<IEnumVARIANT> items;
    if (FAILED(rules_->get__NewEnum(enumUnknown.Out())) ||
        FAILED(enumUnknown->QueryInterface(IID_IEnumVARIANT, items.OutVoid()))) {
      return std::nullopt;
    }
    while (true) {
      VARIANT item;
      VariantInit(&item);
      ULONG fetched = 0;
      const HRESULT hr = items->Next(1, &item, &fetched);
      if (FAILED(hr)) return std::nullopt;
      if (hr == S_FALSE || fetched == 0) break;
      ComRef<INetFwRule> rule;
      const bool isRule = item.vt == VT_DISPATCH && item.pdispVal != nullptr &&
                          SUCCEEDED(item.pdispVal->QueryInterface(IID_INetFwRule, rule.OutVoid()));
      VariantClear(&item);
      if (!isRule) return std::nullopt;
      std::optional<firewall::Rule> read = ReadRule(*rule.Get());
      if (!read) return std::nullopt;
      read->id = held_.size();
      held_.push_back(std::move(rule));
      settings.rules.push_back(std::move(*read));
    }
    return settings;
  }

  std::string Remove(const firewall::Rule& rule) override {
    if (rule.id >= held_.size() || !held_[rule.id] || !rules_) return "the rule is not known";
    // The collection removes by name, and several rules may share one (the
    // prompt's block and allow rules do): the rule gets a name of its own
    // first.
    std::array<wchar_t, 64> unique{};
    wsprintfW(unique.data(), L"Ostrivane removal %lu-%lu-%u", GetCurrentProcessId(), GetTickCount(),
              static_cast<unsigned>(rule.id));
    const std::wstring name(unique.data());
    const Bstr bname(std::u16string(name.begin(), name.end()));
    HRESULT hr = held_[rule.id]->put_Name(bname.Get());
    if (FAILED(hr)) return ChangeError(hr);
    hr = rules_->Remove(bname.Get());
    if (FAILED(hr)) {
      // The rule stays: under its own name again.
      const Bstr original(rule.name);
      held_[rule.id]->put_Name(original.Get());
      return ChangeError(hr);
    }
    held_[rule.id].Reset();
    return {};
  }

  std::string Add(const firewall::Rule& rule) override {
    if (!com_.Usable()) return "COM is not available";
    if (!rules_ && !Open()) return "the firewall cannot be opened";
    ComRef<INetFwRule> made;
    HRESULT hr = CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule,
                                  made.OutVoid());
    if (FAILED(hr)) return HresultText(hr);
    const Bstr name(rule.name);
    const Bstr application(rule.application);
    const Bstr ports(rule.localPorts);
    const Bstr remote(rule.remoteAddresses);
    // The protocol before the ports: ports are refused for "any protocol".
    if (SUCCEEDED(hr)) hr = made->put_Name(name.Get());
    if (SUCCEEDED(hr) && !rule.application.empty())
      hr = made->put_ApplicationName(application.Get());
    if (SUCCEEDED(hr)) hr = made->put_Protocol(rule.protocol);
    if (SUCCEEDED(hr) && !rule.localPorts.empty()) hr = made->put_LocalPorts(ports.Get());
    if (SUCCEEDED(hr) && !rule.remoteAddresses.empty())
      hr = made->put_RemoteAddresses(remote.Get());
    if (SUCCEEDED(hr)) {
      hr = made->put_Direction(rule.direction == firewall::TDirection::In ? NET_FW_RULE_DIR_IN
                                                                          : NET_FW_RULE_DIR_OUT);
    }
    if (SUCCEEDED(hr)) {
      hr = made->put_Action(rule.action == firewall::TAction::Allow ? NET_FW_ACTION_ALLOW
                                                                    : NET_FW_ACTION_BLOCK);
    }
    if (SUCCEEDED(hr)) hr = made->put_Profiles(static_cast<LONG>(rule.profiles));
    if (SUCCEEDED(hr)) hr = made->put_Enabled(rule.enabled ? VARIANT_TRUE : VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = rules_->Add(made.Get());
    return FAILED(hr) ? ChangeError(hr) : std::string();
  }

 private:
  bool Open() {
    if (policy_ && rules_) return true;
    return SUCCEEDED(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_INetFwPolicy2, policy_.OutVoid())) &&
           SUCCEEDED(policy_->get_Rules(rules_.Out()));
  }

  static std::optional<firewall::Rule> ReadRule(INetFwRule& source) {
    firewall::Rule rule;
    Bstr name;
    Bstr application;
    Bstr service;
    Bstr ports;
    Bstr remote;
    LONG protocol = 0;
    LONG profiles = 0;
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(source.get_Name(name.Out())) ||
        FAILED(source.get_ApplicationName(application.Out())) ||
        FAILED(source.get_ServiceName(service.Out())) || FAILED(source.get_Protocol(&protocol)) ||
        FAILED(source.get_LocalPorts(ports.Out())) ||
        FAILED(source.get_RemoteAddresses(remote.Out())) ||
        FAILED(source.get_Direction(&direction)) || FAILED(source.get_Action(&action)) ||
        FAILED(source.get_Profiles(&profiles)) || FAILED(source.get_Enabled(&enabled))) {
      return std::nullopt;
    }
    rule.name = name.Text();
    rule.application = Expanded(application.Text());
    rule.service = service.Text();
    rule.protocol = static_cast<int>(protocol);
    rule.localPorts = ports.Text();
    rule.remoteAddresses = remote.Text();
    rule.direction =
        direction == NET_FW_RULE_DIR_IN ? firewall::TDirection::In : firewall::TDirection::Out;
    rule.action =
        action == NET_FW_ACTION_ALLOW ? firewall::TAction::Allow : firewall::TAction::Block;
    rule.profiles = static_cast<std::uint32_t>(profiles);
    rule.enabled = enabled != VARIANT_FALSE;
    return rule;
  }

  ComScope com_;
  ComRef<INetFwPolicy2> policy_;
  ComRef<INetFwRules> rules_;
  std::vector<ComRef<INetFwRule>> held_;  // by id, from the last Read
};

// The folder this program was started from, with a backslash at the end.
std::wstring ProgramFolder() {
  const std::wstring path = ProgramFileName();
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

// How often the main thread looks whether the firewall tool has ended.
constexpr UINT kPollMs = 250;

class WindowsFirewall final : public IFirewall {
 public:
  TFirewallVerdict Verdict() noexcept override {
    try {
      const std::wstring path = ProgramFileName();
      if (path.empty()) return TFirewallVerdict::NotKnown;
      const std::unique_ptr<firewall::IFirewallPolicy> policy = firewall::DefaultFirewallPolicy();
      return firewall::AssessPolicy(*policy, std::u16string(path.begin(), path.end())).verdict;
    } catch (...) {
      return TFirewallVerdict::NotKnown;
    }
  }

  void Allow(std::function<void()> done) override {
    // The tool asks for administrator rights itself (--elevate) and waits
    // for the user's answer in its own process: this thread only starts it,
    // and goes on with its messages.
    const std::wstring tool = ProgramFolder() + L"lvx-firewall.exe";
    // A path holds no quote, and does not end in a backslash.
    std::wstring line = L"\"" + tool + L"\" allow --elevate";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    HANDLE process = nullptr;
    if (CreateProcessW(tool.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                       nullptr, nullptr, &startup, &started)) {
      CloseHandle(started.hThread);
      process = started.hProcess;
    }
    // A timer of the thread, without a window: its procedure runs on this
    // thread from the message loop, so `done` runs there, never from here.
    const UINT_PTR timer = SetTimer(nullptr, 0, kPollMs, &WindowsFirewall::OnTimer);
    if (timer == 0) {
      // No timer to watch the tool with: its end goes unwatched, and `done`
      // gets the main thread's next turn instead.
      if (process != nullptr) CloseHandle(process);
      if (done) MainThread::Post(std::move(done));
      return;
    }
    pending_.push_back({timer, process, std::move(done)});
  }

 private:
  struct Pending {
    UINT_PTR timer;
    HANDLE process;  // null when the tool did not start
    std::function<void()> done;
  };

  static void CALLBACK OnTimer(HWND /*window*/, UINT /*message*/, UINT_PTR timer, DWORD /*time*/);

  std::vector<Pending> pending_;
};

WindowsFirewall& TheFirewall() {
  static WindowsFirewall firewall;
  return firewall;
}

void CALLBACK WindowsFirewall::OnTimer(HWND /*window*/, UINT /*message*/, UINT_PTR timer,
                                       DWORD /*time*/) {
  std::vector<Pending>& pending = TheFirewall().pending_;
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (it->timer != timer) continue;
    if (it->process != nullptr && WaitForSingleObject(it->process, 0) == WAIT_TIMEOUT) return;
    KillTimer(nullptr, timer);
    if (it->process != nullptr) CloseHandle(it->process);
    std::function<void()> done = std::move(it->done);
    pending.erase(it);
    if (done) done();
    return;
  }
  KillTimer(nullptr, timer);
}

}  // namespace

IFirewall& DefaultFirewall() { return TheFirewall(); }

namespace firewall {

std::unique_ptr<IFirewallPolicy> DefaultFirewallPolicy() {
  return std::make_unique<ComFirewallPolicy>();
}

}  // namespace firewall
}  // namespace ostrivane
