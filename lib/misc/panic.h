// Process-ending reports for programming errors in the base library.
//
// Ordinary failures are results; these are for states that mean the caller
// broke a contract (a buffer known to be large enough was not, invalid UTF-8
// handed to a wrapper), where carrying on would only spread the damage.
#pragma once

#if defined(__GNUC__)
#define UTIL_PANIC_ATTRS __attribute__((noreturn))
#else
#define UTIL_PANIC_ATTRS
#endif

// Formats the message with the library's own engine, hands it to the debugger
// channel (and stderr), and ends the process with exit code -1.
UTIL_PANIC_ATTRS void Util_Panic(const char *format, ...);

// Module name for the assertion texts: the source path relative to the
// project root without its extension, e.g. "lib/string/str".
const char *Util_PanicModuleName(const char *file);

#define VERIFY(cond)                                                       \
   ((cond) ? (void)0                                                       \
           : Util_Panic("VERIFY %s:%d\n", Util_PanicModuleName(__FILE__), \
                        __LINE__))
#define NOT_IMPLEMENTED()                                                  \
   Util_Panic("NOT_IMPLEMENTED %s:%d\n", Util_PanicModuleName(__FILE__),   \
              __LINE__)
#define NOT_REACHED()                                                      \
   Util_Panic("NOT_REACHED %s:%d\n", Util_PanicModuleName(__FILE__),       \
              __LINE__)
