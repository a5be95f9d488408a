// The text the process, registration and stop-services actions take apart
// or put together, free of Windows so that it is tested and fuzzed
// natively as well.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/msiUtilText.h"

// An executable path with every leading and every trailing double quote
// taken off: "x", ""x"" and x all give x.
std::string ProcessText_Unquote(const std::string &executable);

// The command line of a launch: the unquoted executable in one pair of
// quotes, a blank and the arguments; the arguments alone when there is no
// executable (their first word then names the program).
std::string ProcessText_CommandLine(const std::string &unquotedExecutable,
                                    const std::string &arguments);

// The (folder, file name) pairs of the registration actions'
// CustomActionData, "folder;file;folder;file...", in order. The walk stops
// at the first pair with an empty folder or file name, so an odd token at
// the end and everything after an empty field are left out.
std::vector<std::pair<std::string, std::string>>
ProcessText_ServerList(const std::string &customActionData);

// The stop-services list "count;name1;name2;...". The count is read like
// a C integer (blanks, a sign, the digits up to the first other
// character). At most count names are taken, fewer when the text ends
// first; a trailing ";" ends the list, and so does an empty rest after the
// count. Names are not trimmed.
enum class ServiceListCheck {
   Ok,
   NoSeparator,   // no ";" at all
   ZeroCount,     // the count reads as 0
   BadCount,      // a negative count: no list can be sized for it
};

struct ServiceList {
   ServiceListCheck check = ServiceListCheck::NoSeparator;
   std::vector<WideString> names;
};

ServiceList ProcessText_ServiceList(const WideString &value);
