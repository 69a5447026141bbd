// The application's standard exception report.
#pragma once

#include <string>
#include <string_view>

namespace ostrivane {

// The application's title: the program file's name without its folder, cut
// at its first full stop, every character after the first in lower case.
std::string ApplicationTitle(std::string_view programPath);

// The report's text: the message, with a full stop appended when it is not
// empty and its last character sorts after ".".
std::string ExceptionReportText(std::string_view message);

}  // namespace ostrivane
