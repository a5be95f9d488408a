// What the package checker knows of a package: the rows of the tables it
// reads, already taken out of the database, so that the checks themselves
// run anywhere (and are tested natively on packages made up in memory).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace pkgcheck {

struct CustomActionRow {
   std::string action;
   int type = 0;
   std::string source, target;
};

struct SequenceRow {
   std::string action;
   int sequence = 0;
};

// A column as the installer describes it: its name and its type text
// ("s72", "I2", "L0", ...; upper case when it may be null).
struct Column {
   std::string name, type;
};

struct Package {
   std::vector<CustomActionRow> customActions;
   // Sequence tables by name (InstallExecuteSequence, InstallUISequence, ...).
   std::map<std::string, std::vector<SequenceRow>> sequences;
   // Every table of the package with its columns.
   std::map<std::string, std::vector<Column>> tables;
   std::set<int> errors;                           // the Error table's numbers
   std::map<std::string, std::string> properties;  // the Property table
   std::vector<int> warningMessages;               // OVDisplayWarnings, column 2
   // The names each Binary-table DLL exports, by Binary key; a DLL missing
   // here could not be read and is checked against the library's own list.
   std::map<std::string, std::set<std::string>> exports;
   // A DLL named on the command line: its names stand for those of every
   // Binary entry the package calls the library in.
   std::string dllName;
   std::set<std::string> dllExports;
};

enum class Level { Error, Warning };

struct Finding {
   Level level;
   std::string check;   // short name of the rule
   std::string table, row;
   std::string message;
};

// Every finding for the package, in the order of its custom actions.
std::vector<Finding> Check(const Package &package);

// "error    no-data-setter   CustomAction[InstallDriver]: message".
std::string Format(const Finding &finding);

}  // namespace pkgcheck
