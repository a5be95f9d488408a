// Child of the Windows-generations test: runs OVSetOVSysVer and
// OVDetectWin2003R2 in a real installer session under the Windows Wine
// reports to this program alone, and prints what they published, one
// "NAME=value" line each.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/osInfo.h"
#include "tests/msi/msiSession.h"

using namespace msitest;

static bool gFailed = false;

int main()
{
   auto sink = [](const std::string &what) {
      std::fprintf(stderr, "osVersionProbe: %s\n", what.c_str());
      gFailed = true;
   };
   SetFailureSink(sink);
   ProcessSetUp();
   {
      MsiSession session;
      LoadedDll dll;
      if (!session.Ok()) {
         sink("no session: " + session.Failure());
      }
      // Stale values show that both properties are written every time, the
      // empty ones included.
      session.Set("WIN2003R2", "stale");
      session.Set("OVSYSVER", "stale");
      LogMark mark;
      UINT sysVer = dll.Call("OVSetOVSysVer", session.Handle());
      UINT r2 = dll.Call("OVDetectWin2003R2", session.Handle());
      std::string lines;   // the custom actions' own
      for (const LogLine &line : mark.Lines()) {
         lines += line.level == "I0" ? line.text + "|" : "";
      }
      std::printf("VersionNT=%s\nVersionNT64=%s\nOSTYPE=%d\nOVSYSVER=%s\nWIN2003R2=%s\nLINES=%s\n"
                  "RESULTS=%u,%u\n", session.Get("VersionNT").c_str(), session.Get("VersionNT64").c_str(),
                  static_cast<int>(Util_GetOSType()), session.Get("OVSYSVER").c_str(),
                  session.Get("WIN2003R2").c_str(), lines.c_str(), sysVer, r2);
   }
   ProcessTearDown();
   return gFailed ? 1 : 0;
}
