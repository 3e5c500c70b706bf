// What the benchmarks and the sanitizer runs drive the host with: the "ready" line
// (TESSEL_REPORT_READY). Builds with TESSEL_TEST_HOOKS link host/test_hooks/ready.cpp; the
// shipped host links the empty one.
#pragma once

namespace tessel::host {

class Host;

namespace TestHooks {

// With TESSEL_REPORT_READY set, prints "ready" once every placed widget shows its first
// timeline.
void started(Host& host);

} // namespace TestHooks

} // namespace tessel::host
