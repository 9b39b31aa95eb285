// Linked into every test binary that reaches the storage layer: a reboot request
// in /dev is counted here and never restarts the machine.
#pragma once

namespace velmor::test {

int RecordedReboots();

} // namespace velmor::test
