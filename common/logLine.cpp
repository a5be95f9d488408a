// Building one line of the library's log.
#include "common/logLine.h"

#include <cstring>

#include "lib/string/str.h"

#ifndef OV_BUILD_NUMBER
#error "OV_BUILD_NUMBER must be defined (CMake cache variable of the same name)"
#endif

#define OV_LOG_STRINGIFY2(x) #x
#define OV_LOG_STRINGIFY(x) OV_LOG_STRINGIFY2(x)

namespace {

// Every piece is formatted into this many bytes at most (terminator
// included), which keeps two bytes of the buffer for the LF and its NUL.
constexpr size_t kFormatLimit = LOG_LINE_MAX_TEXT + 1;
static_assert(kFormatLimit + 2 == LOG_LINE_BUFFER_SIZE,
              "the LF and the terminator must fit after the longest text");

// After a failed Text_Vsnprintf into buf + used: the bytes it kept.
size_t KeptAfterFailure(const char *buf, size_t used)
{
   size_t room = kFormatLimit - used;
   size_t kept = strnlen(buf + used, room - 1);
   // Text_Vsnprintf has already cut it on a whole UTF-8 sequence.
   return kept;
}


// Appends the fixed-format pieces (numbers, tag, letters) by hand: they are
// a third of a typical line, and the general engine would cost more than
// all of the message. Output stops at `capacity` characters (terminator
// not counted); anything beyond marks the text as not fitting.
class Appender {
public:
   Appender(char *buf, size_t capacity) : buf_(buf), capacity_(capacity) {}

   void Put(char c)
   {
      if (used_ < capacity_) {
         buf_[used_++] = c;
      } else {
         fits_ = false;
      }
   }

   void Put(const char *s, size_t n)
   {
      size_t room = capacity_ - used_;
      size_t take = n < room ? n : room;
      memcpy(buf_ + used_, s, take);
      used_ += take;
      if (take < n) {
         fits_ = false;
      }
   }

   // printf's "%0<width>d": a minus sign counts in the width, zeros go
   // between it and the digits.
   void Int(long long value, int width)
   {
      unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                               : static_cast<unsigned long long>(value);
      char digits[24];
      int n = 0;
      do {
         digits[n++] = static_cast<char>('0' + magnitude % 10);
         magnitude /= 10;
      } while (magnitude != 0);
      if (value < 0) {
         Put('-');
         width--;
      }
      for (int pad = width - n; pad > 0; pad--) {
         Put('0');
      }
      while (n > 0) {
         Put(digits[--n]);
      }
   }

   size_t used() const { return used_; }
   bool fits() const { return fits_; }

private:
   char *buf_;
   size_t capacity_;
   size_t used_ = 0;
   bool fits_ = true;
};

// "Z", or sign, hours ("%02d") and minutes ("%02d") of the offset.
void AppendZone(Appender &out, int zoneMinutes)
{
   if (zoneMinutes == 0) {
      out.Put('Z');
      return;
   }
   // Wider than int so that INT_MIN has a magnitude.
   long long magnitude = zoneMinutes < 0 ? -static_cast<long long>(zoneMinutes)
                                         : zoneMinutes;
   out.Put(zoneMinutes < 0 ? '-' : '+');
   out.Int(magnitude / 60, 2);
   out.Put(':');
   out.Int(magnitude % 60, 2);
}

}  // namespace

const char *LogLine_LevelLetters(uint32_t level)
{
   switch (level) {
   case 0x001: return "E1";
   case 0x002: return "I1";
   case 0x004: return "E2";
   case 0x008: return "W1";
   case 0x010: return "G2";
   case 0x020: return "I2";
   case 0x080: return "P1";
   case 0x400: return "I0";
   default: return "XX";
   }
}

const char *LogLine_DefaultTag(void)
{
   return "inst-build-" OV_LOG_STRINGIFY(OV_BUILD_NUMBER);
}

void LogLine_ZoneSuffix(int zoneMinutes, char *out, size_t size)
{
   if (size == 0) {
      return;
   }
   Appender text(out, size - 1);
   AppendZone(text, zoneMinutes);
   out[text.used()] = '\0';
}

LogLineStatus LogLine_Build(char (&buf)[LOG_LINE_BUFFER_SIZE],
                            const LogLineTime &time, const char *tag,
                            uint32_t level, const char *format, va_list args,
                            const utf16_t *suffix, size_t *length)
{
   *length = 0;
   buf[0] = '\0';

   // Timestamp ("%04d-%02d-%02dT%02d:%02d:%02d.%03d" and the zone), then
   // the prefix "| %s| %c%c: ", within the limit of every piece.
   Appender out(buf, kFormatLimit - 1);
   out.Int(time.year, 4);
   out.Put('-');
   out.Int(time.month, 2);
   out.Put('-');
   out.Int(time.day, 2);
   out.Put('T');
   out.Int(time.hour, 2);
   out.Put(':');
   out.Int(time.minute, 2);
   out.Put(':');
   out.Int(time.second, 2);
   out.Put('.');
   out.Int(time.milliseconds, 3);
   AppendZone(out, time.zoneMinutes);

   const char *shownTag = tag != nullptr && tag[0] != '\0' ? tag : LogLine_DefaultTag();
   const char *letters = LogLine_LevelLetters(level);
   out.Put("| ", 2);
   out.Put(shownTag, strlen(shownTag));
   out.Put("| ", 2);
   out.Put(letters, 2);
   out.Put(": ", 2);
   if (!out.fits()) {
      buf[0] = '\0';
      return LOG_LINE_FORMAT_ERROR;
   }
   size_t used = out.used();

   bool truncated = false;
   if (format == nullptr) {
      format = "(null)";
   }
   // The caller's list stays usable: the engine walks a copy.
   va_list ap;
   va_copy(ap, args);
   buf[used] = '\0';
   int n = Text_Vsnprintf(buf + used, kFormatLimit - used, format, ap);
   va_end(ap);
   if (n >= 0) {
      used += static_cast<size_t>(n);
   } else {
      used += KeptAfterFailure(buf, used);
      truncated = true;
   }

   while (used > 0 && (buf[used - 1] == '\r' || buf[used - 1] == '\n')) {
      used--;
   }

   if (suffix != nullptr) {
      buf[used] = '\0';
      n = Text_Snprintf(buf + used, kFormatLimit - used, "%S", suffix);
      if (n >= 0) {
         used += static_cast<size_t>(n);
      } else {
         used += KeptAfterFailure(buf, used);
         truncated = true;
      }
   }

   buf[used++] = '\n';
   buf[used] = '\0';
   *length = used;
   return truncated ? LOG_LINE_TRUNCATED : LOG_LINE_COMPLETE;
}
