// Narrow (UTF-8) front of the printf engine.
#include "lib/string/bsd_vsnprintf.h"

#include "lib/string/bsd_printf_engine.h"

int bsd_vsnprintf(char **outbuf, size_t bufSize, const char *format,
                  va_list ap)
{
   bsdprintf::Engine<char> engine(outbuf, bufSize, ap);
   return engine.Run(format);
}
