#include "relay/mailslot_endpoint.h"

#include "relay/mailslot.h"
#include "support/utf8.h"

namespace ostrivane {

std::string MailSlotRootDir(const char* xdgRuntimeDir, std::uint32_t uid) {
  // Relative values are ignored, as the XDG base directory rules ask.
  if (xdgRuntimeDir != nullptr && xdgRuntimeDir[0] == '/') {
    std::string root(xdgRuntimeDir);
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root != "/") return root + "/mailslot";
    return "/mailslot";
  }
  return "/tmp/mailslot-" + std::to_string(uid);
}

bool IsPlainMailSlotName(std::u16string_view name) {
  if (name.empty() || name.find(u'\0') != std::u16string_view::npos) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find_first_of(u"\\/", start);
    const std::u16string_view part =
        name.substr(start, end == std::u16string_view::npos ? end : end - start);
    if (part == u"." || part == u"..") return false;
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

std::optional<std::string> MailSlotEndpointPath(std::u16string_view fullPath,
                                                std::string_view rootDir) {
  if (!fullPath.starts_with(kMailSlotPrefix)) return std::nullopt;
  const std::u16string_view name = fullPath.substr(kMailSlotPrefix.size());
  if (!IsPlainMailSlotName(name)) return std::nullopt;

  std::u16string relative(name);
  for (char16_t& c : relative) {
    if (c == u'\\') c = u'/';
  }
  std::string path(rootDir);
  if (relative.front() != u'/') path += '/';
  path += Utf16ToUtf8(relative);
  return path;
}

bool FitsMailSlotSocketAddress(std::string_view path) noexcept {
  return !path.empty() && path.size() <= kMaxMailSlotSocketPath;
}

}  // namespace ostrivane
