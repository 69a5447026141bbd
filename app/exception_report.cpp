#include "app/exception_report.h"

#include <cctype>

namespace ostrivane {

std::string ApplicationTitle(std::string_view programPath) {
  const auto slash = programPath.find_last_of("/\\");
  std::string_view name =
      slash == std::string_view::npos ? programPath : programPath.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  std::string title(name);
  for (std::size_t i = 1; i < title.size(); ++i) {
    title[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(title[i])));
  }
  return title;
}

std::string ExceptionReportText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text.push_back('.');
  return text;
}

}  // namespace ostrivane
