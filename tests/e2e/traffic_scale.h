// How much of the full traffic the end-to-end tests send: 1 in the release build, less under
// AddressSanitizer, and whatever GATEWAY_E2E_SCALE says when it is set (0.1 for a quick look).
#pragma once

namespace gateway::e2e {

// The share of the full traffic, above 0.
double TrafficScale();

// `full` scaled, but never below `least`.
int Scaled(int full, int least = 20);

}  // namespace gateway::e2e
