// Wide (UTF-16) front of the printf engine.
#include "lib/string/bsd_vsnprintf.h"

#include "lib/string/bsd_printf_engine.h"

int bsd_vsnwprintf(utf16_t **outbuf, size_t bufSize, const utf16_t *format,
                   va_list ap)
{
   bsdprintf::Engine<utf16_t> engine(outbuf, bufSize, ap);
   return engine.Run(format);
}
