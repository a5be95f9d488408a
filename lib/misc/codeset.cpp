// Conversion between named encodings: ICU while it can, the built-in
// converters otherwise.
#include "lib/misc/codeset.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "lib/misc/byteBuffer.h"
#include "lib/misc/codesetInternal.h"
#include "lib/misc/panic.h"
#include "lib/string/str.h"

#ifdef _WIN32
#include <windows.h>

// MinGW ships no ICU headers. The few types and functions used here, as
// ICU's C interface defines them; Windows' icu.dll and icuuc.dll export
// them under their unversioned names.
extern "C" {
struct UConverter;
struct UConverterToUnicodeArgs;
struct UConverterFromUnicodeArgs;
typedef int8_t UBool;
typedef char16_t UChar;
typedef int32_t UChar32;
// Fixed to int so any value ICU returns is a valid enumerator.
enum UErrorCode : int {
   U_ZERO_ERROR = 0,
   U_BUFFER_OVERFLOW_ERROR = 15,
};
enum UConverterCallbackReason : int {};
typedef void (*UConverterToUCallback)(const void *context,
                                      UConverterToUnicodeArgs *args,
                                      const char *codeUnits, int32_t length,
                                      UConverterCallbackReason reason,
                                      UErrorCode *pErrorCode);
typedef void (*UConverterFromUCallback)(const void *context,
                                        UConverterFromUnicodeArgs *args,
                                        const UChar *codeUnits, int32_t length,
                                        UChar32 codePoint,
                                        UConverterCallbackReason reason,
                                        UErrorCode *pErrorCode);
}
#else
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#endif

namespace {

constexpr uint32_t kInvalid = 0xFFFFFFFF;
// Room every converter keeps after its text for Finish's four zero bytes,
// so that adding them never moves the buffer.
constexpr uint64_t kTerminatorRoom = 4;
constexpr uint32_t kReplacement = 0xFFFD;

[[noreturn]] void AllocationFailure()
{
   Util_Panic("Unrecoverable memory allocation failure\n");
}

void ReserveOrPanic(ByteBuffer *bb, uint64_t total)
{
   if (!ByteBuffer_Enlarge(bb, total)) {
      AllocationFailure();
   }
}

// `count` items of `unit` bytes plus `extra` bytes, or panic: a size that
// overflows could never be allocated anyway.
uint64_t SizeOrPanic(uint64_t count, uint64_t unit, uint64_t extra)
{
   if (count > (UINT64_MAX - extra) / unit) {
      AllocationFailure();
   }
   return count * unit + extra;
}

// Ends every result with four zero bytes (a terminator for any unit size up
// to 32 bits) that the reported size leaves out.
void Finish(ByteBuffer *bb, char **bufOut, size_t *sizeOut)
{
   static const char kZeros[4] = {0, 0, 0, 0};
   if (!ByteBuffer_Append(bb, kZeros, sizeof kZeros)) {
      AllocationFailure();
   }
   uint64_t size = 0;
   *bufOut = ByteBuffer_Detach(bb, &size);
   *sizeOut = static_cast<size_t>(size - sizeof kZeros);
}

bool ValidMode(int mode)
{
   return mode == CSGTG_NORMAL || mode == CSGTG_TRANSLIT ||
          mode == CSGTG_IGNORE;
}

// ---------------------------------------------------------------------------
// ICU, linked natively and loaded at run time on Windows, behind one table so
// that a single conversion routine serves both.

struct IcuFunctions {
   UConverter *(*open)(const char *name, UErrorCode *err);
   void (*close)(UConverter *cnv);
   void (*setToUCallBack)(UConverter *cnv, UConverterToUCallback action,
                          const void *context,
                          UConverterToUCallback *oldAction,
                          const void **oldContext, UErrorCode *err);
   void (*setFromUCallBack)(UConverter *cnv, UConverterFromUCallback action,
                            const void *context,
                            UConverterFromUCallback *oldAction,
                            const void **oldContext, UErrorCode *err);
   void (*convertEx)(UConverter *targetCnv, UConverter *sourceCnv,
                     char **target, const char *targetLimit,
                     const char **source, const char *sourceLimit,
                     UChar *pivotStart, UChar **pivotSource,
                     UChar **pivotTarget, const UChar *pivotLimit,
                     UBool reset, UBool flush, UErrorCode *err);
   // Indexed by mode: stop, substitute, skip.
   UConverterToUCallback toU[3];
   UConverterFromUCallback fromU[3];
   // ICU's direct UTF-8 functions, several times faster than a pair of
   // converters on the short texts the library converts most. Optional:
   // null where the library lacks them, and the converters stand in.
   UChar *(*strFromUtf8)(UChar *dest, int32_t destCapacity,
                         int32_t *pDestLength, const char *src,
                         int32_t srcLength, UErrorCode *err);
   char *(*strToUtf8)(char *dest, int32_t destCapacity, int32_t *pDestLength,
                      const UChar *src, int32_t srcLength, UErrorCode *err);
};

// Warnings are negative in ICU, errors positive.
bool IcuFailed(UErrorCode err)
{
   return static_cast<int>(err) > static_cast<int>(U_ZERO_ERROR);
}

#ifdef _WIN32
// Only the system folder: a DLL of that name next to the installer or in
// the current folder must not be picked up.
HMODULE LoadSystemLibrary(const wchar_t *name)
{
   // LOAD_LIBRARY_SEARCH_SYSTEM32 came with Windows 8 (and KB2533623 for
   // Windows 7); older loaders reject it, and AddDllDirectory marks it.
   HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
   if (kernel != nullptr &&
       GetProcAddress(kernel, "AddDllDirectory") != nullptr) {
      return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
   }
   wchar_t path[MAX_PATH];
   UINT len = GetSystemDirectoryW(path, MAX_PATH);
   size_t nameLen = wcslen(name);
   if (len == 0 || static_cast<size_t>(len) + 1 + nameLen >= MAX_PATH) {
      return nullptr;
   }
   path[len] = L'\\';
   memcpy(path + len + 1, name, (nameLen + 1) * sizeof(wchar_t));
   return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename F>
bool Resolve(HMODULE module, const char *name, F *out)
{
   FARPROC p = GetProcAddress(module, name);
   if (p == nullptr) {
      return false;
   }
   // Through void (*)(void), the one function pointer type every other
   // converts from without a warning.
   *out = reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(p));
   return true;
}

bool ResolveAll(HMODULE m, IcuFunctions *f)
{
   return Resolve(m, "ucnv_open", &f->open) &&
          Resolve(m, "ucnv_close", &f->close) &&
          Resolve(m, "ucnv_setToUCallBack", &f->setToUCallBack) &&
          Resolve(m, "ucnv_setFromUCallBack", &f->setFromUCallBack) &&
          Resolve(m, "ucnv_convertEx", &f->convertEx) &&
          Resolve(m, "UCNV_TO_U_CALLBACK_STOP", &f->toU[0]) &&
          Resolve(m, "UCNV_TO_U_CALLBACK_SUBSTITUTE", &f->toU[1]) &&
          Resolve(m, "UCNV_TO_U_CALLBACK_SKIP", &f->toU[2]) &&
          Resolve(m, "UCNV_FROM_U_CALLBACK_STOP", &f->fromU[0]) &&
          Resolve(m, "UCNV_FROM_U_CALLBACK_SUBSTITUTE", &f->fromU[1]) &&
          Resolve(m, "UCNV_FROM_U_CALLBACK_SKIP", &f->fromU[2]);
}
#endif

// Converters kept open between conversions: opening the two a conversion
// needs costs several times more than converting a path with them. No
// lock: the library is single-threaded by contract (one custom action at a
// time), and nothing re-enters a conversion while one runs.
class ConverterPool {
public:
   // An idle converter opened under this exact name, or null.
   UConverter *Take(const char *name)
   {
      for (size_t i = count_; i-- > 0;) {
         if (strcmp(idle_[i].name, name) == 0) {
            UConverter *cnv = idle_[i].cnv;
            idle_[i] = idle_[--count_];
            return cnv;
         }
      }
      return nullptr;
   }

   // Keeps the converter for a later Take; false (the caller closes it)
   // when the pool is full or the name too long to keep.
   bool Give(const char *name, UConverter *cnv)
   {
      size_t len = strlen(name);
      if (count_ == kSize || len >= sizeof idle_[0].name) {
         return false;
      }
      memcpy(idle_[count_].name, name, len + 1);
      idle_[count_].cnv = cnv;
      count_++;
      return true;
   }

private:
   static constexpr size_t kSize = 8;
   struct Idle {
      char name[40];
      UConverter *cnv;
   };
   Idle idle_[kSize] = {};
   size_t count_ = 0;
};

// The process-wide switch: set, ICU is not used again.
std::atomic<bool> gDontUseIcu{false};

struct IcuState {
   IcuFunctions fns = {};
   bool available = false;
   ConverterPool pool;

   IcuState()
   {
#ifdef _WIN32
      // icu.dll is the combined library of Windows 10 1903 and later;
      // icuuc.dll the common one of the releases before.
      for (const wchar_t *name : {L"icu.dll", L"icuuc.dll"}) {
         HMODULE m = LoadSystemLibrary(name);
         if (m == nullptr) {
            continue;
         }
         if (ResolveAll(m, &fns)) {
            Resolve(m, "u_strFromUTF8", &fns.strFromUtf8);
            Resolve(m, "u_strToUTF8", &fns.strToUtf8);
            available = true;
            return;   // loaded for good: see Icu()
         }
         FreeLibrary(m);
         fns = IcuFunctions{};
      }
#else
      fns.open = ucnv_open;
      fns.close = ucnv_close;
      fns.setToUCallBack = ucnv_setToUCallBack;
      fns.setFromUCallBack = ucnv_setFromUCallBack;
      fns.convertEx = ucnv_convertEx;
      fns.toU[0] = UCNV_TO_U_CALLBACK_STOP;
      fns.toU[1] = UCNV_TO_U_CALLBACK_SUBSTITUTE;
      fns.toU[2] = UCNV_TO_U_CALLBACK_SKIP;
      fns.fromU[0] = UCNV_FROM_U_CALLBACK_STOP;
      fns.fromU[1] = UCNV_FROM_U_CALLBACK_SUBSTITUTE;
      fns.fromU[2] = UCNV_FROM_U_CALLBACK_SKIP;
      fns.strFromUtf8 = u_strFromUTF8;
      fns.strToUtf8 = u_strToUTF8;
      available = true;
#endif
   }
};

// Built on first need and deliberately never destroyed: in a DLL, static
// destructors run inside DLL_PROCESS_DETACH, where FreeLibrary is unsafe
// and ICU may already have detached itself, so closing its converters or
// freeing its module there could touch ICU after it is gone. The module
// and the kept converters therefore live as long as the process; an
// unload of this DLL alone leaves them behind (one reference and a few
// kilobytes).
IcuState *Icu()
{
   alignas(IcuState) static unsigned char storage[sizeof(IcuState)];
   static IcuState *const state = new (storage) IcuState;
   return state->available ? state : nullptr;
}

// A converter for one conversion: from the pool when one is idle, else
// newly opened; back to the pool afterwards.
class ConverterOwner {
public:
   ConverterOwner(IcuState &icu, const char *name) : icu_(icu), name_(name)
   {
      // ucnv_open(NULL) would open the default converter, not fail.
      if (name == nullptr) {
         return;
      }
      // A kept converter may hold the start of a sequence from a failed
      // conversion; the first ucnv_convertEx call (reset set) drops it.
      cnv_ = icu_.pool.Take(name);
      if (cnv_ != nullptr) {
         return;
      }
      UErrorCode err = U_ZERO_ERROR;
      cnv_ = icu_.fns.open(name, &err);
      if (IcuFailed(err) && cnv_ != nullptr) {
         icu_.fns.close(cnv_);
         cnv_ = nullptr;
      }
   }
   ~ConverterOwner()
   {
      if (cnv_ != nullptr && !icu_.pool.Give(name_, cnv_)) {
         icu_.fns.close(cnv_);
      }
   }
   ConverterOwner(const ConverterOwner &) = delete;
   ConverterOwner &operator=(const ConverterOwner &) = delete;

   UConverter *Get() const { return cnv_; }

private:
   IcuState &icu_;
   const char *name_;
   UConverter *cnv_ = nullptr;
};

// ucnv_convertEx refuses source and target ranges of 2 GiB or more; longer
// text goes through in windows of this size.
constexpr uint64_t kIcuMaxRange = 0x7FFFFFFF;

bool IcuConvert(IcuState &state, const char *codeIn, const char *bufIn,
                size_t sizeIn, const char *codeOut, int mode, ByteBuffer *out)
{
   const IcuFunctions &icu = state.fns;
   ConverterOwner source(state, codeIn);
   ConverterOwner target(state, codeOut);
   if (source.Get() == nullptr || target.Get() == nullptr) {
      return false;
   }
   UErrorCode err = U_ZERO_ERROR;
   for (UConverter *cnv : {source.Get(), target.Get()}) {
      icu.setToUCallBack(cnv, icu.toU[mode], nullptr, nullptr, nullptr, &err);
      icu.setFromUCallBack(cnv, icu.fromU[mode], nullptr, nullptr, nullptr,
                           &err);
   }
   if (IcuFailed(err)) {
      return false;
   }

   ReserveOrPanic(out, SizeOrPanic(sizeIn, 1, kTerminatorRoom));
   UChar pivot[1024];
   UChar *pivotSource = pivot;
   UChar *pivotTarget = pivot;
   const char *src = bufIn != nullptr ? bufIn : "";
   const char *srcEnd = src + sizeIn;
   bool reset = true;
   for (;;) {
      const char *srcLimit =
         static_cast<uint64_t>(srcEnd - src) > kIcuMaxRange
            ? src + kIcuMaxRange
            : srcEnd;
      bool flush = srcLimit == srcEnd;
      uint64_t room = out->allocated - out->size;
      bool windowed = room > kIcuMaxRange;
      char *dst = out->data + out->size;
      char *dstLimit = dst + (windowed ? kIcuMaxRange : room);
      err = U_ZERO_ERROR;
      icu.convertEx(target.Get(), source.Get(), &dst, dstLimit, &src,
                    srcLimit, pivot, &pivotSource, &pivotTarget,
                    pivot + sizeof pivot / sizeof pivot[0], reset, flush,
                    &err);
      reset = false;
      out->size = static_cast<uint64_t>(dst - out->data);
      if (err == U_BUFFER_OVERFLOW_ERROR) {
         if (!windowed) {
            ReserveOrPanic(out, SizeOrPanic(out->allocated, 2, 0));
         }
         continue;
      }
      if (IcuFailed(err)) {
         return false;
      }
      if (flush) {
         return true;
      }
   }
}

// ---------------------------------------------------------------------------
// Built-in UTF-8 and UTF-16LE. Invalid input is cut into the same pieces ICU
// cuts it into (the maximal subparts of the Unicode standard, a truncated
// sequence at the end counting as one), so that substitution and skipping
// give the same text as the ICU path.

inline void PutUnit(uint8_t *d, uint32_t u)
{
   d[0] = static_cast<uint8_t>(u);
   d[1] = static_cast<uint8_t>(u >> 8);
}

inline uint32_t GetUnit(const uint8_t *s)
{
   return static_cast<uint32_t>(s[0]) | (static_cast<uint32_t>(s[1]) << 8);
}

// One UTF-8 sequence of s[0..n), n > 0 and s[0] >= 0x80. Returns the bytes
// it takes; *cp is the code point, or kInvalid for an ill-formed piece of
// the returned length.
inline size_t DecodeUtf8(const uint8_t *s, size_t n, uint32_t *cp)
{
   uint32_t b0 = s[0];
   *cp = kInvalid;
   if (b0 < 0xC2) {
      return 1;   // a trail byte, or the lead of an overlong pair
   }
   if (b0 < 0xE0) {
      if (n < 2 || (s[1] & 0xC0) != 0x80) {
         return 1;
      }
      *cp = ((b0 & 0x1F) << 6) | (s[1] & 0x3F);
      return 2;
   }
   if (b0 < 0xF0) {
      // E0 needs A0..BF (no overlong forms), ED 80..9F (no surrogates).
      uint32_t lo = b0 == 0xE0 ? 0xA0 : 0x80;
      uint32_t hi = b0 == 0xED ? 0x9F : 0xBF;
      if (n < 2 || s[1] < lo || s[1] > hi) {
         return 1;
      }
      if (n < 3 || (s[2] & 0xC0) != 0x80) {
         return 2;
      }
      *cp = ((b0 & 0x0F) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3F);
      return 3;
   }
   if (b0 < 0xF5) {
      // F0 needs 90..BF (no overlong forms), F4 80..8F (nothing past
      // U+10FFFF).
      uint32_t lo = b0 == 0xF0 ? 0x90 : 0x80;
      uint32_t hi = b0 == 0xF4 ? 0x8F : 0xBF;
      if (n < 2 || s[1] < lo || s[1] > hi) {
         return 1;
      }
      if (n < 3 || (s[2] & 0xC0) != 0x80) {
         return 2;
      }
      if (n < 4 || (s[3] & 0xC0) != 0x80) {
         return 3;
      }
      *cp = ((b0 & 0x07) << 18) | ((s[1] & 0x3Fu) << 12) |
            ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3F);
      return 4;
   }
   return 1;   // F5..FF never start a sequence
}

// One UTF-16LE character of s[0..n), n > 0. Returns the bytes it takes;
// *cp as for DecodeUtf8.
inline size_t DecodeUtf16(const uint8_t *s, size_t n, uint32_t *cp)
{
   *cp = kInvalid;
   if (n < 2) {
      return n;   // half a unit at the end
   }
   uint32_t u = GetUnit(s);
   if ((u & 0xF800) != 0xD800) {
      *cp = u;
      return 2;
   }
   if (u >= 0xDC00) {
      return 2;   // a trail surrogate without its lead
   }
   if (n < 4) {
      return n;   // a lead at the end, with or without half a unit
   }
   uint32_t u2 = GetUnit(s + 2);
   if ((u2 & 0xFC00) != 0xDC00) {
      return 2;
   }
   *cp = 0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00);
   return 4;
}

inline size_t PutUtf16(uint8_t *d, uint32_t cp)
{
   if (cp < 0x10000) {
      PutUnit(d, cp);
      return 2;
   }
   cp -= 0x10000;
   PutUnit(d, 0xD800 | (cp >> 10));
   PutUnit(d + 2, 0xDC00 | (cp & 0x3FF));
   return 4;
}

inline size_t PutUtf8(uint8_t *d, uint32_t cp)
{
   if (cp < 0x80) {
      d[0] = static_cast<uint8_t>(cp);
      return 1;
   }
   if (cp < 0x800) {
      d[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
      d[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
      return 2;
   }
   if (cp < 0x10000) {
      d[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
      d[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      d[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
      return 3;
   }
   d[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
   d[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
   d[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
   d[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
   return 4;
}

inline unsigned CountTrailingZeros(uint32_t x)
{
   return static_cast<unsigned>(__builtin_ctz(x));
}

// Appends the UTF-16LE form of UTF-8 text to `out`. False on invalid input
// in mode 0.
bool Utf8ToUtf16(const uint8_t *s, size_t n, int mode, ByteBuffer *out)
{
   // A byte gives at most one unit: a four-byte sequence gives two, an
   // ill-formed piece of one or more bytes at most one replacement.
   ReserveOrPanic(out, SizeOrPanic(n, 2, out->size + kTerminatorRoom));
   uint8_t *d = reinterpret_cast<uint8_t *>(out->data) + out->size;
   size_t o = 0;
   size_t i = 0;
   while (i < n) {
#if defined(__SSE2__)
      // Sixteen bytes widened at once, tried where an ASCII byte starts
      // (so not over and over inside runs of other scripts); the store is
      // in bounds because o is at most 2 * i and 16 bytes of input are
      // left.
      if (n - i >= 16 && s[i] < 0x80) {
         __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
         __m128i zero = _mm_setzero_si128();
         _mm_storeu_si128(reinterpret_cast<__m128i *>(d + o),
                          _mm_unpacklo_epi8(v, zero));
         _mm_storeu_si128(reinterpret_cast<__m128i *>(d + o + 16),
                          _mm_unpackhi_epi8(v, zero));
         uint32_t high = static_cast<uint32_t>(_mm_movemask_epi8(v));
         if (high == 0) {
            i += 16;
            o += 32;
            continue;
         }
         unsigned ascii = CountTrailingZeros(high);
         i += ascii;
         o += 2 * ascii;
      }
#else
      // Eight bytes at a time where the text is ASCII.
      while (n - i >= 8) {
         uint64_t w;
         memcpy(&w, s + i, 8);
         if ((w & 0x8080808080808080ULL) != 0) {
            break;
         }
         for (int k = 0; k < 8; k++) {
            PutUnit(d + o + 2 * k, s[i + k]);
         }
         i += 8;
         o += 16;
      }
      if (i == n) {
         break;
      }
#endif
      uint32_t b = s[i];
      if (b < 0x80) {
         PutUnit(d + o, b);
         i++;
         o += 2;
         continue;
      }
      // Well-formed two- and three-byte sequences (Latin, Greek, Cyrillic,
      // CJK) inline; everything else through DecodeUtf8.
      if (b < 0xE0) {
         if (b >= 0xC2 && n - i >= 2 && (s[i + 1] & 0xC0) == 0x80) {
            PutUnit(d + o, ((b & 0x1F) << 6) | (s[i + 1] & 0x3F));
            i += 2;
            o += 2;
            continue;
         }
      } else if (b < 0xF0 && n - i >= 3) {
         uint32_t b1 = s[i + 1];
         uint32_t b2 = s[i + 2];
         uint32_t cp3 = ((b & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
         if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80 && cp3 >= 0x800 &&
             (cp3 & 0xF800) != 0xD800) {
            PutUnit(d + o, cp3);
            i += 3;
            o += 2;
            continue;
         }
      }
      uint32_t cp;
      i += DecodeUtf8(s + i, n - i, &cp);
      if (cp == kInvalid) {
         if (mode == CSGTG_NORMAL) {
            return false;
         }
         if (mode == CSGTG_IGNORE) {
            continue;
         }
         cp = kReplacement;
      }
      o += PutUtf16(d + o, cp);
   }
   out->size += o;
   return true;
}

// Up to this many units the UTF-8 size is measured before converting.
constexpr size_t kExactBoundUnits = 512;

// Bytes the UTF-8 form of UTF-16LE text can take. Short text is measured:
// 1, 2 or 3 bytes per unit (a pair gives 4 of its 6, a lone surrogate at
// most the 3 of U+FFFD), 3 for an odd last byte, exact for text without
// surrogates. That spares a short ASCII path a block three times too large
// and the realloc that would cut it down; for long text measuring costs
// more than shrinking the block in place afterwards, so it gets 3 a unit.
uint64_t Utf8SizeBound(const uint8_t *s, size_t n)
{
   size_t units = n / 2;
   uint64_t oddByte = (n & 1) * 3;
   if (units > kExactBoundUnits) {
      return static_cast<uint64_t>(units) * 3 + oddByte;
   }
   uint64_t small = 0;   // units below 0x80 plus units below 0x800
   size_t i = 0;
#if defined(__SSE2__)
   const __m128i zero = _mm_setzero_si128();
   const __m128i below80 = _mm_set1_epi16(0x7F);
   const __m128i below800 = _mm_set1_epi16(0x7FF);
   // Each 16-bit lane gains at most 2 a round, 128 at most here.
   __m128i acc = zero;
   for (; units - i >= 8; i += 8) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 2 * i));
      // A unit not above the limit saturates to zero; equal-to-zero lanes
      // are -1, so subtracting counts them.
      acc = _mm_sub_epi16(acc,
                          _mm_cmpeq_epi16(_mm_subs_epu16(v, below80), zero));
      acc = _mm_sub_epi16(acc,
                          _mm_cmpeq_epi16(_mm_subs_epu16(v, below800), zero));
   }
   uint16_t lanes[8];
   _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), acc);
   for (uint16_t lane : lanes) {
      small += lane;
   }
#endif
   for (; i < units; i++) {
      uint32_t u = GetUnit(s + 2 * i);
      small += (u < 0x80) + (u < 0x800);
   }
   return static_cast<uint64_t>(units) * 3 - small + oddByte;
}

// Appends the UTF-8 form of UTF-16LE text to `out`. False on invalid input
// in mode 0.
bool Utf16ToUtf8(const uint8_t *s, size_t n, int mode, ByteBuffer *out)
{
   ReserveOrPanic(out, SizeOrPanic(Utf8SizeBound(s, n), 1,
                                   out->size + kTerminatorRoom));
   uint8_t *d = reinterpret_cast<uint8_t *>(out->data) + out->size;
   size_t o = 0;
   size_t i = 0;
   while (i < n) {
#if defined(__SSE2__)
      // Eight units narrowed at once where an ASCII unit starts. The 8-byte
      // store is in bounds: what is written so far is within the bound of
      // the units read, and each of the eight units left adds at least one
      // byte to the bound.
      if (n - i >= 16 && s[i + 1] == 0 && s[i] < 0x80) {
         __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
         __m128i nonAscii =
            _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
         uint32_t ascii = static_cast<uint32_t>(_mm_movemask_epi8(
            _mm_cmpeq_epi16(nonAscii, _mm_setzero_si128())));
         _mm_storel_epi64(reinterpret_cast<__m128i *>(d + o),
                          _mm_packus_epi16(v, v));
         if (ascii == 0xFFFF) {
            i += 16;
            o += 8;
            continue;
         }
         unsigned units = CountTrailingZeros(~ascii) / 2;
         i += 2 * units;
         o += units;
      }
#endif
      uint32_t cp;
      if (n - i >= 2) {
         cp = GetUnit(s + i);
         if (cp < 0x80) {
            d[o++] = static_cast<uint8_t>(cp);
            i += 2;
            continue;
         }
         if ((cp & 0xF800) != 0xD800) {
            o += PutUtf8(d + o, cp);
            i += 2;
            continue;
         }
      }
      i += DecodeUtf16(s + i, n - i, &cp);
      if (cp == kInvalid) {
         if (mode == CSGTG_NORMAL) {
            return false;
         }
         if (mode == CSGTG_IGNORE) {
            continue;
         }
         cp = kReplacement;
      }
      o += PutUtf8(d + o, cp);
   }
   out->size += o;
   return true;
}

// UTF-16LE text checked (mode 0) or repaired (modes 1 and 2) as UTF-16LE.
bool Utf16ToUtf16(const uint8_t *s, size_t n, int mode, ByteBuffer *out)
{
   // A repaired piece is never longer than what it replaces, except an odd
   // last byte, which becomes a whole unit.
   ReserveOrPanic(out, SizeOrPanic(n + 1, 1, out->size + kTerminatorRoom));
   uint8_t *d = reinterpret_cast<uint8_t *>(out->data) + out->size;
   size_t o = 0;
   size_t i = 0;
   while (i < n) {
      uint32_t cp;
      i += DecodeUtf16(s + i, n - i, &cp);
      if (cp == kInvalid) {
         if (mode == CSGTG_NORMAL) {
            return false;
         }
         if (mode == CSGTG_IGNORE) {
            continue;
         }
         cp = kReplacement;
      }
      o += PutUtf16(d + o, cp);
   }
   out->size += o;
   return true;
}

// ---------------------------------------------------------------------------
// Built-in converters for the system's code pages (Windows only).

#ifdef _WIN32

// These code pages take neither MB_ERR_INVALID_CHARS nor
// WC_NO_BEST_FIT_CHARS nor the used-default-character flag; their results
// are checked by converting back instead.
bool CodePageTakesFlags(unsigned cp)
{
   switch (cp) {
   case 42:
   case 50220:
   case 50221:
   case 50222:
   case 50225:
   case 50227:
   case 50229:
   case 65000:
   case 65001:
      return false;
   default:
      return !(cp >= 57002 && cp <= 57011);
   }
}

bool SystemHasMbErrInvalidChars()
{
   static const bool has = [] {
      OSVERSIONINFOEXA info = {};
      info.dwOSVersionInfoSize = sizeof info;
      if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&info))) {
         // Only systems too old for the extended record refuse it.
         return false;
      }
      return CodeSetMbErrInvalidCharsSupported(info.dwMajorVersion,
                                               info.dwMinorVersion,
                                               info.wServicePackMajor);
   }();
   return has;
}

int ClampToInt(uint64_t n)
{
   return n > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

// MultiByteToWideChar appending to `out`, enlarged while the system says the
// room was short. False on any other failure, with `out` as it was.
bool MbToWide(unsigned cp, DWORD flags, const char *s, int n, ByteBuffer *out)
{
   for (;;) {
      int room = ClampToInt((out->allocated - out->size) / 2);
      int r = room == 0 ? 0
                        : MultiByteToWideChar(
                             cp, flags, s, n,
                             reinterpret_cast<wchar_t *>(out->data + out->size),
                             room);
      if (r > 0) {
         out->size += 2 * static_cast<uint64_t>(r);
         return true;
      }
      if ((room != 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER) ||
          room == INT_MAX) {
         return false;
      }
      ReserveOrPanic(out, out->allocated + 2);
   }
}

bool WideToMb(unsigned cp, DWORD flags, const wchar_t *w, int units,
              BOOL *usedDefault, ByteBuffer *out)
{
   for (;;) {
      int room = ClampToInt(out->allocated - out->size);
      if (usedDefault != nullptr) {
         *usedDefault = FALSE;
      }
      int r = room == 0 ? 0
                        : WideCharToMultiByte(cp, flags, w, units,
                                              out->data + out->size, room,
                                              nullptr, usedDefault);
      if (r > 0) {
         out->size += static_cast<uint64_t>(r);
         return true;
      }
      if ((room != 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER) ||
          room == INT_MAX) {
         return false;
      }
      ReserveOrPanic(out, out->allocated + 1);
   }
}

// Appends the UTF-16 of s[0..n) only if every byte is valid in the code
// page: through MB_ERR_INVALID_CHARS where it can be used, else by
// converting the result back and requiring the same byte count.
bool MbStrict(unsigned cp, const char *s, int n, bool useErrFlag,
              ByteBuffer *out)
{
   uint64_t start = out->size;
   bool flag = useErrFlag && CodePageTakesFlags(cp);
   if (!MbToWide(cp, flag ? MB_ERR_INVALID_CHARS : 0, s, n, out)) {
      return false;
   }
   if (!flag) {
      int units = static_cast<int>((out->size - start) / 2);
      int back = WideCharToMultiByte(
         cp, 0, reinterpret_cast<const wchar_t *>(out->data + start), units,
         nullptr, 0, nullptr, nullptr);
      if (back != n) {
         out->size = start;
         return false;
      }
   }
   return true;
}

// Appends the code page form of w[0..units) only if every character has
// its own form there (no best fit, no default character).
bool WcStrict(unsigned cp, const wchar_t *w, int units, ByteBuffer *out)
{
   uint64_t start = out->size;
   if (CodePageTakesFlags(cp)) {
      BOOL usedDefault = FALSE;
      if (!WideToMb(cp, WC_NO_BEST_FIT_CHARS, w, units, &usedDefault, out)) {
         return false;
      }
      if (usedDefault) {
         out->size = start;
         return false;
      }
      return true;
   }
   if (!WideToMb(cp, 0, w, units, nullptr, out)) {
      return false;
   }
   ByteBuffer back;
   ByteBuffer_Init(&back);
   bool same = MbToWide(cp, 0, out->data + start,
                        static_cast<int>(out->size - start), &back) &&
               back.size == 2 * static_cast<uint64_t>(units) &&
               memcmp(back.data, w, back.size) == 0;
   ByteBuffer_Destroy(&back);
   if (!same) {
      out->size = start;
   }
   return same;
}

bool CodePageToUtf16(unsigned cp, const char *s, size_t n, int mode,
                     bool useErrFlag, ByteBuffer *out)
{
   if (n == 0) {
      return true;   // the system functions reject empty input
   }
   if (n > static_cast<size_t>(INT_MAX)) {
      return false;
   }
   int len = static_cast<int>(n);
   ReserveOrPanic(out, SizeOrPanic(n, 2, out->size + kTerminatorRoom));
   if (mode == CSGTG_TRANSLIT) {
      // The system's own default character stands in for invalid bytes.
      return MbToWide(cp, 0, s, len, out);
   }
   if (MbStrict(cp, s, len, useErrFlag, out)) {
      return true;
   }
   if (mode == CSGTG_NORMAL || !CodePageTakesFlags(cp)) {
      // Skipping needs character boundaries, which the stateful code pages
      // (the ones without the flags) do not have.
      return false;
   }
   // Skip mode: character by character, a character being the shortest
   // run of bytes (up to the code page's longest) that converts; a byte
   // that starts none is dropped.
   CPINFO info;
   int maxLen = GetCPInfo(cp, &info) ? static_cast<int>(info.MaxCharSize) : 1;
   maxLen = maxLen < 1 ? 1 : maxLen > 4 ? 4 : maxLen;
   int i = 0;
   while (i < len) {
      int k = 1;
      while (k <= maxLen && i + k <= len &&
             !MbStrict(cp, s + i, k, useErrFlag, out)) {
         k++;
      }
      i += k <= maxLen && i + k <= len ? k : 1;
   }
   return true;
}

// w is valid UTF-16 (the caller repairs it first) in an aligned buffer.
bool Utf16ToCodePage(unsigned cp, const wchar_t *w, size_t units, int mode,
                     ByteBuffer *out)
{
   if (units == 0) {
      return true;
   }
   if (units > static_cast<size_t>(INT_MAX)) {
      return false;
   }
   int len = static_cast<int>(units);
   ReserveOrPanic(out, SizeOrPanic(units, 2, out->size + kTerminatorRoom));
   if (mode == CSGTG_TRANSLIT) {
      return WideToMb(cp, CodePageTakesFlags(cp) ? WC_NO_BEST_FIT_CHARS : 0,
                      w, len, nullptr, out);
   }
   if (WcStrict(cp, w, len, out)) {
      return true;
   }
   if (mode == CSGTG_NORMAL || !CodePageTakesFlags(cp)) {
      return false;
   }
   int i = 0;
   while (i < len) {
      int k = (w[i] & 0xFC00) == 0xD800 && i + 1 < len ? 2 : 1;
      WcStrict(cp, w + i, k, out);
      i += k;
   }
   return true;
}

#endif  // _WIN32

// ---------------------------------------------------------------------------
// Names the built-in converters know.

enum class EncodingKind { Utf8, Utf16le, CodePage };

struct Encoding {
   EncodingKind kind;
   unsigned codePage;
};

bool EqualsIgnoreCase(const char *a, const char *b)
{
   for (;; a++, b++) {
      unsigned char ca = static_cast<unsigned char>(*a);
      unsigned char cb = static_cast<unsigned char>(*b);
      if (ca >= 'a' && ca <= 'z') {
         ca = static_cast<unsigned char>(ca - 'a' + 'A');
      }
      if (cb >= 'a' && cb <= 'z') {
         cb = static_cast<unsigned char>(cb - 'a' + 'A');
      }
      if (ca != cb) {
         return false;
      }
      if (ca == '\0') {
         return true;
      }
   }
}

#ifdef _WIN32
// "windows-N" (as CodeSet_CurrentName makes it) or "cpN".
bool ParseCodePageName(const char *name, unsigned *cp)
{
   const char *digits = nullptr;
   if (strncmp(name, "windows-", 8) == 0 || strncmp(name, "WINDOWS-", 8) == 0) {
      digits = name + 8;
   } else if ((name[0] == 'c' || name[0] == 'C') &&
              (name[1] == 'p' || name[1] == 'P')) {
      digits = name + 2;
   } else {
      return false;
   }
   unsigned value = 0;
   size_t count = 0;
   for (; digits[count] != '\0'; count++) {
      char c = digits[count];
      if (c < '0' || c > '9' || count == 5) {
         return false;
      }
      value = value * 10 + static_cast<unsigned>(c - '0');
   }
   if (count == 0 || value > 65535) {
      return false;
   }
   *cp = value;
   return true;
}
#endif

bool LookupEncoding(const char *name, Encoding *enc)
{
   if (name == nullptr) {
      return false;
   }
   // The names the library itself uses, spelled as it spells them, first.
   if (strcmp(name, "UTF-8") == 0) {
      *enc = {EncodingKind::Utf8, 0};
      return true;
   }
   if (strcmp(name, "UTF-16LE") == 0) {
      *enc = {EncodingKind::Utf16le, 0};
      return true;
   }
   if (EqualsIgnoreCase(name, "UTF-8") || EqualsIgnoreCase(name, "UTF8")) {
      *enc = {EncodingKind::Utf8, 0};
      return true;
   }
   if (EqualsIgnoreCase(name, "UTF-16LE") ||
       EqualsIgnoreCase(name, "UTF16LE")) {
      *enc = {EncodingKind::Utf16le, 0};
      return true;
   }
#ifdef _WIN32
   unsigned cp;
   if (ParseCodePageName(name, &cp)) {
      if (cp == CP_UTF8) {
         *enc = {EncodingKind::Utf8, 0};
         return true;
      }
      if (cp == 1200) {
         *enc = {EncodingKind::Utf16le, 0};
         return true;
      }
      if (cp != CP_ACP && cp != CP_OEMCP && cp != CP_MACCP &&
          cp != CP_THREAD_ACP && IsValidCodePage(cp)) {
         *enc = {EncodingKind::CodePage, cp};
         return true;
      }
   }
#endif
   return false;
}

// Appends text in `enc` as UTF-16LE.
bool ToUtf16(const Encoding &enc, const char *s, size_t n, int mode,
             ByteBuffer *out)
{
   const uint8_t *u = reinterpret_cast<const uint8_t *>(s);
   switch (enc.kind) {
   case EncodingKind::Utf8:
      return Utf8ToUtf16(u, n, mode, out);
   case EncodingKind::Utf16le:
      return Utf16ToUtf16(u, n, mode, out);
   case EncodingKind::CodePage:
#ifdef _WIN32
      return CodePageToUtf16(enc.codePage, s, n, mode,
                             SystemHasMbErrInvalidChars(), out);
#else
      break;
#endif
   }
   return false;
}

// Appends UTF-16LE text (of any validity) in `enc`.
bool FromUtf16(const Encoding &enc, const char *s, size_t n, int mode,
               ByteBuffer *out)
{
   const uint8_t *u = reinterpret_cast<const uint8_t *>(s);
   switch (enc.kind) {
   case EncodingKind::Utf8:
      return Utf16ToUtf8(u, n, mode, out);
   case EncodingKind::Utf16le:
      return Utf16ToUtf16(u, n, mode, out);
   case EncodingKind::CodePage: {
#ifdef _WIN32
      // Repaired into an aligned buffer of our own first: the system
      // functions need whole wchar_t units, and mode 2 must not see the
      // default character for a lone surrogate.
      ByteBuffer units;
      ByteBuffer_Init(&units);
      bool ok = Utf16ToUtf16(u, n, mode, &units) &&
                Utf16ToCodePage(enc.codePage,
                                reinterpret_cast<const wchar_t *>(units.data),
                                units.size / 2, mode, out);
      ByteBuffer_Destroy(&units);
      return ok;
#else
      break;
#endif
   }
   }
   return false;
}

bool BuiltinConvert(const Encoding &in, const char *bufIn, size_t sizeIn,
                    const Encoding &to, int mode, ByteBuffer *out)
{
   if (in.kind == EncodingKind::Utf16le) {
      return FromUtf16(to, bufIn, sizeIn, mode, out);
   }
   if (to.kind == EncodingKind::Utf16le) {
      return ToUtf16(in, bufIn, sizeIn, mode, out);
   }
   ByteBuffer units;
   ByteBuffer_Init(&units);
   bool ok = ToUtf16(in, bufIn, sizeIn, mode, &units) &&
             FromUtf16(to, units.data, units.size, mode, out);
   ByteBuffer_Destroy(&units);
   return ok;
}

// Argument checks shared by every entry point.
bool StartConversion(const char *bufIn, size_t sizeIn, int mode,
                     char **bufOut, size_t *sizeOut)
{
   if (bufOut == nullptr || sizeOut == nullptr) {
      return false;
   }
   *bufOut = nullptr;
   *sizeOut = 0;
   return ValidMode(mode) && (bufIn != nullptr || sizeIn == 0);
}

// Decided on first need: ICU stays in use only if it loads and knows the
// current code page.
bool DecideIcu()
{
   if (gDontUseIcu.load()) {
      return false;
   }
   IcuState *icu = Icu();
   bool usable = icu != nullptr &&
                 ConverterOwner(*icu, CodeSet_CurrentName()).Get() != nullptr;
   if (!usable) {
      CodeSet_DontUseIcu();
   }
   return usable;
}

// Hands a finished conversion to the caller, or frees a failed one.
bool Deliver(ByteBuffer *out, bool ok, char **bufOut, size_t *sizeOut)
{
   if (!ok) {
      ByteBuffer_Destroy(out);
      return false;
   }
   Finish(out, bufOut, sizeOut);
   return true;
}

// The direct functions take int32_t lengths and UTF-16 in the machine's
// order; text they cannot take goes through the converters.
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
constexpr uint64_t kDirectMax = INT32_MAX;

// Runs `convert(dest, capacity, &bytes)`, one of ICU's direct functions,
// into room for the worst case. A short result is made on the stack and
// copied into a block of its exact size: a byte buffer would start at 128
// bytes and have to move a path-sized result once more to shrink it, which
// costs as much as the conversion. A long one is made in a block of the
// worst-case size, which Finish cuts down.
template <typename Convert>
bool DirectConvert(uint64_t worst, Convert convert, char **bufOut,
                   size_t *sizeOut)
{
   alignas(UChar) char stack[2048];
   int32_t bytes = 0;
   if (worst <= sizeof stack) {
      if (!convert(stack, static_cast<int32_t>(worst), &bytes)) {
         return false;
      }
      size_t n = static_cast<size_t>(bytes);
      char *out = static_cast<char *>(malloc(n + kTerminatorRoom));
      if (out == nullptr) {
         AllocationFailure();
      }
      memcpy(out, stack, n);
      memset(out + n, 0, kTerminatorRoom);
      *bufOut = out;
      *sizeOut = n;
      return true;
   }
   ByteBuffer out;
   ByteBuffer_Init(&out);
   ReserveOrPanic(&out, SizeOrPanic(worst, 1, kTerminatorRoom));
   bool ok = convert(out.data, static_cast<int32_t>(worst), &bytes);
   out.size = ok ? static_cast<uint64_t>(bytes) : 0;
   return Deliver(&out, ok, bufOut, sizeOut);
}

}  // namespace

// ---------------------------------------------------------------------------

bool CodeSetIcuAvailable(void)
{
   return Icu() != nullptr;
}

bool CodeSetIcuConvert(const char *codeIn, const char *bufIn, size_t sizeIn,
                       const char *codeOut, int mode, char **bufOut,
                       size_t *sizeOut)
{
   if (!StartConversion(bufIn, sizeIn, mode, bufOut, sizeOut)) {
      return false;
   }
   IcuState *icu = Icu();
   if (icu == nullptr) {
      return false;
   }
   ByteBuffer out;
   ByteBuffer_Init(&out);
   return Deliver(&out,
                  IcuConvert(*icu, codeIn, bufIn, sizeIn, codeOut, mode, &out),
                  bufOut, sizeOut);
}

bool CodeSetIcuUtf8ToUtf16le(const char *bufIn, size_t sizeIn, char **bufOut,
                             size_t *sizeOut)
{
   IcuState *icu = Icu();
   if (!StartConversion(bufIn, sizeIn, CSGTG_NORMAL, bufOut, sizeOut) ||
       icu == nullptr) {
      return false;
   }
   const char *s = bufIn != nullptr ? bufIn : "";
   const IcuFunctions &fns = icu->fns;
   // A byte gives at most one unit. u_strFromUTF8 fails on exactly what the
   // built-in converter refuses: ill-formed, overlong, surrogate, beyond
   // U+10FFFF, truncated.
   if (fns.strFromUtf8 != nullptr && kLittleEndian &&
       sizeIn <= kDirectMax / 2) {
      auto convert = [&](char *dest, int32_t room, int32_t *bytes) {
         UErrorCode err = U_ZERO_ERROR;
         int32_t units = 0;
         fns.strFromUtf8(reinterpret_cast<UChar *>(dest), room / 2, &units, s,
                         static_cast<int32_t>(sizeIn), &err);
         *bytes = 2 * units;
         return !IcuFailed(err);
      };
      return DirectConvert(2 * static_cast<uint64_t>(sizeIn), convert, bufOut,
                           sizeOut);
   }
   ByteBuffer out;
   ByteBuffer_Init(&out);
   return Deliver(&out,
                  IcuConvert(*icu, "UTF-8", s, sizeIn, "UTF-16LE",
                             CSGTG_NORMAL, &out),
                  bufOut, sizeOut);
}

bool CodeSetIcuUtf16leToUtf8(const char *bufIn, size_t sizeIn, char **bufOut,
                             size_t *sizeOut)
{
   IcuState *icu = Icu();
   if (!StartConversion(bufIn, sizeIn, CSGTG_NORMAL, bufOut, sizeOut) ||
       icu == nullptr) {
      return false;
   }
   if (sizeIn % 2 != 0) {
      return false;   // half a unit at the end, as the built-in path says
   }
   const char *s = bufIn != nullptr ? bufIn : "";
   const IcuFunctions &fns = icu->fns;
   // A unit gives at most three bytes (a pair four). u_strToUTF8 fails on an
   // unpaired surrogate. Unaligned text goes through the converters.
   uint64_t units = sizeIn / 2;
   if (fns.strToUtf8 != nullptr && kLittleEndian &&
       reinterpret_cast<uintptr_t>(s) % alignof(UChar) == 0 &&
       units <= kDirectMax / 3) {
      auto convert = [&](char *dest, int32_t room, int32_t *bytes) {
         UErrorCode err = U_ZERO_ERROR;
         fns.strToUtf8(dest, room, bytes, reinterpret_cast<const UChar *>(s),
                       static_cast<int32_t>(units), &err);
         return !IcuFailed(err);
      };
      return DirectConvert(3 * units, convert, bufOut, sizeOut);
   }
   ByteBuffer out;
   ByteBuffer_Init(&out);
   return Deliver(&out,
                  IcuConvert(*icu, "UTF-16LE", s, sizeIn, "UTF-8",
                             CSGTG_NORMAL, &out),
                  bufOut, sizeOut);
}

bool CodeSetBuiltinConvert(const char *codeIn, const char *bufIn,
                           size_t sizeIn, const char *codeOut, int mode,
                           char **bufOut, size_t *sizeOut)
{
   Encoding in;
   Encoding to;
   if (!StartConversion(bufIn, sizeIn, mode, bufOut, sizeOut) ||
       !LookupEncoding(codeIn, &in) || !LookupEncoding(codeOut, &to)) {
      return false;
   }
   ByteBuffer out;
   ByteBuffer_Init(&out);
   return Deliver(&out,
                  BuiltinConvert(in, bufIn != nullptr ? bufIn : "", sizeIn, to,
                                 mode, &out),
                  bufOut, sizeOut);
}

bool CodeSetMbErrInvalidCharsSupported(unsigned major, unsigned minor,
                                       unsigned servicePackMajor)
{
   if (major != 5) {
      return major > 5;
   }
   // 5.1 (XP) and 5.2 (Server 2003) have it; 2000 (5.0) from SP4 on.
   return minor >= 1 || servicePackMajor >= 4;
}

#ifdef _WIN32
bool CodeSetCodePageToUtf16(unsigned codePage, const char *bufIn,
                            size_t sizeIn, int mode, bool useErrFlag,
                            char **bufOut, size_t *sizeOut)
{
   if (!StartConversion(bufIn, sizeIn, mode, bufOut, sizeOut)) {
      return false;
   }
   ByteBuffer out;
   ByteBuffer_Init(&out);
   return Deliver(&out,
                  CodePageToUtf16(codePage, bufIn, sizeIn, mode, useErrFlag,
                                  &out),
                  bufOut, sizeOut);
}
#endif

bool CodeSet_Convert(const char *codeIn, const char *bufIn, size_t sizeIn,
                     const char *codeOut, int mode, char **bufOut,
                     size_t *sizeOut)
{
   if (CodeSet_IsUsingIcu()) {
      return CodeSetIcuConvert(codeIn, bufIn, sizeIn, codeOut, mode, bufOut,
                               sizeOut);
   }
   return CodeSetBuiltinConvert(codeIn, bufIn, sizeIn, codeOut, mode, bufOut,
                                sizeOut);
}

bool CodeSet_Utf8ToUtf16le(const char *bufIn, size_t sizeIn, char **bufOut,
                           size_t *sizeOut)
{
   if (CodeSet_IsUsingIcu()) {
      return CodeSetIcuUtf8ToUtf16le(bufIn, sizeIn, bufOut, sizeOut);
   }
   return CodeSetBuiltinConvert("UTF-8", bufIn, sizeIn, "UTF-16LE",
                                CSGTG_NORMAL, bufOut, sizeOut);
}

bool CodeSet_Utf16leToUtf8(const char *bufIn, size_t sizeIn, char **bufOut,
                           size_t *sizeOut)
{
   if (CodeSet_IsUsingIcu()) {
      return CodeSetIcuUtf16leToUtf8(bufIn, sizeIn, bufOut, sizeOut);
   }
   return CodeSetBuiltinConvert("UTF-16LE", bufIn, sizeIn, "UTF-8",
                                CSGTG_NORMAL, bufOut, sizeOut);
}

bool CodeSet_IsValidUtf8(const char *bufIn, size_t sizeIn)
{
   if (bufIn == nullptr) {
      return sizeIn == 0;
   }
   const uint8_t *s = reinterpret_cast<const uint8_t *>(bufIn);
   size_t i = 0;
   while (i < sizeIn) {
      // Runs of ASCII eight bytes at a time.
      while (sizeIn - i >= 8) {
         uint64_t w;
         memcpy(&w, s + i, 8);
         if ((w & 0x8080808080808080ULL) != 0) {
            break;
         }
         i += 8;
      }
      if (i == sizeIn) {
         break;
      }
      if (s[i] < 0x80) {
         i++;
         continue;
      }
      uint32_t cp;
      i += DecodeUtf8(s + i, sizeIn - i, &cp);
      if (cp == kInvalid) {
         return false;
      }
   }
   return true;
}

bool CodeSet_IsValidUtf16le(const char *bufIn, size_t sizeIn)
{
   if (bufIn == nullptr) {
      return sizeIn == 0;
   }
   const uint8_t *s = reinterpret_cast<const uint8_t *>(bufIn);
   size_t i = 0;
   while (i < sizeIn) {
      uint32_t cp;
      i += DecodeUtf16(s + i, sizeIn - i, &cp);
      if (cp == kInvalid) {
         return false;
      }
   }
   return true;
}

const char *CodeSet_CurrentName(void)
{
#ifdef _WIN32
   struct Name {
      char text[24];
      Name() { Text_Snprintf(text, sizeof text, "windows-%u", GetACP()); }
   };
   static const Name name;
   return name.text;
#else
   // No ANSI code page outside Windows: text in the system's encoding is
   // taken to be UTF-8, as it is on every system this tree builds for.
   return "UTF-8";
#endif
}

void CodeSet_DontUseIcu(void)
{
   gDontUseIcu.store(true);
}

bool CodeSet_IsUsingIcu(void)
{
   static const bool decided = DecideIcu();
   (void)decided;
   return !gDontUseIcu.load();
}
