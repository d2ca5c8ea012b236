// The connectivity test: open, report, retry on a key, leave on ESC.
#pragma once

namespace velmar {

// The interactive connectivity test: opens a SimConnect connection of its
// own, reports the outcome, retries on any key until ESC, and returns the
// exit status.
int run_simple_mode();

}  // namespace velmar
