// The typical log line and the three formatters that both format
// benchmarks compare: ours, glibc and stb_sprintf, all with one shape.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#define STB_SPRINTF_IMPLEMENTATION
// Internal linkage, so the copy that Debian's libstb may also bring in at
// link time cannot clash with this one.
#define STB_SPRINTF_STATIC
#include <stb/stb_sprintf.h>

#include "lib/string/str.h"

namespace benchline {

typedef int (*Formatter)(char *buf, size_t size, const char *fmt, ...);

// Text_Snprintf already has this shape; the other two get the same one
// variadic layer over their va_list entry points.
template <int (*V)(char *, int, const char *, va_list)>
int Variadic(char *buf, size_t size, const char *fmt, ...)
{
   va_list ap;
   va_start(ap, fmt);
   int n = V(buf, static_cast<int>(size), fmt, ap);
   va_end(ap);
   return n;
}
inline int GlibcV(char *buf, int size, const char *fmt, va_list ap) { return vsnprintf(buf, size_t(size), fmt, ap); }

const struct { const char *name; Formatter f; } kFormatters[] = {
   {"ours", Text_Snprintf}, {"glibc", Variadic<GlibcV>}, {"stb", Variadic<stbsp_vsnprintf>}};

// Prefix and message as the logger joins them: one format, one call.
inline int FormatLine(Formatter f, char *buf, size_t size)
{
   return f(buf, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s| %s| %c%c: "
            "Util_DeleteFileW: Deleting %s (attempt %d)", 2026, 12, 5, 16, 38, 7, 123, "Z",
            "setupKit-build-12345", 'I', '0', "C:\\Users\\builder\\AppData\\Local\\Temp\\setup.msi", 3);
}

}  // namespace benchline
