#include "pkgcheck/msiPackageReader.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <functional>
#include <vector>

#include "common/msiUtil.h"
#include "pkgcheck/peExports.h"

namespace pkgcheck {

namespace {

std::string Utf8(const std::wstring &w)
{
   if (w.empty()) {
      return std::string();
   }
   const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
   std::string s(n > 0 ? n : 0, '\0');
   WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
   return s;
}

std::string Field(MSIHANDLE record, UINT field)
{
   DWORD size = 0;
   wchar_t empty[1] = {};
   UINT rc = MsiRecordGetStringW(record, field, empty, &size);
   if (rc != ERROR_MORE_DATA) {
      return std::string();
   }
   std::wstring text(++size, L'\0');
   rc = MsiRecordGetStringW(record, field, &text[0], &size);
   return rc == ERROR_SUCCESS ? Utf8(text.substr(0, size)) : std::string();
}

class Reader {
public:
   Reader(MSIHANDLE db, std::string &error) : db_(db), error_(error) {}

   // Calls `row` for each record of the query; false after a failure.
   bool Rows(const std::string &query, const std::function<void(MSIHANDLE)> &row)
   {
      MsiHandle view;
      UINT rc = MsiDatabaseOpenViewA(db_, query.c_str(), view.Out());
      rc = rc == ERROR_SUCCESS ? MsiViewExecute(view.Get(), 0) : rc;
      MsiHandle record;
      while (rc == ERROR_SUCCESS && (rc = MsiViewFetch(view.Get(), record.Out())) == ERROR_SUCCESS) {
         row(record.Get());
      }
      if (rc != ERROR_NO_MORE_ITEMS) {
         error_ = query + ": error " + std::to_string(rc);
         return false;
      }
      return true;
   }

   // Column names and types of a table ("s72", "I2", ...).
   bool Columns(const std::string &table, std::vector<Column> &out)
   {
      MsiHandle view, names, types;
      const std::string query = "SELECT * FROM `" + table + "`";
      UINT rc = MsiDatabaseOpenViewA(db_, query.c_str(), view.Out());
      rc = rc == ERROR_SUCCESS ? MsiViewGetColumnInfo(view.Get(), MSICOLINFO_NAMES, names.Out()) : rc;
      rc = rc == ERROR_SUCCESS ? MsiViewGetColumnInfo(view.Get(), MSICOLINFO_TYPES, types.Out()) : rc;
      if (rc != ERROR_SUCCESS) {
         error_ = query + ": error " + std::to_string(rc);
         return false;
      }
      for (UINT i = 1; i <= MsiRecordGetFieldCount(names.Get()); i++) {
         out.push_back({Field(names.Get(), i), Field(types.Get(), i)});
      }
      return true;
   }

private:
   MSIHANDLE db_;
   std::string &error_;
};

// A Binary entry's bytes.
std::string Stream(MSIHANDLE record, UINT field)
{
   std::string bytes;
   char chunk[65536];
   for (DWORD n = sizeof chunk; MsiRecordReadStream(record, field, chunk, &n) == ERROR_SUCCESS && n > 0;
        n = sizeof chunk) {
      bytes.append(chunk, n);
   }
   return bytes;
}

}  // namespace

bool ReadPackage(const std::wstring &path, Package &p, std::string &error)
{
   MsiHandle db;
   UINT rc = MsiOpenDatabaseW(path.c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_READONLY), db.Out());
   if (rc != ERROR_SUCCESS) {
      error = "cannot open the package: error " + std::to_string(rc);
      return false;
   }
   Reader r(db.Get(), error);
   if (!r.Rows("SELECT `Name` FROM `_Tables`", [&](MSIHANDLE row) { p.tables[Field(row, 1)]; })) {
      return false;
   }
   for (auto &[table, columns] : p.tables) {
      if (table.compare(0, 2, "OV") == 0 && !r.Columns(table, columns)) {
         return false;
      }
   }
   auto has = [&p](const char *table) { return p.tables.count(table) != 0; };
   bool ok = true;
   if (has("CustomAction")) {
      ok = ok && r.Rows("SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`", [&](MSIHANDLE row) {
         p.customActions.push_back({Field(row, 1), MsiRecordGetInteger(row, 2), Field(row, 3), Field(row, 4)});
      });
   }
   for (const char *table : {"InstallExecuteSequence", "InstallUISequence", "AdminExecuteSequence",
                             "AdminUISequence", "AdvtExecuteSequence"}) {
      if (has(table)) {
         ok = ok && r.Rows(std::string("SELECT `Action`, `Sequence` FROM `") + table + "`", [&](MSIHANDLE row) {
            p.sequences[table].push_back({Field(row, 1), MsiRecordGetInteger(row, 2)});
         });
      }
   }
   if (has("Error")) {
      ok = ok && r.Rows("SELECT `Error` FROM `Error`", [&](MSIHANDLE row) { p.errors.insert(MsiRecordGetInteger(row, 1)); });
   }
   if (has("Property")) {
      ok = ok && r.Rows("SELECT `Property`, `Value` FROM `Property`",
                        [&](MSIHANDLE row) { p.properties[Field(row, 1)] = Field(row, 2); });
   }
   if (has("OVDisplayWarnings") && p.tables["OVDisplayWarnings"].size() >= 2) {
      ok = ok && r.Rows("SELECT * FROM `OVDisplayWarnings`", [&](MSIHANDLE row) {
         const int number = MsiRecordGetInteger(row, 2);
         if (number != static_cast<int>(MSI_NULL_INTEGER)) {
            p.warningMessages.push_back(number);
         }
      });
   }
   if (has("Binary")) {
      ok = ok && r.Rows("SELECT `Name`, `Data` FROM `Binary`", [&](MSIHANDLE row) {
         std::set<std::string> names;
         if (ReadExportNames(Stream(row, 2), names)) {
            p.exports[Field(row, 1)] = names;
         }
      });
   }
   return ok;
}

}  // namespace pkgcheck
