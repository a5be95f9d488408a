// Packages with components and custom tables for the tests of the custom
// actions that read tables and component states.
#include "tests/msi/tablePackage.h"

#include <msiquery.h>

#include <cstdio>

#include "tests/msi/msiSession.h"

namespace msitest {

namespace {

std::string Guid(unsigned n)
{
   char text[40];
   std::snprintf(text, sizeof text, "{%08lX-7AB1-4000-8000-%012X}", GetCurrentProcessId(), n);
   return text;
}

std::string Run(MSIHANDLE db, const Sql &st)
{
   PMSIHANDLE view, record(st.params.empty() ? 0 : MsiCreateRecord(UINT(st.params.size())));
   for (UINT i = 0; i < st.params.size(); i++) {
      MsiRecordSetStringW(record, i + 1, Wide(st.params[i]).c_str());
   }
   UINT rc = MsiDatabaseOpenViewW(db, Wide(st.text).c_str(), &view);
   if (rc == ERROR_SUCCESS) {
      rc = MsiViewExecute(view, record);
   }
   return rc == ERROR_SUCCESS ? "" : st.text + ": " + std::to_string(rc);
}

std::string Build(const std::wstring &file, const std::vector<std::string> &components,
                  const std::vector<Sql> &extra)
{
   static unsigned count = 0;
   PMSIHANDLE db;
   UINT rc = MsiOpenDatabaseW(file.c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_CREATE), &db);
   if (rc != ERROR_SUCCESS) {
      return "MsiOpenDatabase: " + std::to_string(rc);
   }
   const std::string property = "INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)";
   std::vector<Sql> statements = {
      {"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
       "PRIMARY KEY `Property`)", {}},
      {"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
       "`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)", {}},
      {"CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR PRIMARY KEY `Error`)", {}},
      {"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` "
       "CHAR(64), `Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` "
       "CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)", {}},
      {"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
       "`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), "
       "`KeyPath` CHAR(72) PRIMARY KEY `Component`)", {}},
      {"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) "
       "NOT NULL PRIMARY KEY `Feature_`, `Component_`)", {}},
      {property, {"ProductCode", Guid(++count)}},
      {property, {"ProductName", "Orvane Tools Test"}},
      {property, {"ProductVersion", "1.0.0"}},
      {property, {"ProductLanguage", "1033"}},
      {property, {"Manufacturer", "Orvane, Inc."}},
      {"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
       "('TARGETDIR', '', 'SourceDir')", {}},
      {"INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('Main', 1, 0)", {}},
      {"INSERT INTO `Error` (`Error`, `Message`) VALUES (25001, ?)", {"Plain error message."}},
      {"INSERT INTO `Error` (`Error`, `Message`) VALUES (25003, ?)", {"Plain warning message."}},
   };
   for (const std::string &c : components) {
      statements.push_back({"INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, "
                            "`Attributes`) VALUES (?, ?, 'TARGETDIR', 0)", {c, Guid(++count)}});
      statements.push_back({"INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES "
                            "('Main', ?)", {c}});
   }
   statements.insert(statements.end(), extra.begin(), extra.end());
   for (const Sql &st : statements) {
      std::string failure = Run(db, st);
      if (!failure.empty()) {
         return failure;
      }
   }
   PMSIHANDLE info;
   rc = MsiGetSummaryInformationW(db, nullptr, 10, &info);
   const std::wstring revision = Wide(Guid(++count));
   if (rc == ERROR_SUCCESS) {
      rc = MsiSummaryInfoSetPropertyW(info, 7, VT_LPSTR, 0, nullptr, L"x64;1033");
   }
   if (rc == ERROR_SUCCESS) {
      rc = MsiSummaryInfoSetPropertyW(info, 9, VT_LPSTR, 0, nullptr, revision.c_str());
   }
   if (rc == ERROR_SUCCESS) {
      rc = MsiSummaryInfoSetPropertyW(info, 14, VT_I4, 200, nullptr, nullptr);
   }
   if (rc == ERROR_SUCCESS) {
      rc = MsiSummaryInfoSetPropertyW(info, 15, VT_I4, 2, nullptr, nullptr);
   }
   if (rc == ERROR_SUCCESS && (rc = MsiSummaryInfoPersist(info)) == ERROR_SUCCESS) {
      rc = MsiDatabaseCommit(db);
   }
   return rc == ERROR_SUCCESS ? "" : "summary information or commit: " + std::to_string(rc);
}

}  // namespace

TablePackage::TablePackage(const std::vector<std::string> &components, const std::vector<Sql> &extra)
   : previousUi_(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr))
{
   static unsigned count = 0;
   file_ = ProcessFolder() + L"t" + std::to_wstring(++count) + L".msi";
   failure_ = Build(file_, components, extra);
   UINT rc = failure_.empty() ? MsiOpenPackageW(file_.c_str(), &handle_) : ERROR_SUCCESS;
   if (rc != ERROR_SUCCESS) {
      failure_ = "MsiOpenPackage: " + std::to_string(rc);
   }
   for (const wchar_t *action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
      if (failure_.empty() && (rc = MsiDoActionW(handle_, action)) != ERROR_SUCCESS) {
         failure_ = Utf8(action) + ": " + std::to_string(rc);
      }
   }
}

TablePackage::~TablePackage()
{
   MsiCloseHandle(handle_);
   MsiSetInternalUI(previousUi_, nullptr);
   DeleteFileW(file_.c_str());
}

bool TablePackage::SetAction(const std::string &component, INSTALLSTATE state) const
{
   return MsiSetComponentStateW(handle_, Wide(component).c_str(), state) == ERROR_SUCCESS;
}

namespace {

std::vector<std::string> gMessages;

INT CALLBACK RecordMessage(LPVOID, UINT type, LPCWSTR text)
{
   const UINT kind = type & 0xFF000000u;
   gMessages.push_back((kind == INSTALLMESSAGE_ERROR ? "error " : kind == INSTALLMESSAGE_WARNING ? "warning " : "other ") +
                       Utf8(text != nullptr ? text : L""));
   return IDOK;
}

}  // namespace

MessageRecorder::MessageRecorder()
{
   gMessages.clear();
   previous_ = MsiSetExternalUIW(RecordMessage, INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING, nullptr);
}

MessageRecorder::~MessageRecorder()
{
   MsiSetExternalUIW(previous_, 0, nullptr);
}

const std::vector<std::string> &MessageRecorder::Messages() const
{
   return gMessages;
}

}  // namespace msitest
