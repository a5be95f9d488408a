// The library's log on Windows: counted sessions, the level filter read once
// from the registry, one append-mode file in the temporary directory and the
// host switch. Lines themselves are built by common/logLine.cpp.
#include "common/log.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/logLine.h"
#include "hostChannel/logToHost.h"
#include "lib/misc/ownedHandle.h"
#include "lib/misc/win32u.h"
#include "lib/misc/win32uRegistry.h"
#include "lib/misc/windowsu.h"
#include "lib/string/str.h"

namespace {

// Process-wide plain globals, unlocked: the library serves one custom action
// at a time. All of them are constant-initialised, so the filter of the
// first log call of a process runs no initialisation code (a guarded
// function-local object would, and that can change the last error before
// the caller's value is saved).
uint32_t gLevelMask = INST_LOG_UNREAD;
int gFd = -1;
uint32_t gSessionCount = 0;
char *gTag = nullptr;                // null or empty: the build tag
char *gFileName = nullptr;           // null or empty: "ovinst.log"
char *gFallbackFileName = nullptr;   // null or empty: "ovinstutil.log"
bool gHostSwitch = false;

// Replaces a stored text with a copy of `value` (null stays null). Out of
// memory, the text becomes empty, which selects the default.
void StoreText(char **slot, const char *value)
{
   free(*slot);
   *slot = value != nullptr ? _strdup(value) : nullptr;
}

const char *TextOr(const char *text, const char *fallback)
{
   return text != nullptr && text[0] != '\0' ? text : fallback;
}

// Saves errno and the last error, restores both when it goes: no log call
// may disturb a caller that logs between a failure and its GetLastError.
class CallerErrors {
public:
   CallerErrors() : errno_(errno), lastError_(GetLastError()) {}
   ~CallerErrors()
   {
      errno = errno_;
      SetLastError(lastError_);
   }
   CallerErrors(const CallerErrors &) = delete;
   CallerErrors &operator=(const CallerErrors &) = delete;

private:
   int errno_;
   DWORD lastError_;
};

// Owner of a buffer that FormatMessageW allocated.
class LocalText {
public:
   LocalText() = default;
   ~LocalText()
   {
      if (text_ != nullptr) {
         LocalFree(text_);
      }
   }
   LocalText(const LocalText &) = delete;
   LocalText &operator=(const LocalText &) = delete;
   wchar_t **Out() { return &text_; }
   const wchar_t *Get() const { return text_; }

private:
   wchar_t *text_ = nullptr;
};

const char kLevelKeyPath[] = "SOFTWARE\\Wow6432Node\\Orvane, Inc.";
const char kLevelValueName[] = "LogLevel";
const char kHostLogKeyPath[] = "SOFTWARE\\Orvane, Inc.\\OvxLog";
const char kDefaultFileName[] = "ovinst.log";
const char kDefaultFallbackFileName[] = "ovinstutil.log";
const DWORD kEnglishUs = 1033;
const size_t kErrnoTextSize = 1024;
// A suffix longer than this cannot fit into a line anyway.
const size_t kMaxWideText = 4096;

// The runtime's wide formatter (msvcrt's, which reads %ws as a wide string)
// into a new string, cut at kMaxWideText - 1 units when longer. The
// library's own wide engine reads %s as UTF-8, so it does not fit the
// suffix formats, which hand over Windows' wide texts.
std::wstring SprintfW(const wchar_t *format, ...)
{
   std::vector<wchar_t> buf(256);
   for (;;) {
      va_list ap;
      va_start(ap, format);
      int n = _vsnwprintf(buf.data(), buf.size(), format, ap);
      va_end(ap);
      // msvcrt: -1 when the text does not fit, the size itself when only
      // the terminator does not.
      if (n >= 0 && static_cast<size_t>(n) < buf.size()) {
         return std::wstring(buf.data(), static_cast<size_t>(n));
      }
      if (buf.size() >= kMaxWideText) {
         size_t keep = buf.size() - 1;
         // Never end on the first half of a surrogate pair.
         if (keep > 0 && buf[keep - 1] >= 0xD800 && buf[keep - 1] <= 0xDBFF) {
            keep--;
         }
         return std::wstring(buf.data(), keep);
      }
      buf.resize(buf.size() * 2);
   }
}

// Each line for the host is one request over the hypervisor's channel;
// without a hypervisor the channel's open fails and the line is not taken.
bool SendLogToHost(const char *text, size_t length)
{
   return Inst_SendLogToHost(text, length);
}

// One write call per piece: the file is in append mode, so a line lands
// whole at the end even when another process appends to the same file.
void WriteToFile(int fd, const char *text, size_t length)
{
   // The log never fails its caller; a short or failed write is dropped.
   (void)_write(fd, text, static_cast<unsigned>(length));
}

bool Passes(uint32_t level)
{
   uint32_t mask = gLevelMask;
   return mask != 0 && ((level & mask) != 0 || (level & INST_LOG_CA) != 0);
}

uint32_t GetDefaultLogLevel()
{
   RegKeyHandle key;
   LONG rc = Win32U_RegOpenKeyEx(HKEY_LOCAL_MACHINE, kLevelKeyPath, 0,
                                 KEY_QUERY_VALUE, key.Out());
   if (rc == ERROR_FILE_NOT_FOUND) {
      Inst_Log(INST_LOG_ERROR2,
               "Inst_GetDefaultLogLevel: Log level path doesn't exist so can't open");
      return INST_LOG_DEFAULT_MASK;
   }
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR2, static_cast<DWORD>(rc),
                       "Inst_GetDefaultLogLevel: Could not open log level path");
      return INST_LOG_DEFAULT_MASK;
   }

   // The type first, with no data: a string value must reach the type
   // check, not fail the read for want of room.
   DWORD type = REG_NONE;
   DWORD size = 0;
   rc = Win32U_RegQueryValueEx(key.Get(), kLevelValueName, nullptr, &type,
                               nullptr, &size);
   if (rc == ERROR_SUCCESS && type == REG_DWORD) {
      DWORD value = 0;
      size = sizeof value;
      rc = Win32U_RegQueryValueEx(key.Get(), kLevelValueName, nullptr, &type,
                                  reinterpret_cast<LPBYTE>(&value), &size);
      if (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value) {
         return value;
      }
      if (rc == ERROR_SUCCESS && type == REG_DWORD) {
         // A REG_DWORD of fewer than four bytes.
         rc = ERROR_INVALID_DATA;
      }
   }
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR2, static_cast<DWORD>(rc),
                       "Inst_GetDefaultLogLevel: Could not read log level value");
      return INST_LOG_DEFAULT_MASK;
   }
   Inst_Log(INST_LOG_ERROR2,
            "Inst_GetDefaultLogLevel: Log level value is the wrong type: 0x%08x",
            type);
   return INST_LOG_DEFAULT_MASK;
}

void CreateLogFile()
{
   if (gLevelMask == 0) {
      return;
   }
   const char *primary = TextOr(gFileName, kDefaultFileName);
   const char *fallback = TextOr(gFallbackFileName, kDefaultFallbackFileName);

   char path[LOG_LINE_BUFFER_SIZE];
   if (Win32U_GetTempPath(sizeof path, path) == 0) {
      return;
   }
   Text_Strcat(path, primary, sizeof path);

   const int flags = O_WRONLY | O_APPEND | O_CREAT;
   int fd = Win32U_Open(path, flags, 0644);
   if (fd >= 0) {
      gFd = fd;
      return;
   }
   int primaryErrno = errno;
   fd = Win32U_Open(fallback, flags, 0644);
   if (fd < 0) {
      return;
   }
   gFd = fd;
   Inst_LogErrno(INST_LOG_ERROR, primaryErrno,
                 "InstCreateLogFile: Unable to log to intended file %s", path);
}

// The moment of the line as local time, and its zone offset from the same
// instant, so that date and offset never disagree across a change.
LogLineTime CurrentTime()
{
   FILETIME utc;
   GetSystemTimeAsFileTime(&utc);
   FILETIME local;
   SYSTEMTIME st;
   LogLineTime t = {};
   if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &st)) {
      ULARGE_INTEGER u, l;
      u.LowPart = utc.dwLowDateTime;
      u.HighPart = utc.dwHighDateTime;
      l.LowPart = local.dwLowDateTime;
      l.HighPart = local.dwHighDateTime;
      // 100 ns units; the division cuts toward zero, to whole minutes.
      long long diff = static_cast<long long>(l.QuadPart - u.QuadPart);
      t.zoneMinutes = static_cast<int>(diff / 600000000LL);
   } else {
      GetLocalTime(&st);
      t.zoneMinutes = 0;
   }
   t.year = st.wYear;
   t.month = st.wMonth;
   t.day = st.wDay;
   t.hour = st.wHour;
   t.minute = st.wMinute;
   t.second = st.wSecond;
   t.milliseconds = st.wMilliseconds;
   return t;
}

void WriteLogLine(uint32_t level, const char *format, va_list args,
                  const wchar_t *suffix)
{
   if (gFd == -1) {
      CreateLogFile();
   }
   if (gFd < 0) {
      return;
   }

   char line[LOG_LINE_BUFFER_SIZE];
   size_t length = 0;
   LogLineStatus status = LogLine_Build(line, CurrentTime(), gTag, level,
                                        format, args, suffix, &length);
   if (status == LOG_LINE_FORMAT_ERROR) {
      WriteToFile(gFd, LOG_LINE_FORMAT_ERROR_TEXT, sizeof LOG_LINE_FORMAT_ERROR_TEXT - 1);
      if (gHostSwitch) {
         SendLogToHost(LOG_LINE_FORMAT_ERROR_TEXT, sizeof LOG_LINE_FORMAT_ERROR_TEXT - 1);
      }
      return;
   }
   if (status == LOG_LINE_TRUNCATED) {
      WriteToFile(gFd, LOG_LINE_TRUNCATED_NOTICE, sizeof LOG_LINE_TRUNCATED_NOTICE - 1);
      if (gHostSwitch) {
         SendLogToHost(LOG_LINE_TRUNCATED_NOTICE, sizeof LOG_LINE_TRUNCATED_NOTICE - 1);
      }
   }
   WriteToFile(gFd, line, length);
   if (gHostSwitch && !SendLogToHost(line, length)) {
      WriteToFile(gFd, LOG_LINE_HOST_FAILED_TEXT, sizeof LOG_LINE_HOST_FAILED_TEXT - 1);
   }
}

void WriteWithSuffix(uint32_t level, const std::wstring &suffix,
                     const char *format, va_list args)
{
   WriteLogLine(level, format, args, suffix.c_str());
}

std::wstring WinErrorSuffix(DWORD code)
{
   std::wstring text = Inst_WinErrorText(code);
   return text.empty() ? SprintfW(L"| winerror code %u", code)
                       : SprintfW(L"| winerror code %u (%ws)", code, text.c_str());
}

}  // namespace

void Inst_LogV(uint32_t level, const char *format, va_list args)
{
   if (!Passes(level)) {
      return;
   }
   CallerErrors keep;
   WriteLogLine(level, format, args, nullptr);
}

void Inst_Log(uint32_t level, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   Inst_LogV(level, format, ap);
   va_end(ap);
}

void Inst_LogCA(const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   Inst_LogV(INST_LOG_CA, format, ap);
   va_end(ap);
}

void Inst_LogWinError(uint32_t level, DWORD code, const char *format, ...)
{
   if (!Passes(level)) {
      return;
   }
   CallerErrors keep;
   std::wstring suffix = WinErrorSuffix(code);
   va_list ap;
   va_start(ap, format);
   WriteWithSuffix(level, suffix, format, ap);
   va_end(ap);
}

void Inst_LogLastError(uint32_t level, DWORD code, const char *format, ...)
{
   if (!Passes(level)) {
      return;
   }
   CallerErrors keep;
   std::wstring suffix = code == 0 ? std::wstring(L"| winerror code 0 (code was erased)")
                                   : WinErrorSuffix(code);
   va_list ap;
   va_start(ap, format);
   WriteWithSuffix(level, suffix, format, ap);
   va_end(ap);
}

void Inst_LogErrno(uint32_t level, int code, const char *format, ...)
{
   if (!Passes(level)) {
      return;
   }
   CallerErrors keep;
   std::wstring text = Inst_ErrnoText(code);
   std::wstring suffix = text.empty() ? SprintfW(L"| posix code %d", code)
                                      : SprintfW(L"| posix code %d (%ws)", code, text.c_str());
   va_list ap;
   va_start(ap, format);
   WriteWithSuffix(level, suffix, format, ap);
   va_end(ap);
}

void Inst_LogLastErrno(uint32_t level, int code, const char *format, ...)
{
   if (!Passes(level)) {
      return;
   }
   CallerErrors keep;
   std::wstring suffix;
   if (code == 0) {
      suffix = L"| posix code 0 (code was erased)";
   } else {
      std::wstring text = Inst_ErrnoText(code);
      unsigned ucode = static_cast<unsigned>(code);
      suffix = text.empty() ? SprintfW(L"| posix code %u", ucode)
                            : SprintfW(L"| posix code %u (%ws)", ucode, text.c_str());
   }
   va_list ap;
   va_start(ap, format);
   WriteWithSuffix(level, suffix, format, ap);
   va_end(ap);
}

void Inst_SetupLogging(const char *name, const char *tag, const char *fileName,
                       const char *fallbackFileName)
{
   CallerErrors keep;
   if (gSessionCount++ != 0) {
      return;
   }
   // A line logged outside any session may have opened a file; the
   // session's own names decide where its lines go.
   if (gFd >= 0) {
      _close(gFd);
   }
   gFd = -1;
   StoreText(&gTag, tag);
   StoreText(&gFileName, fileName);
   StoreText(&gFallbackFileName, fallbackFileName);

   if (gLevelMask == INST_LOG_UNREAD) {
      // Computed first and stored after: the lines about a failed read are
      // issued while the mask is still unread, and so filtered out.
      uint32_t mask = GetDefaultLogLevel();
      gLevelMask = mask;
   }
   Inst_Log(INST_LOG_BEGIN, "Inst_SetupLogging: Begin Logging '%s' (LogLevel 0x%08x)",
            name != nullptr ? name : "<unspecified>", gLevelMask);
}

void Inst_SetupCALogging(const char *tag)
{
   {
      CallerErrors keep;
      RegKeyHandle key;
      LONG rc = Win32U_RegOpenKeyEx(HKEY_LOCAL_MACHINE, kHostLogKeyPath, 0,
                                    KEY_READ | KEY_WOW64_64KEY, key.Out());
      gHostSwitch = rc == ERROR_SUCCESS;
   }
   Inst_SetupLogging(nullptr, tag, nullptr, nullptr);
}

void Inst_EndLogging(void)
{
   CallerErrors keep;
   // An end without an open changes nothing (the count must not wrap).
   if (gSessionCount == 0) {
      return;
   }
   if (--gSessionCount != 0) {
      return;
   }
   Inst_Log(INST_LOG_END, "Inst_EndLogging: End Logging");
   StoreText(&gTag, nullptr);
   if (gFd >= 0) {
      _close(gFd);
   }
   gFd = -1;
}

std::wstring Inst_WinErrorText(DWORD code)
{
   CallerErrors keep;
   LocalText text;
   DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                            nullptr, code, kEnglishUs,
                            reinterpret_cast<LPWSTR>(text.Out()), 0, nullptr);
   if (n == 0 || text.Get() == nullptr) {
      return std::wstring();
   }
   std::wstring s(text.Get(), n);
   while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n')) {
      s.pop_back();
   }
   return s;
}

std::wstring Inst_ErrnoText(int code)
{
   CallerErrors keep;
   wchar_t buf[kErrnoTextSize];
   buf[0] = L'\0';
   if (_wcserror_s(buf, kErrnoTextSize, code) != 0) {
      return std::wstring();
   }
   buf[kErrnoTextSize - 1] = L'\0';
   return std::wstring(buf);
}

std::wstring Inst_ErrorCodeText(DWORD code)
{
   std::wstring text = Inst_WinErrorText(code);
   if (!text.empty()) {
      return text;
   }
   return SprintfW(L"Unknown error code: 0x%08x", code);
}
