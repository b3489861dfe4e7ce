#include "e2e/traffic_scale.h"

#include <algorithm>
#include <cstdlib>

namespace gateway::e2e {

double TrafficScale() {
  if (const char* text = std::getenv("GATEWAY_E2E_SCALE")) {
    char* end = nullptr;
    const double scale = std::strtod(text, &end);
    if (end != text && *end == '\0' && scale > 0) return scale;
  }
  return GATEWAY_E2E_SCALE;
}

int Scaled(int full, int least) { return std::max(least, static_cast<int>(full * TrafficScale())); }

}  // namespace gateway::e2e
