// The process-wide modules that live from before the main window until after
// it: set up in this order at start-up, torn down in reverse at the end.
#pragma once

namespace ostrivane {

void InitializeModules();
void FinalizeModules();

}  // namespace ostrivane
