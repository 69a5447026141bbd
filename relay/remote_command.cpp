#include "relay/remote_command.h"

#include <utility>

#include "support/cp1252.h"

namespace ostrivane {
namespace {

bool IsRefusedNameByte(char b) { return b == '\t' || b == '\n' || b == '\r' || b == ' '; }

// The quoted attribute value. One pass replacing each byte by its entity is
// the same as the five replacements in the order & < > ' ": the ampersands
// that the later ones bring in are never replaced again.
void AppendQuoted(std::string& out, std::string_view value) {
  out += '"';
  for (const char b : value) {
    switch (b) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += b;
    }
  }
  out += '"';
}

}  // namespace

EIllegalNodeName::EIllegalNodeName(std::string name)
    : std::runtime_error("Illegal character in node name \"" + Cp1252ToUtf8(name) + "\""),
      FName(std::move(name)) {}

std::string BuildRemoteCommandDocument(std::u16string_view action, std::u16string_view param1,
                                       std::u16string_view param2, const Encoder& encode) {
  std::string name = encode(action);
  for (const char b : name) {
    if (IsRefusedNameByte(b)) throw EIllegalNodeName(std::move(name));
  }
  const std::string value1 = encode(param1);
  const std::string value2 = encode(param2);

  std::string doc;
  doc.reserve(kRemoteCommandDeclaration.size() + name.size() + 2 * value1.size() +
              2 * value2.size() + 96);
  doc += kRemoteCommandDeclaration;
  doc += '\n';
  doc += "<LyravoxIPC><Remote><";
  doc += name;  // unescaped, as it stands
  doc += " Param1=";
  AppendQuoted(doc, value1);
  doc += " Param2=";
  AppendQuoted(doc, value2);
  doc += "/></Remote></LyravoxIPC>\n";
  return doc;
}

}  // namespace ostrivane
