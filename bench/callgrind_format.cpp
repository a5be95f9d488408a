// Formats the benchmark's log line N times with one formatter, for
// instruction counts under callgrind (bench/callgrind.sh), which unlike wall
// time do not depend on what else the machine is doing.
//
//   callgrind_format <ours|glibc|stb> <N>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/logLineFormatters.h"

namespace {

using benchline::Formatter;

// Through a volatile pointer: the call cannot be folded or hoisted.
Formatter volatile gFormatter;
volatile unsigned gSink;

}  // namespace

int main(int argc, char **argv) {
   if (argc != 3) {
      fprintf(stderr, "usage: %s <ours|glibc|stb> <N>\n", argv[0]);
      return 2;
   }
   if (strcmp(argv[1], "ours") == 0) {
      gFormatter = Text_Snprintf;
   } else if (strcmp(argv[1], "glibc") == 0) {
      gFormatter = benchline::Glibc;
   } else if (strcmp(argv[1], "stb") == 0) {
      gFormatter = benchline::Stb;
   } else {
      fprintf(stderr, "%s: unknown formatter '%s'\n", argv[0], argv[1]);
      return 2;
   }
   long n = strtol(argv[2], nullptr, 10);
   char buf[2048];
   for (long i = 0; i < n; i++) {
      int len = benchline::FormatLine(gFormatter, buf, sizeof buf);
      gSink = gSink + static_cast<unsigned>(len) + static_cast<unsigned char>(buf[len / 2]);
   }
   return 0;
}
