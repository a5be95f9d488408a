// The installer-session fixture. Everything it makes lives under one
// per-process folder inside the temp folder, which goes at the end.
#include "tests/msi/msiSession.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include <gtest/gtest.h>

#include "common/log.h"
#include "common/logLine.h"

namespace msitest {

namespace {

void (*gSink)(const std::string &) = [](const std::string &what) { ADD_FAILURE() << what; };
std::wstring gFolder;

// A package or product code unique within the run, all the installer asks.
std::string NewGuid()
{
   static unsigned counter = 0;
   char text[40];
   std::snprintf(text, sizeof text, "{%08lX-%04X-4000-8000-%012llX}", GetCurrentProcessId(), ++counter & 0xFFFF,
                 GetTickCount64() & 0xFFFFFFFFFFFFull);
   return text;
}

// The least Wine's installer accepts as a package; the reason if it fails.
std::string BuildPackage(const std::wstring &file, const std::string &targetDir, const std::vector<Statement> &extra)
{
   PMSIHANDLE db, info;
   MsiOpenDatabaseW(file.c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_CREATE), &db);
   // Fails too when there is no database. Title, template, revision, page
   // count, word count: Wine refuses an x64 package whose schema (page
   // count) is below 200.
   UINT rc = MsiGetSummaryInformationW(db, nullptr, 10, &info);
   const std::tuple<UINT, UINT, INT, std::string> fields[] = {{2, VT_LPSTR, 0, "Installation Database"},
      {7, VT_LPSTR, 0, "x64;1033"}, {9, VT_LPSTR, 0, NewGuid()}, {14, VT_I4, 200, ""}, {15, VT_I4, 2, ""}};
   for (const auto &[id, type, number, text] : fields) {
      if (rc == ERROR_SUCCESS) {
         rc = MsiSummaryInfoSetPropertyW(info, id, type, number, nullptr, type == VT_I4 ? nullptr : Wide(text).c_str());
      }
   }
   std::vector<Statement> statements = {
      {"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE "
       "PRIMARY KEY `Property`)"},
      {"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
       "`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)"},
      {"CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)"},
      // Two components of one feature, whose action states tests choose.
      {"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
       "`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` "
       "SHORT NOT NULL PRIMARY KEY `Feature`)"},
      {"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) "
       "NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)"},
      {"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
       "PRIMARY KEY `Feature_`, `Component_`)"},
      {"INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('Main', 1, 0)"},
      {"INSERT INTO `Directory` (`Directory`, `DefaultDir`) VALUES ('TARGETDIR', 'SourceDir')"},
      {"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('INSTALLDIR', 'TARGETDIR', "
       "'Orvane')"},
      {"INSERT INTO `Error` (`Error`, `Message`) VALUES (25001, 'Plain error message.')"},
      {"INSERT INTO `Error` (`Error`, `Message`) VALUES (25002, 'Number [2], text [3].')"},
      {"INSERT INTO `Error` (`Error`, `Message`) VALUES (25003, 'Plain warning message.')"},
   };
   const std::pair<std::string, std::string> properties[] = {
      {"ProductCode", NewGuid()}, {"ProductName", "Orvane Tools Test"}, {"ProductVersion", "1.0.0"},
      {"ProductLanguage", "1033"}, {"Manufacturer", "Orvane, Inc."},    {"TARGETDIR", targetDir}};
   for (const auto &[name, value] : properties) {
      statements.push_back({"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", name, value});
   }
   for (const char *component : {"CompOn", "CompOff"}) {
      statements.push_back({"INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`) "
                            "VALUES (?, ?, 'TARGETDIR', 0)", component, NewGuid()});
      statements.push_back(
         {"INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Main', ?)", component});
   }
   statements.insert(statements.end(), extra.begin(), extra.end());
   for (auto st = statements.begin(); rc == ERROR_SUCCESS && st != statements.end(); ++st) {
      PMSIHANDLE view, record(st->size() > 1 ? MsiCreateRecord(UINT(st->size() - 1)) : 0);
      for (UINT i = 1; i < st->size(); i++) {
         MsiRecordSetStringW(record, i, Wide((*st)[i]).c_str());
      }
      if ((rc = MsiDatabaseOpenViewW(db, Wide(st->front()).c_str(), &view)) != ERROR_SUCCESS ||
          (rc = MsiViewExecute(view, record)) != ERROR_SUCCESS) {
         return st->front() + ": " + std::to_string(rc);
      }
   }
   if (rc == ERROR_SUCCESS && (rc = MsiSummaryInfoPersist(info)) == ERROR_SUCCESS) {
      rc = MsiDatabaseCommit(db);
   }
   return rc == ERROR_SUCCESS ? "" : "package: " + std::to_string(rc);
}

}  // namespace

void SetFailureSink(void (*sink)(const std::string &what))
{
   gSink = sink;
}

void ProcessSetUp()
{
   std::error_code e;
   const std::wstring bare = (std::filesystem::temp_directory_path(e) /
                              (L"ovmsitest-" + std::to_wstring(GetCurrentProcessId()))).wstring();
   gFolder = bare + L"\\";
   std::filesystem::remove_all(bare, e);
   if (!std::filesystem::create_directory(bare, e)) {
      gSink("cannot create the process folder " + Utf8(gFolder));
   }
   SetEnvironmentVariableW(L"TMP", bare.c_str());
   SetEnvironmentVariableW(L"TEMP", bare.c_str());
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Orvane, Inc.", L"LogLevel");
   // This process's MsiUtil_ lines pass the filter only once a session has
   // read the level.
   Inst_SetupLogging("msi_tests", nullptr, nullptr, nullptr);
}

void ProcessTearDown()
{
   Inst_EndLogging();
   std::error_code ignored;
   std::filesystem::remove_all(gFolder, ignored);
   gFolder.clear();
}

const std::wstring &ProcessFolder()
{
   return gFolder;
}

MsiSession::MsiSession(const std::vector<Statement> &extra)
   : previousUi_(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr))
{
   static unsigned count = 0;
   const std::wstring name = gFolder + L"s" + std::to_wstring(++count);
   file_ = name + L".msi";
   failure_ = gFolder.empty() ? "no process folder" : BuildPackage(file_, Utf8(name) + "\\target\\", extra);
   UINT rc = failure_.empty() ? MsiOpenPackageW(file_.c_str(), &handle_) : ERROR_SUCCESS;
   if (rc != ERROR_SUCCESS) {
      failure_ = "MsiOpenPackage: " + std::to_string(rc);
   }
   // Directory properties exist only once the folders are costed.
   for (const wchar_t *action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
      if (failure_.empty() && (rc = MsiDoActionW(handle_, action)) != ERROR_SUCCESS) {
         failure_ = Utf8(action) + ": " + std::to_string(rc);
      }
   }
}

MsiSession::~MsiSession()
{
   MsiCloseHandle(handle_);
   MsiSetInternalUI(previousUi_, nullptr);
   DeleteFileW(file_.c_str());
}

std::string MsiSession::Get(const char *name) const
{
   wchar_t none[1];
   DWORD size = 0;
   MsiGetPropertyW(handle_, Wide(name).c_str(), none, &size);
   std::wstring buf(++size, L'\0');
   if (UINT rc = MsiGetPropertyW(handle_, Wide(name).c_str(), &buf[0], &size); rc != ERROR_SUCCESS) {
      gSink(std::string("MsiGetProperty ") + name + ": " + std::to_string(rc));
   }
   return Utf8(buf.substr(0, size));
}

LoadedDll::LoadedDll()
{
   std::wstring host = L"\\\\?\\unix" + Wide(OV_DLL_PATH);
   std::replace(host.begin(), host.end(), L'/', L'\\');
   std::wstring copy = gFolder + L"ovinstutil.dll";
   if (gFolder.empty() || !CopyFileW(host.c_str(), copy.c_str(), FALSE)) {
      gSink("cannot copy " + Utf8(host) + ": " + std::to_string(GetLastError()));
   } else if ((module_ = LoadLibraryW(copy.c_str())) == nullptr) {
      gSink("cannot load the DLL: " + std::to_string(GetLastError()));
   }
}

UINT LoadedDll::Call(const char *exportName, MSIHANDLE install) const
{
   FARPROC found = module_ != nullptr ? GetProcAddress(module_, exportName) : nullptr;
   auto fn = reinterpret_cast<UINT(WINAPI *)(MSIHANDLE)>(reinterpret_cast<void *>(found));
   if (fn == nullptr) {
      gSink(std::string("the DLL has no export ") + exportName);
      return ~0u;
   }
   return fn(install);
}

LogMark::LogMark()
{
   std::error_code missing;
   const auto size = std::filesystem::file_size(gFolder + L"ovinst.log", missing);
   offset_ = missing ? 0 : size;
}

std::vector<LogLine> LogMark::Lines() const
{
   std::ifstream in(std::filesystem::path(gFolder + L"ovinst.log"), std::ios::binary);
   in.seekg(static_cast<std::streamoff>(offset_));
   const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
         gSink("log line of unknown shape: " + text);
      }
   }
   return lines;
}

std::vector<std::string> LogMark::Transcript() const
{
   // The system's text for an error code is not the library's to choose.
   static const std::regex errorText("(\\| (winerror|posix) code -?[0-9]+) \\((?!code was erased).*\\)$");
   std::vector<std::string> lines;
   for (const LogLine &line : Lines()) {
      const std::string text = std::regex_replace(line.text, errorText, "$1");
      lines.push_back(line.level.empty() ? text : line.level + " " + text);
   }
   return lines;
}

}  // namespace msitest

namespace {

struct MsiEnvironment : testing::Environment {
   void SetUp() override
   {
      msitest::ProcessSetUp();
   }
   void TearDown() override { msitest::ProcessTearDown(); }
};

const auto *const gEnvironment = testing::AddGlobalTestEnvironment(new MsiEnvironment);

}  // namespace
