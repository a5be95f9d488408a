// UTF-8 wrappers of the wide registry functions.
#include "lib/misc/win32uRegistry.h"

#include <cstring>

#include "common/log.h"
#include "lib/misc/codeset.h"
#include "lib/misc/panic.h"
#include "lib/misc/win32uInt.h"

using win32u::ErrorKeeper;
using win32u::Owned;
using win32u::WideArg;

namespace {

// Key names are at most 255 characters; the terminator needs one more.
const DWORD kNameCapacity = 256;

// Zero bytes kept after the data a query returns: one to complete an odd
// byte count and two whole units, so that measuring a REG_MULTI_SZ whose
// last string and list end are missing still stops inside the buffer.
const DWORD kZeroTail = 5;

bool IsStringType(DWORD type)
{
   return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The wide data buffer of a query: twice the caller's byte size, because
// a text that fits the caller in UTF-8 takes at most twice as many bytes in
// UTF-16 (ASCII), followed by the zero tail.
class WideData {
public:
   WideData(const BYTE *data, const DWORD *dataSize)
   {
      DWORD callerSize = dataSize != nullptr ? *dataSize : 0;
      const DWORD kLargest = (MAXDWORD - kZeroTail) / 2;
      capacity_ = callerSize > kLargest ? kLargest * 2 : callerSize * 2;
      size_ = capacity_;
      if (data != nullptr) {
         bytes_.reset(static_cast<BYTE *>(
            win32u::SafeMalloc(static_cast<size_t>(capacity_) + kZeroTail)));
      }
   }

   BYTE *get() const { return bytes_.get(); }
   // In and out for the wide call.
   DWORD *size() { return &size_; }
   DWORD capacity() const { return capacity_; }

   // Zeroes everything after the `returned` bytes the wide call wrote.
   void ZeroTail(DWORD returned)
   {
      size_t total = static_cast<size_t>(capacity_) + kZeroTail;
      memset(bytes_.get() + returned, 0, total - returned);
   }

private:
   Owned<BYTE> bytes_;
   DWORD size_ = 0;
   DWORD capacity_ = 0;
};

DWORD Doubled(DWORD size)
{
   return size > MAXDWORD / 2 ? MAXDWORD : size * 2;
}

// Turns the result of the wide query into the caller's: bytes for the
// other types, UTF-8 for the string types. `wideResult`, `type` and
// `wideSize` are what the wide call reported.
LONG Win32UGetRegistryStringLength(LONG wideResult, DWORD type,
                                   WideData &wide, DWORD wideSize,
                                   BYTE *data, DWORD *dataSize)
{
   if (wideResult != ERROR_SUCCESS && wideResult != ERROR_MORE_DATA) {
      // Nothing was read: the type and size mean nothing.
      return wideResult;
   }
   if (data != nullptr && dataSize == nullptr) {
      // The wide functions refuse this themselves; never rely on it.
      return ERROR_INVALID_PARAMETER;
   }

   if (!IsStringType(type)) {
      LONG result = wideResult;
      if (wideResult == ERROR_SUCCESS && data != nullptr) {
         if (wideSize <= *dataSize) {
            memcpy(data, wide.get(), wideSize);
         } else {
            result = ERROR_MORE_DATA;
         }
      }
      if (dataSize != nullptr) {
         *dataSize = wideSize;
      }
      return result;
   }

   if (wideResult != ERROR_SUCCESS || data == nullptr) {
      // UTF-8 takes at most 1.5 times the bytes of UTF-16, so twice the
      // UTF-16 bytes is always enough.
      if (dataSize != nullptr) {
         *dataSize = Doubled(wideSize);
      }
      return wideResult;
   }

   // The stored text need not end in its terminators; the zeroed tail after
   // the returned bytes supplies them. A text that runs on past the returned
   // bytes (an odd byte count with a non-zero last byte) is not UTF-16.
   if (wideSize > wide.capacity()) {
      wideSize = wide.capacity();
   }
   wide.ZeroTail(wideSize);
   const utf16_t *text = reinterpret_cast<const utf16_t *>(wide.get());
   size_t measured;      // units of the text itself
   size_t converted;     // units handed to the conversion
   if (type == REG_MULTI_SZ) {
      // Every string with its terminator, up to the empty string that ends
      // the list; the last terminator may be one of the tail's.
      size_t pos = 0;
      for (;;) {
         size_t length = win32u::WideLength(text + pos);
         if (length == 0) {
            break;
         }
         pos += length + 1;
      }
      converted = pos;
      measured = pos == 0 ? 0 : pos - 1;
   } else {
      measured = win32u::WideLength(text);
      converted = measured;
   }
   if (measured * sizeof(utf16_t) > wideSize) {
      Inst_Log(INST_LOG_ERROR,
               "%s: Unexpected size of a UTF-16 string: %u bytes exceeds "
               "buffer of %u bytes.\n",
               "Win32UGetRegistryStringLength",
               static_cast<unsigned>(measured * sizeof(utf16_t)),
               static_cast<unsigned>(wideSize));
      return ERROR_INVALID_DATA;
   }
   return Win32UCodeSetUtf16leToUtf8(
      text, static_cast<DWORD>(converted * sizeof(utf16_t)),
      reinterpret_cast<char *>(data), dataSize);
}

}  // namespace

LONG Win32UCodeSetUtf16leToUtf8(const utf16_t *data, DWORD byteLength,
                                char *buffer, DWORD *size)
{
   if (size == nullptr || (data == nullptr && byteLength != 0)) {
      return ERROR_INVALID_PARAMETER;
   }
   // No wide call here, but the conversion allocates: the caller's errno
   // and last error stay as they were.
   ErrorKeeper keep;
   keep.Capture();

   static const utf16_t kEmpty[] = {0};
   char *utf8 = nullptr;
   size_t utf8Length = 0;
   if (!CodeSet_Utf16leToUtf8(
          reinterpret_cast<const char *>(data != nullptr ? data : kEmpty),
          byteLength, &utf8, &utf8Length)) {
      Owned<char> escaped(Unicode_EscapeBuffer(data, byteLength,
                                               STRING_ENCODING_UTF16_LE));
      Inst_Log(INST_LOG_ERROR,
               "%s: Failed to convert the UTF-16 string to UTF-8: %s.\n",
               "Win32UCodeSetUtf16leToUtf8",
               escaped.get() != nullptr ? escaped.get()
                                        : "(couldn't escape bytes)");
      return ERROR_INVALID_DATA;
   }
   Owned<char> owned(utf8);

   DWORD available = buffer != nullptr ? *size : 0;
   *size = utf8Length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(utf8Length);
   if (utf8Length >= available) {
      return ERROR_MORE_DATA;
   }
   memcpy(buffer, utf8, utf8Length);
   buffer[utf8Length] = '\0';
   return ERROR_SUCCESS;
}

LONG Win32U_RegCreateKeyEx(HKEY key, const char *subKey, DWORD reserved,
                           const char *className, DWORD options,
                           REGSAM samDesired,
                           LPSECURITY_ATTRIBUTES securityAttributes,
                           PHKEY result, LPDWORD disposition)
{
   ErrorKeeper keep;
   WideArg wideSubKey(subKey);
   WideArg wideClass(className);
   LONG rc = RegCreateKeyExW(key, wideSubKey.get(), reserved, wideClass.get(),
                             options, samDesired, securityAttributes, result,
                             disposition);
   keep.Capture();
   return rc;
}

LONG Win32U_RegDeleteKey(HKEY key, const char *subKey)
{
   ErrorKeeper keep;
   WideArg wideSubKey(subKey);
   LONG rc = RegDeleteKeyW(key, wideSubKey.get());
   keep.Capture();
   return rc;
}

LONG Win32U_RegDeleteValue(HKEY key, const char *valueName)
{
   ErrorKeeper keep;
   WideArg wideName(valueName);
   LONG rc = RegDeleteValueW(key, wideName.get());
   keep.Capture();
   return rc;
}

LONG Win32U_RegOpenKeyEx(HKEY key, const char *subKey, DWORD options,
                         REGSAM samDesired, PHKEY result)
{
   ErrorKeeper keep;
   WideArg wideSubKey(subKey);
   LONG rc = RegOpenKeyExW(key, wideSubKey.get(), options, samDesired, result);
   keep.Capture();
   return rc;
}

LONG Win32U_RegQueryValueEx(HKEY key, const char *valueName,
                            LPDWORD reserved, LPDWORD type, LPBYTE data,
                            LPDWORD dataSize)
{
   ErrorKeeper keep;
   WideArg wideName(valueName);
   WideData wide(data, dataSize);
   DWORD wideType = REG_NONE;
   LONG rc = RegQueryValueExW(key, wideName.get(), reserved, &wideType,
                              wide.get(),
                              dataSize != nullptr ? wide.size() : nullptr);
   keep.Capture();
   if (type != nullptr && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) {
      *type = wideType;
   }
   return Win32UGetRegistryStringLength(rc, wideType, wide, *wide.size(),
                                        data, dataSize);
}

LONG Win32U_RegSetValueEx(HKEY key, const char *valueName, DWORD reserved,
                          DWORD type, const BYTE *data, DWORD dataSize)
{
   ErrorKeeper keep;
   WideArg wideName(valueName);
   if (!IsStringType(type) || data == nullptr) {
      LONG rc = RegSetValueExW(key, wideName.get(), reserved, type, data,
                               dataSize);
      keep.Capture();
      return rc;
   }

   // The text is read only within dataSize, and stored with all the
   // terminators its type needs even when the caller's bytes lack them.
   const char *text = reinterpret_cast<const char *>(data);
   size_t textLength;
   size_t terminators;
   if (type == REG_MULTI_SZ) {
      size_t pos = 0;
      terminators = 1;   // the empty string that ends the list
      while (pos < dataSize && text[pos] != '\0') {
         const void *nul = memchr(text + pos, 0, dataSize - pos);
         if (nul == nullptr) {
            pos = dataSize;
            terminators = 2;   // the last string's as well
            break;
         }
         pos = static_cast<const char *>(nul) - text + 1;
      }
      textLength = pos;
   } else {
      const void *nul = memchr(text, 0, dataSize);
      textLength = nul != nullptr ? static_cast<const char *>(nul) - text
                                  : dataSize;
      terminators = 1;
   }

   // Length-bounded text with embedded terminators, so not a C string for
   // Unicode_AllocEncoded; the same rule applies to invalid UTF-8.
   char *converted = nullptr;
   size_t convertedLength = 0;
   if (!CodeSet_Utf8ToUtf16le(text, textLength, &converted, &convertedLength)) {
      NOT_IMPLEMENTED();
   }
   Owned<char> wideData(converted);
   // The conversion's result ends in four zero bytes: the terminators.
   size_t wideSize = convertedLength + terminators * sizeof(utf16_t);
   if (wideSize > MAXDWORD) {
      keep.Capture();
      return ERROR_INVALID_PARAMETER;
   }
   LONG rc = RegSetValueExW(key, wideName.get(), reserved, type,
                            reinterpret_cast<const BYTE *>(converted),
                            static_cast<DWORD>(wideSize));
   keep.Capture();
   return rc;
}

LONG Win32U_RegEnumKeyEx(HKEY key, DWORD index, char *name,
                         LPDWORD nameSize, LPDWORD reserved, char *className,
                         LPDWORD classSize, PFILETIME lastWriteTime)
{
   ErrorKeeper keep;
   utf16_t wideName[kNameCapacity];
   utf16_t wideClass[kNameCapacity];
   DWORD wideNameSize = kNameCapacity;
   DWORD wideClassSize = kNameCapacity;
   // Null pointers stay null so that RegEnumKeyExW judges them itself.
   LONG rc = RegEnumKeyExW(key, index, name != nullptr ? wideName : nullptr,
                           nameSize != nullptr ? &wideNameSize : nullptr,
                           reserved,
                           className != nullptr ? wideClass : nullptr,
                           classSize != nullptr ? &wideClassSize : nullptr,
                           lastWriteTime);
   keep.Capture();
   if (rc != ERROR_SUCCESS) {
      return rc;
   }
   if (name != nullptr && nameSize != nullptr) {
      rc = Win32UCodeSetUtf16leToUtf8(wideName, wideNameSize * sizeof(utf16_t),
                                      name, nameSize);
      if (rc != ERROR_SUCCESS) {
         return rc;
      }
   }
   if (className != nullptr && classSize != nullptr) {
      rc = Win32UCodeSetUtf16leToUtf8(wideClass,
                                      wideClassSize * sizeof(utf16_t),
                                      className, classSize);
   }
   return rc;
}

LONG Win32U_RegEnumValue(HKEY key, DWORD index, char *valueName,
                         LPDWORD valueNameSize, LPDWORD reserved,
                         LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
   ErrorKeeper keep;
   utf16_t wideName[kNameCapacity];
   DWORD wideNameSize = kNameCapacity;
   WideData wide(data, dataSize);
   DWORD wideType = REG_NONE;
   LONG rc = RegEnumValueW(key, index,
                           valueName != nullptr ? wideName : nullptr,
                           valueNameSize != nullptr ? &wideNameSize : nullptr,
                           reserved, &wideType, wide.get(),
                           dataSize != nullptr ? wide.size() : nullptr);
   keep.Capture();
   if (type != nullptr && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) {
      *type = wideType;
   }
   if (rc == ERROR_SUCCESS && valueName != nullptr && valueNameSize != nullptr) {
      LONG nameResult = Win32UCodeSetUtf16leToUtf8(
         wideName, wideNameSize * sizeof(utf16_t), valueName, valueNameSize);
      if (nameResult != ERROR_SUCCESS) {
         return nameResult;
      }
   }
   return Win32UGetRegistryStringLength(rc, wideType, wide, *wide.size(),
                                        data, dataSize);
}
