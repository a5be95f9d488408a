// The installer-session fixture. The package is the least Wine's installer
// accepts as one (see Build), and everything the fixture makes lives under
// one per-process folder inside the temp folder, which goes at the end.
#include "tests/msi/msiSession.h"

#include <algorithm>
#include <cstdio>
#include <regex>

#include "common/log.h"
#include "common/logLine.h"

#ifndef OV_DLL_PATH
#error "OV_DLL_PATH (host path of the built ovinstutil.dll) must be defined by the build"
#endif

namespace msitest {

namespace {

void DefaultSink(const std::string &what)
{
   std::fprintf(stderr, "msiSession: %s\n", what.c_str());
}

void (*gSink)(const std::string &) = DefaultSink;
std::wstring gFolder;
std::wstring gOriginalTmp, gOriginalTemp;

void Fail(const std::string &what)
{
   gSink(what);
}

std::wstring Env(const wchar_t *name)
{
   std::vector<wchar_t> buf(32768);
   DWORD n = GetEnvironmentVariableW(name, buf.data(), static_cast<DWORD>(buf.size()));
   return std::wstring(buf.data(), n < buf.size() ? n : 0);
}

// Only ever below the process folder: nothing else is the fixture's to
// remove.
void RemoveTree(const std::wstring &path)
{
   if (gFolder.empty() || path.compare(0, gFolder.size() - 1, gFolder, 0, gFolder.size() - 1) != 0) {
      return;
   }
   WIN32_FIND_DATAW found;
   HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
   for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
      if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
         RemoveTree(path + L"\\" + found.cFileName);
      }
   }
   if (find != INVALID_HANDLE_VALUE) {
      FindClose(find);
   }
   DeleteFileW(path.c_str()) || RemoveDirectoryW(path.c_str());
}

struct MsiOwner {
   MSIHANDLE h = 0;
   ~MsiOwner()
   {
      if (h != 0) {
         MsiCloseHandle(h);
      }
   }
};

// A fresh package code or product code. Uniqueness within the run is all
// the installer asks of the tests' packages.
std::string NewGuid()
{
   static unsigned counter = 0;
   LARGE_INTEGER now;
   QueryPerformanceCounter(&now);
   char text[40];
   std::snprintf(text, sizeof text, "{%08lX-%04X-4%03X-8%03X-%012llX}", GetCurrentProcessId(),
                 ++counter & 0xFFFF, static_cast<unsigned>(now.QuadPart & 0xFFF),
                 static_cast<unsigned>((now.QuadPart >> 12) & 0xFFF),
                 static_cast<unsigned long long>(now.QuadPart >> 24) & 0xFFFFFFFFFFFFull);
   return text;
}

std::string RecordString(MSIHANDLE record, UINT field)
{
   std::wstring buf(64, L'\0');
   DWORD size = static_cast<DWORD>(buf.size());
   UINT rc = MsiRecordGetStringW(record, field, &buf[0], &size);
   if (rc == ERROR_MORE_DATA) {
      buf.assign(++size, L'\0');
      rc = MsiRecordGetStringW(record, field, &buf[0], &size);
   }
   return rc == ERROR_SUCCESS ? Utf8(buf.substr(0, size)) : std::string();
}

std::wstring LogPath()
{
   return gFolder + L"ovinst.log";
}

}  // namespace

const ErrorRow kErrorRows[] = {
   {25001, "Plain error message."},
   {25002, "Number [2], text [3]."},
   {25003, "Plain warning message."},
};
const size_t kErrorRowCount = sizeof kErrorRows / sizeof kErrorRows[0];

void SetFailureSink(void (*sink)(const std::string &what))
{
   gSink = sink != nullptr ? sink : DefaultSink;
}

std::wstring Wide(const std::string &s)
{
   std::wstring w(s.size(), L'\0');
   int n = s.empty() ? 0
                     : MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()),
                                           &w[0], static_cast<int>(w.size()));
   return w.substr(0, n > 0 ? n : 0);
}

std::string Utf8(const std::wstring &w)
{
   std::string s(w.size() * 3, '\0');
   int n = w.empty() ? 0
                     : WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()),
                                           &s[0], static_cast<int>(s.size()), nullptr, nullptr);
   return s.substr(0, n > 0 ? n : 0);
}

void ProcessSetUp()
{
   wchar_t temp[MAX_PATH + 1];
   DWORD n = GetTempPathW(MAX_PATH + 1, temp);
   if (n == 0 || n > MAX_PATH) {
      Fail("no temp folder");
      return;
   }
   gFolder = std::wstring(temp, n) + L"ovmsitest-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
   RemoveTree(gFolder.substr(0, gFolder.size() - 1));
   if (!CreateDirectoryW(gFolder.c_str(), nullptr)) {
      Fail("cannot create the process folder " + Utf8(gFolder));
   }
   gOriginalTmp = Env(L"TMP");
   gOriginalTemp = Env(L"TEMP");
   std::wstring bare = gFolder.substr(0, gFolder.size() - 1);
   SetEnvironmentVariableW(L"TMP", bare.c_str());
   SetEnvironmentVariableW(L"TEMP", bare.c_str());

   LONG rc = RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Orvane, Inc.", L"LogLevel");
   if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      Fail("cannot delete the LogLevel value: " + std::to_string(rc));
   }
   // This process's MsiUtil_ lines pass the filter only once a session has
   // read the level.
   Inst_SetupLogging("msi_tests", nullptr, nullptr, nullptr);
}

void ProcessTearDown()
{
   Inst_EndLogging();
   SetEnvironmentVariableW(L"TMP", gOriginalTmp.empty() ? nullptr : gOriginalTmp.c_str());
   SetEnvironmentVariableW(L"TEMP", gOriginalTemp.empty() ? nullptr : gOriginalTemp.c_str());
   RemoveTree(gFolder.substr(0, gFolder.size() - 1));
   gFolder.clear();
}

const std::wstring &ProcessFolder()
{
   return gFolder;
}

std::string TestTag()
{
   return "inst-build-" + std::to_string(OV_BUILD_NUMBER);
}

std::string CustomActionTag()
{
   return "setupKit-build-" + std::to_string(OV_BUILD_NUMBER);
}

ScratchDir::ScratchDir()
{
   static unsigned count = 0;
   if (gFolder.empty()) {
      Fail("ScratchDir before ProcessSetUp");
      return;
   }
   path_ = gFolder + L"s" + std::to_wstring(++count);
   RemoveTree(path_);
   if (!CreateDirectoryW(path_.c_str(), nullptr)) {
      Fail("cannot create " + Utf8(path_));
   }
}

ScratchDir::~ScratchDir()
{
   RemoveTree(path_);
}

MsiSession::MsiSession()
{
   previousUi_ = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
   if (!Build(scratch_.Path() + L"\\test.msi")) {
      return;
   }
   UINT rc = MsiOpenPackageW((scratch_.Path() + L"\\test.msi").c_str(), &handle_);
   if (rc != ERROR_SUCCESS) {
      failure_ = "MsiOpenPackage: " + std::to_string(rc);
      handle_ = 0;
      return;
   }
   // Directory properties exist only once the folders are costed.
   for (const wchar_t *action : {L"CostInitialize", L"CostFinalize"}) {
      rc = MsiDoActionW(handle_, action);
      if (rc != ERROR_SUCCESS) {
         failure_ = Utf8(action) + ": " + std::to_string(rc);
         MsiCloseHandle(handle_);
         handle_ = 0;
         return;
      }
   }
}

MsiSession::~MsiSession()
{
   if (handle_ != 0) {
      MsiCloseHandle(handle_);
   }
   MsiSetInternalUI(previousUi_, nullptr);
}

bool MsiSession::Build(const std::wstring &file)
{
   MsiOwner db;
   UINT rc = MsiOpenDatabaseW(file.c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_CREATE), &db.h);
   if (rc != ERROR_SUCCESS) {
      failure_ = "MsiOpenDatabase: " + std::to_string(rc);
      return false;
   }
   // Each statement with up to two string parameters bound from a record.
   auto run = [&](const char *sql, const std::string &a = {}, const std::string &b = {},
                  int params = 0) {
      MsiOwner view, record;
      UINT r = MsiDatabaseOpenViewW(db.h, Wide(sql).c_str(), &view.h);
      if (r == ERROR_SUCCESS && params > 0) {
         record.h = MsiCreateRecord(params);
         MsiRecordSetStringW(record.h, 1, Wide(a).c_str());
         if (params > 1) {
            MsiRecordSetStringW(record.h, 2, Wide(b).c_str());
         }
      }
      if (r == ERROR_SUCCESS) {
         r = MsiViewExecute(view.h, record.h);
      }
      if (r != ERROR_SUCCESS && failure_.empty()) {
         failure_ = std::string(sql) + " (" + a + "): " + std::to_string(r);
      }
   };
   run("CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
       "LOCALIZABLE PRIMARY KEY `Property`)");
   run("CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
       "`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)");
   run("CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE "
       "PRIMARY KEY `Error`)");
   const std::string target = Utf8(scratch_.Path()) + "\\target\\";
   const std::pair<const char *, std::string> properties[] = {
      {"ProductCode", NewGuid()},        {"ProductName", "Orvane Tools Test"},
      {"ProductVersion", "1.0.0"},       {"ProductLanguage", "1033"},
      {"Manufacturer", "Orvane, Inc."},  {"TARGETDIR", target},
   };
   for (const auto &p : properties) {
      run("INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", p.first, p.second, 2);
   }
   run("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) "
       "VALUES ('TARGETDIR', '', 'SourceDir')");
   run("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) "
       "VALUES ('INSTALLDIR', 'TARGETDIR', 'Orvane')");
   for (const ErrorRow &row : kErrorRows) {
      run(("INSERT INTO `Error` (`Error`, `Message`) VALUES (" + std::to_string(row.number) +
           ", ?)").c_str(), row.text, {}, 1);
   }
   if (!failure_.empty()) {
      return false;
   }

   // Wine refuses an x64 package whose schema (page count) is below 200.
   enum { kTitle = 2, kTemplate = 7, kRevision = 9, kPageCount = 14, kWordCount = 15 };
   MsiOwner info;
   rc = MsiGetSummaryInformationW(db.h, nullptr, 10, &info.h);
   const std::pair<UINT, std::string> texts[] = {
      {kTitle, "Installation Database"}, {kTemplate, "x64;1033"}, {kRevision, NewGuid()}};
   for (const auto &t : texts) {
      if (rc == ERROR_SUCCESS) {
         rc = MsiSummaryInfoSetPropertyW(info.h, t.first, VT_LPSTR, 0, nullptr,
                                         Wide(t.second).c_str());
      }
   }
   if (rc == ERROR_SUCCESS) {
      rc = MsiSummaryInfoSetPropertyW(info.h, kPageCount, VT_I4, 200, nullptr, nullptr);
   }
   if (rc == ERROR_SUCCESS) {
      rc = MsiSummaryInfoSetPropertyW(info.h, kWordCount, VT_I4, 2, nullptr, nullptr);
   }
   if (rc == ERROR_SUCCESS) {
      rc = MsiSummaryInfoPersist(info.h);
   }
   if (rc == ERROR_SUCCESS) {
      rc = MsiDatabaseCommit(db.h);
   }
   if (rc != ERROR_SUCCESS) {
      failure_ = "summary information or commit: " + std::to_string(rc);
   }
   return rc == ERROR_SUCCESS;
}

std::string MsiSession::InstallDir() const
{
   return Get("INSTALLDIR");
}

std::string MsiSession::Get(const char *name) const
{
   std::wstring buf(64, L'\0');
   DWORD size = static_cast<DWORD>(buf.size());
   UINT rc = MsiGetPropertyW(handle_, Wide(name).c_str(), &buf[0], &size);
   if (rc == ERROR_MORE_DATA) {
      buf.assign(++size, L'\0');
      rc = MsiGetPropertyW(handle_, Wide(name).c_str(), &buf[0], &size);
   }
   if (rc != ERROR_SUCCESS) {
      Fail(std::string("MsiGetProperty ") + name + ": " + std::to_string(rc));
      return std::string();
   }
   return Utf8(buf.substr(0, size));
}

UINT MsiSession::Set(const char *name, const char *value) const
{
   return MsiSetPropertyW(handle_, Wide(name).c_str(), Wide(value).c_str());
}

MessageCapture::MessageCapture(int button) : button_(button)
{
   UINT rc = MsiSetExternalUIRecord(Handler,
                                    INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING |
                                       INSTALLLOGMODE_INFO,
                                    this, &previous_);
   if (rc != ERROR_SUCCESS) {
      Fail("MsiSetExternalUIRecord: " + std::to_string(rc));
   }
}

MessageCapture::~MessageCapture()
{
   MsiSetExternalUIRecord(previous_,
                          previous_ != nullptr ? INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING |
                                                    INSTALLLOGMODE_INFO
                                               : 0,
                          nullptr, nullptr);
}

int WINAPI MessageCapture::Handler(void *context, UINT type, MSIHANDLE record)
{
   auto *self = static_cast<MessageCapture *>(context);
   PostedMessage m;
   m.type = type;
   UINT count = MsiRecordGetFieldCount(record);
   for (UINT i = 0; i <= count; i++) {
      m.fields.push_back({MsiRecordIsNull(record, i) != FALSE, MsiRecordGetInteger(record, i),
                          MsiRecordDataSize(record, i), RecordString(record, i)});
   }
   std::wstring buf(1024, L'\0');
   DWORD size = static_cast<DWORD>(buf.size());
   if (MsiFormatRecordW(0, record, &buf[0], &size) == ERROR_SUCCESS) {
      m.formatted = Utf8(buf.substr(0, size));
   }
   self->messages_.push_back(m);
   return self->button_;
}

LoadedDll::LoadedDll()
{
   std::wstring host = L"\\\\?\\unix" + Wide(OV_DLL_PATH);
   std::replace(host.begin(), host.end(), L'/', L'\\');
   std::wstring copy = gFolder + L"ovinstutil.dll";
   if (gFolder.empty() || !CopyFileW(host.c_str(), copy.c_str(), FALSE)) {
      Fail("cannot copy " + Utf8(host) + ": " + std::to_string(GetLastError()));
      return;
   }
   module_ = LoadLibraryW(copy.c_str());
   if (module_ == nullptr) {
      Fail("cannot load the DLL: " + std::to_string(GetLastError()));
   }
}

LoadedDll::~LoadedDll()
{
   if (module_ != nullptr) {
      FreeLibrary(module_);
   }
}

UINT LoadedDll::Call(const char *exportName, MSIHANDLE install) const
{
   using Export = UINT(WINAPI *)(MSIHANDLE);
   auto fn = module_ != nullptr
                ? reinterpret_cast<Export>(reinterpret_cast<void *>(GetProcAddress(module_, exportName)))
                : nullptr;
   if (fn == nullptr) {
      Fail(std::string("the DLL has no export ") + exportName);
      return ~0u;
   }
   return fn(install);
}

LogMark::LogMark() : offset_(0)
{
   WIN32_FILE_ATTRIBUTE_DATA data;
   if (GetFileAttributesExW(LogPath().c_str(), GetFileExInfoStandard, &data)) {
      offset_ = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
   }
}

std::vector<LogLine> LogMark::Lines() const
{
   std::string bytes;
   HANDLE file = CreateFileW(LogPath().c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
   if (file != INVALID_HANDLE_VALUE) {
      LARGE_INTEGER at;
      at.QuadPart = static_cast<LONGLONG>(offset_);
      char buf[65536];
      DWORD n = 0;
      if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
         while (ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0) {
            bytes.append(buf, n);
         }
      }
      CloseHandle(file);
   }
   static const std::regex shape("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\.[0-9]{3}"
                                 "(Z|[+-][0-9]{2}:[0-9]{2})\\| ([^|]*)\\| ([A-Z0-9]{2}): (.*)$");
   std::vector<LogLine> lines;
   size_t start = 0;
   for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
      std::string text = bytes.substr(start, end - start);
      std::smatch m;
      if (std::regex_match(text, m, shape)) {
         lines.push_back({m.str(2), m.str(3), m.str(4)});
      } else if (text + "\n" == LOG_LINE_TRUNCATED_NOTICE) {
         lines.push_back({"", "", text});
      } else {
         Fail("log line of unknown shape: " + text);
      }
   }
   if (start != bytes.size()) {
      Fail("log ends without CR LF: " + bytes.substr(start));
   }
   return lines;
}

std::vector<std::string> LogMark::Texts(const std::string &tag) const
{
   std::vector<std::string> texts;
   for (const LogLine &line : Lines()) {
      if (line.tag == tag) {
         texts.push_back(line.text);
      }
   }
   return texts;
}

}  // namespace msitest

#ifndef OV_MSI_SESSION_NO_GTEST
#include <gtest/gtest.h>

namespace {

void GtestSink(const std::string &what)
{
   ADD_FAILURE() << what;
}

class MsiEnvironment : public testing::Environment {
public:
   void SetUp() override
   {
      msitest::SetFailureSink(GtestSink);
      msitest::ProcessSetUp();
   }
   void TearDown() override { msitest::ProcessTearDown(); }
};

const testing::Environment *const gEnvironment =
   testing::AddGlobalTestEnvironment(new MsiEnvironment);

}  // namespace
#endif
