// Formats the benchmark's log line N times with one formatter, for
// instruction counts under callgrind (bench/callgrind.sh), which unlike wall
// time do not depend on what else the machine is doing.
//
//   callgrind_format <ours|glibc|stb> <N>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/logLineFormatters.h"

// Through a volatile pointer: the call cannot be folded or hoisted.
static benchline::Formatter volatile gFormatter;
static volatile unsigned gSink;

int main(int argc, char **argv) {
   for (const auto &fm : benchline::kFormatters) {
      gFormatter = argc == 3 && strcmp(argv[1], fm.name) == 0 ? fm.f : gFormatter;
   }
   if (gFormatter == nullptr) {
      fprintf(stderr, "usage: %s <ours|glibc|stb> <N>\n", argv[0]);
      return 2;
   }
   char buf[2048];
   for (long i = 0, n = strtol(argv[2], nullptr, 10); i < n; i++) {
      int len = benchline::FormatLine(gFormatter, buf, sizeof buf);
      gSink = gSink + static_cast<unsigned>(len) + static_cast<unsigned char>(buf[len / 2]);
   }
   return 0;
}
