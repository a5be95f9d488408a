// The library's log: counted sessions, a level filter read once from the
// registry, and one text file in the temporary directory.
//
// Format strings are in the library's own printf dialect (%s UTF-8, %S
// UTF-16). No log call changes the caller's errno or last-error value, and
// none ever fails its caller.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

// Level bits; a line is written when its bit is in the mask or its level
// includes INST_LOG_CA (unless the mask is 0, which switches logging off).
enum : uint32_t {
   INST_LOG_ERROR = 0x001,          // E1
   INST_LOG_INFO = 0x002,           // I1
   INST_LOG_ERROR2 = 0x004,         // E2: reading the log level itself
   INST_LOG_WARNING = 0x008,        // W1
   INST_LOG_PROGRESS = 0x010,       // G2
   INST_LOG_DETAIL = 0x020,         // I2
   INST_LOG_UNREAD = 0x040,         // the mask's initial value: not yet read
   INST_LOG_P1 = 0x080,             // P1
   INST_LOG_BEGIN = 0x100,          // XX: "Begin Logging"
   INST_LOG_END = 0x200,            // XX: "End Logging"
   INST_LOG_CA = 0x400,             // I0: lines of the custom actions
};

constexpr uint32_t INST_LOG_DEFAULT_MASK = 0x2F;

void Inst_Log(uint32_t level, const char *format, ...);
void Inst_LogV(uint32_t level, const char *format, va_list args);
void Inst_LogCA(const char *format, ...);

#ifdef _WIN32
void Inst_LogWinError(uint32_t level, DWORD code, const char *format, ...);
void Inst_LogLastError(uint32_t level, DWORD code, const char *format, ...);
#endif
void Inst_LogErrno(uint32_t level, int code, const char *format, ...);
void Inst_LogLastErrno(uint32_t level, int code, const char *format, ...);

// Opens a session (null arguments mean empty); nested opens only count.
void Inst_SetupLogging(const char *name, const char *tag,
                       const char *fileName, const char *fallbackFileName);
// The custom actions' open: also decides whether lines go to the host.
void Inst_SetupCALogging(const char *tag);
void Inst_EndLogging(void);

#ifdef _WIN32
std::wstring Inst_WinErrorText(DWORD code);
std::wstring Inst_ErrnoText(int code);
std::wstring Inst_ErrorCodeText(DWORD code);
#endif
