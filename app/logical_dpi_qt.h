// The screen's logical pixels per inch as Qt knows them, for the optional
// system functions' DPI fallback.
#pragma once

namespace ostrivane {

// Answers false when there is no screen (or no GUI application yet).
bool QtLogicalDpi(unsigned& x, unsigned& y);

}  // namespace ostrivane
