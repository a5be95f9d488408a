// The rules a package must follow to call ovinstutil.dll, checked on the
// rows the reader took out of it.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "pkgcheck/contract.h"
#include "pkgcheck/package.h"

namespace pkgcheck {

namespace {

// Custom-action type bits (msidbCustomActionType...).
constexpr int kKindMask = 0x07, kKindDll = 0x01;
constexpr int kSourceMask = 0x30, kSourceBinary = 0x00, kSourceFile = 0x10;
constexpr int kSetProperty = 51;   // text data into a property
constexpr int kRollback = 0x100, kCommit = 0x200, kInScript = 0x400, kNoImpersonate = 0x800;

bool CallsDll(const CustomActionRow &ca)
{
   const int source = ca.type & kSourceMask;
   return (ca.type & kKindMask) == kKindDll && (source == kSourceBinary || source == kSourceFile);
}

bool IsSetter(const CustomActionRow &ca)
{
   return (ca.type & 0x3F) == kSetProperty;
}

// Fields of a CustomActionData value: ";" outside of the [...] references
// that the installer replaces, so that a formatted path still counts once.
int FieldCount(const std::string &value)
{
   if (value.empty()) {
      return 0;
   }
   int fields = 1, depth = 0;
   for (char c : value) {
      depth += c == '[' ? 1 : c == ']' && depth > 0 ? -1 : 0;
      fields += c == ';' && depth == 0 ? 1 : 0;
   }
   return fields;
}

class Checker {
public:
   explicit Checker(const Package &p) : p_(p) { FindLibraryBinaries(); }

   std::vector<Finding> Run()
   {
      for (const CustomActionRow &ca : p_.customActions) {
         if (CallsDll(ca) && IsLibrary(ca)) {
            CheckCall(ca);
         }
      }
      return std::move(findings_);
   }

private:
   // A Binary entry is the library when it exports a name of the library,
   // or, unread, when an action calls a name of the library in it.
   void FindLibraryBinaries()
   {
      for (const auto &[binary, names] : p_.exports) {
         for (const std::string &name : names) {
            if (FindContract(name) != nullptr) {
               library_.insert(binary);
            }
         }
      }
      for (const CustomActionRow &ca : p_.customActions) {
         if (CallsDll(ca) && (ca.type & kSourceMask) == kSourceBinary && FindContract(ca.target) != nullptr &&
             p_.exports.count(ca.source) == 0) {
            library_.insert(ca.source);
         }
      }
   }

   bool IsLibrary(const CustomActionRow &ca) const
   {
      if ((ca.type & kSourceMask) == kSourceFile) {   // an installed file: known only by its names
         return ca.target.compare(0, 2, "OV") == 0;
      }
      return library_.count(ca.source) != 0;
   }

   void Add(Level level, const char *check, const CustomActionRow &ca, const std::string &message)
   {
      findings_.push_back({level, check, "CustomAction", ca.action, message});
   }

   void CheckCall(const CustomActionRow &ca)
   {
      const auto exported = p_.exports.find(ca.source);
      const std::set<std::string> *names = nullptr;
      std::string dll = "ovinstutil.dll";
      if (!p_.dllName.empty()) {
         names = &p_.dllExports;
         dll = p_.dllName;
      } else if (exported != p_.exports.end() && (ca.type & kSourceMask) == kSourceBinary) {
         names = &exported->second;
         dll = "the DLL in Binary '" + ca.source + "'";
      }
      const ActionContract *c = FindContract(ca.target);
      if (names != nullptr ? names->count(ca.target) == 0 : c == nullptr) {
         Add(Level::Error, "unknown-export", ca, "calls '" + ca.target + "', which " + dll + " does not export");
         return;
      }
      if (c == nullptr) {
         return;   // a later export this checker does not know yet
      }
      const bool deferred = (ca.type & kInScript) != 0;
      if (c->phase == Phase::Immediate && deferred) {
         Add(Level::Error, "needs-immediate", ca,
             ca.target + " reads properties, tables or component states that a deferred action cannot see: "
                         "schedule it without the in-script flag (0x400)");
      }
      if (c->phase == Phase::Deferred && !deferred) {
         Add(Level::Error, "needs-deferred", ca,
             ca.target + " changes the machine and reads CustomActionData: schedule it deferred (0x400)");
      }
      if (c->phase == Phase::Deferred && deferred && (ca.type & kNoImpersonate) == 0) {
         Add(Level::Error, "impersonated", ca,
             ca.target + " changes the machine: run it without impersonation (0x800)");
      }
      if (deferred && c->maxFields > 0) {
         CheckData(ca, *c);
      }
      if (c->table != nullptr) {
         CheckTable(ca, c->table);
      }
      for (int error : c->errors) {
         CheckError(ca, error, "posts");
      }
      if (ca.target == "OVDisplayWarnings") {
         for (int error : p_.warningMessages) {
            CheckError(ca, error, "shows, by a row of OVDisplayWarnings,");
         }
      }
      if (ca.target == "OVMessageBox") {
         CheckMessageBoxData(ca);
      }
      if (deferred && (ca.type & (kRollback | kCommit)) == 0 && c->undoneBy != nullptr) {
         CheckRollback(ca, c->undoneBy);
      }
   }

   // The sequence number of `action` in each table that sequences it.
   std::map<std::string, int> Sequenced(const std::string &action) const
   {
      std::map<std::string, int> found;
      for (const auto &[table, rows] : p_.sequences) {
         for (const SequenceRow &row : rows) {
            if (row.action == action) {
               found[table] = row.sequence;
            }
         }
      }
      return found;
   }

   // A deferred action sees only CustomActionData: a property of its own
   // name, set by an action that runs before it.
   void CheckData(const CustomActionRow &ca, const ActionContract &c)
   {
      const CustomActionRow *setter = nullptr;
      for (const CustomActionRow &other : p_.customActions) {
         if (IsSetter(other) && other.source == ca.action) {
            setter = &other;
         }
      }
      if (setter == nullptr) {
         Add(Level::Error, "no-data-setter", ca,
             "no action sets the property '" + ca.action + "', so its CustomActionData is empty");
         return;
      }
      const std::map<std::string, int> setterAt = Sequenced(setter->action);
      for (const auto &[table, at] : Sequenced(ca.action)) {
         const auto before = setterAt.find(table);
         if (before == setterAt.end() || before->second >= at) {
            Add(Level::Error, "no-data-setter", ca,
                "'" + setter->action + "', which sets its CustomActionData, is not sequenced before it in " + table);
         }
      }
      const int fields = FieldCount(setter->target);
      const std::string has = "'" + setter->action + "' gives it " + std::to_string(fields) + " field" +
                              (fields == 1 ? "" : "s");
      if (fields < c.minFields || fields > c.maxFields) {
         const std::string wants = c.minFields == c.maxFields ? std::to_string(c.minFields)
                                   : c.maxFields >= (1 << 30) ? "at least " + std::to_string(c.minFields)
                                   : std::to_string(c.minFields) + " to " + std::to_string(c.maxFields);
         Add(Level::Error, "field-count", ca, has + "; " + ca.target + " reads " + wants);
      } else if (c.pairs && fields % 2 != 0) {
         Add(Level::Error, "field-count", ca, has + "; " + ca.target + " reads them in pairs");
      }
   }

   void CheckTable(const CustomActionRow &ca, const std::string &table)
   {
      const auto found = p_.tables.find(table);
      if (found == p_.tables.end()) {
         Add(Level::Error, "missing-table", ca, ca.target + " reads the table " + table + ", which the package lacks");
         return;
      }
      const std::string want = TableColumnTypes(table);
      std::string got;
      for (const Column &column : found->second) {
         const char t = static_cast<char>(std::tolower(static_cast<unsigned char>(column.type.empty() ? '?' : column.type[0])));
         got += t == 'l' ? 's' : t;   // localizable text is text
      }
      if (got.compare(0, want.size(), want) != 0) {
         Add(Level::Error, "table-columns", ca,
             "the table " + table + " has the column types '" + got + "'; " + ca.target + " reads '" + want +
                "' (s text, i integer) from its first columns");
      }
   }

   void CheckError(const CustomActionRow &ca, int error, const std::string &how)
   {
      if (p_.errors.count(error) == 0) {
         Add(Level::Error, "missing-error", ca,
             ca.target + " " + how + " message " + std::to_string(error) + ", which the Error table lacks");
      }
   }

   // MSGBOX_DATA as the Property table or a literal setter gives it.
   void CheckMessageBoxData(const CustomActionRow &ca)
   {
      std::vector<std::string> values;
      const auto property = p_.properties.find("MSGBOX_DATA");
      if (property != p_.properties.end()) {
         values.push_back(property->second);
      }
      for (const CustomActionRow &other : p_.customActions) {
         if (IsSetter(other) && other.source == "MSGBOX_DATA" && other.target.find('[') == std::string::npos) {
            values.push_back(other.target);
         }
      }
      for (const std::string &value : values) {
         const int error = std::atoi(value.c_str());
         if (error > 0) {
            CheckError(ca, error, "shows, by MSGBOX_DATA '" + value + "',");
         }
      }
   }

   // A deferred change the installation cannot take back by itself: a
   // rollback action that undoes it must be scheduled before it.
   void CheckRollback(const CustomActionRow &ca, const std::string &undoneBy)
   {
      for (const auto &[table, at] : Sequenced(ca.action)) {
         bool undone = false;
         for (const CustomActionRow &other : p_.customActions) {
            if ((other.type & kRollback) != 0 && CallsDll(other) && other.target == undoneBy) {
               const std::map<std::string, int> rollbackAt = Sequenced(other.action);
               const auto rb = rollbackAt.find(table);
               undone = undone || (rb != rollbackAt.end() && rb->second < at);
            }
         }
         if (!undone) {
            Add(Level::Warning, "no-rollback", ca,
                "no rollback action calling " + undoneBy + " is sequenced before it in " + table +
                   ": a failed installation leaves its change behind");
         }
      }
   }

   const Package &p_;
   std::set<std::string> library_;
   std::vector<Finding> findings_;
};

}  // namespace

std::vector<Finding> Check(const Package &package)
{
   return Checker(package).Run();
}

std::string Format(const Finding &f)
{
   std::string level = f.level == Level::Error ? "error" : "warning";
   level.resize(std::max<size_t>(level.size() + 1, 8), ' ');
   std::string check = f.check;
   check.resize(std::max<size_t>(check.size() + 1, 16), ' ');
   return level + check + f.table + "[" + f.row + "]: " + f.message;
}

}  // namespace pkgcheck
