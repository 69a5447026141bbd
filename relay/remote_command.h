// The remote command document of the test panel: a short XML text naming an
// action with two parameters, written to the presentation application as one
// mailslot message. Its bytes are fixed exactly:
//
//   <?xml version="1.0" encoding="windows-1252"?>                    LF
//   <LyravoxIPC><Remote><ACTION Param1="P1" Param2="P2"/></Remote></LyravoxIPC>  LF
//
// The action name is written unescaped; the parameters are escaped.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrivane {

// Converts UTF-16 text to the document's 8-bit bytes: ToAnsi for the test
// panel, UTF-8 for lvx-send.
using Encoder = std::function<std::string(std::u16string_view)>;

// The constant declaration, whatever encoding the names and values are in.
inline constexpr std::string_view kRemoteCommandDeclaration =
    R"(<?xml version="1.0" encoding="windows-1252"?>)";

// An action whose encoded name holds a tab, line feed, carriage return or
// space. The message is `Illegal character in node name "<name>"`, UTF-8,
// with the name's bytes read as code page 1252; Name() holds the encoded
// name's bytes as they are, for a caller that knows their encoding.
class EIllegalNodeName : public std::runtime_error {
 public:
  explicit EIllegalNodeName(std::string name);
  [[nodiscard]] const std::string& Name() const noexcept { return FName; }

 private:
  std::string FName;
};

// The document for `action` with `param1` and `param2`, each encoded with
// `encode`. Raises EIllegalNodeName for a refused action name.
std::string BuildRemoteCommandDocument(std::u16string_view action, std::u16string_view param1,
                                       std::u16string_view param2, const Encoder& encode);

}  // namespace ostrivane
