// What each export of ovinstutil.dll asks of the package that calls it:
// when it may run, what its CustomActionData holds, which custom table it
// reads and which Error-table messages it posts.
#pragma once

#include <string>
#include <vector>

namespace pkgcheck {

enum class Phase {
   Immediate,   // reads tables, component states or writes properties
   Deferred,    // changes the machine: deferred, without impersonation
   Either,      // reads only what both phases offer
};

struct ActionContract {
   const char *name;
   Phase phase;
   // CustomActionData fields for a deferred action: the least and the most
   // a value may have (0 and 0 where the action reads none), and whether
   // they come in pairs.
   int minFields, maxFields;
   bool pairs;
   const char *table;          // the custom table it reads, or null
   std::vector<int> errors;    // Error-table messages it posts
   const char *undoneBy;       // the export that takes its change back, or null
};

// The contract of an export, or null for a name the library does not have.
const ActionContract *FindContract(const std::string &exportName);
const std::vector<ActionContract> &Contracts();

// The columns a custom table must have, by position, as type letters
// ('s' text, 'i' integer); further columns are the package's own.
const char *TableColumnTypes(const std::string &table);

}  // namespace pkgcheck
