#include "base/trace.h"

#include <cstdio>
#include <cstdlib>

namespace corvane {

void Trace(const char* line) {
  const char* enabled = std::getenv("CORVANECODE_TRACE");
  if (enabled && *enabled && *enabled != '0') std::fprintf(stderr, "%s\n", line);
}

}  // namespace corvane
