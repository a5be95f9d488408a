// Child program of tests/win/log_test.cpp. The log's state (level mask,
// session count, open file) lives for the whole process, so every case runs
// in a fresh one: this program carries out the operations named on its
// command line, in order, and the parent reads the file they leave.
//
//   level dword N | level sz TEXT | level none | level nokey
//                              set LogLevel under the 32-bit product key
//   hostkey 0|1                remove / create the host-log key
//   setup NAME TAG FILE FALLBACK   Inst_SetupLogging ("-" passes null)
//   setupca TAG                Inst_SetupCALogging
//   longtag N                  Inst_SetupLogging with a tag of N 't's
//   end                        Inst_EndLogging
//   log LEVEL TEXT             Inst_Log(LEVEL, "%s", TEXT)
//   ca TEXT                    Inst_LogCA("%s", TEXT)
//   winerr|lasterr|errno|lasterrno LEVEL CODE TEXT   the error variants
//   preserve LEVEL             every log call keeps errno and last error
//   isopen NAME 0|1            whether NAME in the temporary folder is held
//                              open (a rename is refused while it is)
//   mkdir NAME | rmdir NAME    folder NAME in the temporary folder
//
// TEXT (a message, not a name or path) may hold \r, \n, \\ and \xNN
// (one byte) escapes. Numbers take C
// prefixes (0x...). Exit code 0 when every operation did what it should,
// 2 for a bad command line, 3 for a disturbed errno or last error, 4 for a
// wrong isopen, 5 for a failed registry or folder operation.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "common/log.h"

namespace {

const wchar_t kLevelKey[] = L"SOFTWARE\\Wow6432Node\\Orvane, Inc.";
const wchar_t kHostKey[] = L"SOFTWARE\\Orvane, Inc.\\OvxLog";

enum Exit {
   EXIT_OK = 0,
   EXIT_USAGE = 2,
   EXIT_DISTURBED = 3,
   EXIT_ISOPEN = 4,
   EXIT_SETUP = 5,
};

[[noreturn]] void Fail(Exit code, const wchar_t *what)
{
   fwprintf(stderr, L"logChild: %ls\n", what);
   exit(code);
}

std::string Utf8(const std::wstring &w)
{
   if (w.empty()) {
      return std::string();
   }
   int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()),
                               nullptr, 0, nullptr, nullptr);
   std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
   if (n > 0) {
      WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0],
                          n, nullptr, nullptr);
   }
   return s;
}

int HexDigit(char c)
{
   if (c >= '0' && c <= '9') {
      return c - '0';
   }
   if (c >= 'a' && c <= 'f') {
      return c - 'a' + 10;
   }
   if (c >= 'A' && c <= 'F') {
      return c - 'A' + 10;
   }
   return -1;
}

std::string Unescape(const std::wstring &arg)
{
   std::string in = Utf8(arg);
   std::string out;
   for (size_t i = 0; i < in.size(); i++) {
      if (in[i] != '\\' || i + 1 == in.size()) {
         out += in[i];
         continue;
      }
      char c = in[++i];
      if (c == 'r') {
         out += '\r';
      } else if (c == 'n') {
         out += '\n';
      } else if (c == 'x' && i + 2 < in.size() && HexDigit(in[i + 1]) >= 0 &&
                 HexDigit(in[i + 2]) >= 0) {
         out += static_cast<char>(HexDigit(in[i + 1]) * 16 + HexDigit(in[i + 2]));
         i += 2;
      } else {
         out += c;
      }
   }
   return out;
}

unsigned long Number(const wchar_t *arg)
{
   wchar_t *end = nullptr;
   errno = 0;
   long long v = wcstoll(arg, &end, 0);
   if (end == arg || *end != L'\0' || errno != 0) {
      Fail(EXIT_USAGE, L"bad number");
   }
   return static_cast<unsigned long>(v);
}

class Args {
public:
   Args(int argc, wchar_t **argv) : argc_(argc), argv_(argv) {}
   bool More() const { return next_ < argc_; }
   const wchar_t *Next()
   {
      if (next_ >= argc_) {
         Fail(EXIT_USAGE, L"missing argument");
      }
      return argv_[next_++];
   }
   // "-" is the null argument; names and paths are taken as they are.
   const char *Optional(std::string &storage)
   {
      const wchar_t *a = Next();
      if (wcscmp(a, L"-") == 0) {
         return nullptr;
      }
      storage = Utf8(a);
      return storage.c_str();
   }

private:
   int argc_;
   wchar_t **argv_;
   int next_ = 1;
};

class Key {
public:
   Key() = default;
   ~Key()
   {
      if (key_ != nullptr) {
         RegCloseKey(key_);
      }
   }
   Key(const Key &) = delete;
   Key &operator=(const Key &) = delete;
   PHKEY Out() { return &key_; }
   HKEY Get() const { return key_; }

private:
   HKEY key_ = nullptr;
};

void SetLevel(Args &args)
{
   std::wstring kind = args.Next();
   if (kind == L"nokey") {
      LONG rc = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLevelKey, KEY_WOW64_64KEY, 0);
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
         Fail(EXIT_SETUP, L"cannot delete the level key");
      }
      return;
   }
   Key key;
   if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLevelKey, 0, nullptr, 0,
                       KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.Out(),
                       nullptr) != ERROR_SUCCESS) {
      Fail(EXIT_SETUP, L"cannot create the level key");
   }
   LONG rc;
   if (kind == L"dword") {
      DWORD v = static_cast<DWORD>(Number(args.Next()));
      rc = RegSetValueExW(key.Get(), L"LogLevel", 0, REG_DWORD,
                          reinterpret_cast<const BYTE *>(&v), sizeof v);
   } else if (kind == L"sz") {
      std::wstring text = args.Next();
      rc = RegSetValueExW(key.Get(), L"LogLevel", 0, REG_SZ,
                          reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
   } else if (kind == L"none") {
      rc = RegDeleteValueW(key.Get(), L"LogLevel");
      if (rc == ERROR_FILE_NOT_FOUND) {
         rc = ERROR_SUCCESS;
      }
   } else {
      Fail(EXIT_USAGE, L"unknown level kind");
   }
   if (rc != ERROR_SUCCESS) {
      Fail(EXIT_SETUP, L"cannot set the level value");
   }
}

void SetHostKey(bool present)
{
   if (present) {
      Key key;
      if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHostKey, 0, nullptr, 0,
                          KEY_READ | KEY_WOW64_64KEY, nullptr, key.Out(),
                          nullptr) != ERROR_SUCCESS) {
         Fail(EXIT_SETUP, L"cannot create the host key");
      }
      return;
   }
   LONG rc = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kHostKey, KEY_WOW64_64KEY, 0);
   if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      Fail(EXIT_SETUP, L"cannot delete the host key");
   }
}

std::wstring InTemp(const wchar_t *name)
{
   wchar_t dir[MAX_PATH + 1];
   DWORD n = GetTempPathW(MAX_PATH + 1, dir);
   if (n == 0 || n > MAX_PATH) {
      Fail(EXIT_SETUP, L"no temporary folder");
   }
   return std::wstring(dir) + name;
}

bool IsHeldOpen(const wchar_t *name)
{
   std::wstring path = InTemp(name);
   std::wstring probe = path + L".probe";
   if (MoveFileW(path.c_str(), probe.c_str())) {
      if (!MoveFileW(probe.c_str(), path.c_str())) {
         Fail(EXIT_SETUP, L"cannot move the probe back");
      }
      return false;
   }
   if (GetLastError() == ERROR_FILE_NOT_FOUND) {
      Fail(EXIT_SETUP, L"isopen: no such file");
   }
   return true;
}

// Each call under both a written and a filtered level leaves both values
// as they were, including calls that create the file or open sessions.
void CheckPreserved(uint32_t level)
{
   struct Probe {
      int err;
      DWORD last;
   };
   const Probe probes[] = {{ERANGE, 0x1234}, {0, 0}, {EACCES, ERROR_ACCESS_DENIED}};
   for (const Probe &p : probes) {
      auto check = [&p](const wchar_t *what) {
         if (errno != p.err || GetLastError() != p.last) {
            Fail(EXIT_DISTURBED, what);
         }
      };
      auto arm = [&p]() {
         errno = p.err;
         SetLastError(p.last);
      };
      arm();
      Inst_Log(level, "preserve %s", "Inst_Log");
      check(L"Inst_Log");
      arm();
      Inst_LogCA("preserve %s", "Inst_LogCA");
      check(L"Inst_LogCA");
      arm();
      Inst_LogWinError(level, ERROR_ACCESS_DENIED, "preserve Inst_LogWinError");
      check(L"Inst_LogWinError");
      arm();
      Inst_LogLastError(level, 0, "preserve Inst_LogLastError");
      check(L"Inst_LogLastError");
      arm();
      Inst_LogErrno(level, ENOENT, "preserve Inst_LogErrno");
      check(L"Inst_LogErrno");
      arm();
      Inst_LogLastErrno(level, ENOENT, "preserve Inst_LogLastErrno");
      check(L"Inst_LogLastErrno");
      arm();
      Inst_SetupLogging("nested", nullptr, nullptr, nullptr);
      check(L"Inst_SetupLogging");
      arm();
      Inst_EndLogging();
      check(L"Inst_EndLogging");
      arm();
      Inst_ErrorCodeText(ERROR_FILE_NOT_FOUND);
      check(L"Inst_ErrorCodeText");
      arm();
      Inst_ErrnoText(ENOENT);
      check(L"Inst_ErrnoText");
   }
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
   Args args(argc, argv);
   while (args.More()) {
      std::wstring op = args.Next();
      if (op == L"level") {
         SetLevel(args);
      } else if (op == L"hostkey") {
         SetHostKey(Number(args.Next()) != 0);
      } else if (op == L"setup") {
         std::string name, tag, file, fallback;
         const char *n = args.Optional(name);
         const char *t = args.Optional(tag);
         const char *f = args.Optional(file);
         const char *fb = args.Optional(fallback);
         Inst_SetupLogging(n, t, f, fb);
      } else if (op == L"setupca") {
         std::string tag;
         const char *t = args.Optional(tag);
         Inst_SetupCALogging(t);
      } else if (op == L"longtag") {
         std::string tag(static_cast<size_t>(Number(args.Next())), 't');
         Inst_SetupLogging("longtag", tag.c_str(), nullptr, nullptr);
      } else if (op == L"end") {
         Inst_EndLogging();
      } else if (op == L"log") {
         uint32_t level = static_cast<uint32_t>(Number(args.Next()));
         Inst_Log(level, "%s", Unescape(args.Next()).c_str());
      } else if (op == L"ca") {
         Inst_LogCA("%s", Unescape(args.Next()).c_str());
      } else if (op == L"winerr" || op == L"lasterr" || op == L"errno" ||
                 op == L"lasterrno") {
         uint32_t level = static_cast<uint32_t>(Number(args.Next()));
         unsigned long code = Number(args.Next());
         std::string text = Unescape(args.Next());
         if (op == L"winerr") {
            Inst_LogWinError(level, static_cast<DWORD>(code), "%s", text.c_str());
         } else if (op == L"lasterr") {
            Inst_LogLastError(level, static_cast<DWORD>(code), "%s", text.c_str());
         } else if (op == L"errno") {
            Inst_LogErrno(level, static_cast<int>(code), "%s", text.c_str());
         } else {
            Inst_LogLastErrno(level, static_cast<int>(code), "%s", text.c_str());
         }
      } else if (op == L"preserve") {
         CheckPreserved(static_cast<uint32_t>(Number(args.Next())));
      } else if (op == L"isopen") {
         const wchar_t *name = args.Next();
         bool expected = Number(args.Next()) != 0;
         if (IsHeldOpen(name) != expected) {
            Fail(EXIT_ISOPEN, expected ? L"file is not held open" : L"file is still open");
         }
      } else if (op == L"mkdir") {
         if (!CreateDirectoryW(InTemp(args.Next()).c_str(), nullptr)) {
            Fail(EXIT_SETUP, L"mkdir failed");
         }
      } else if (op == L"rmdir") {
         if (!RemoveDirectoryW(InTemp(args.Next()).c_str())) {
            Fail(EXIT_SETUP, L"rmdir failed");
         }
      } else {
         Fail(EXIT_USAGE, L"unknown operation");
      }
   }
   return EXIT_OK;
}
