// Child of the Windows-generations test: runs OVSetOVSysVer and
// OVDetectWin2003R2 in a real installer session and prints what they
// published, one "NAME=value" line each. The parent makes Wine report
// another Windows to this program alone (by its file name), so the session's
// own VersionNT and the library's version reads both see that Windows.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/osInfo.h"
#include "tests/msi/msiSession.h"

using namespace msitest;

namespace {

bool gFailed = false;

void StderrSink(const std::string &what)
{
   std::fprintf(stderr, "osVersionProbe: %s\n", what.c_str());
   gFailed = true;
}

}  // namespace

int main()
{
   SetFailureSink(StderrSink);
   ProcessSetUp();
   {
      MsiSession session;
      if (!session.Ok()) {
         StderrSink("no session: " + session.Failure());
      } else {
         LoadedDll dll;
         // A stale value shows the detection writes the property every time.
         session.Set("WIN2003R2", "stale");
         LogMark mark;
         UINT sysVer = dll.Call("OVSetOVSysVer", session.Handle());
         UINT r2 = dll.Call("OVDetectWin2003R2", session.Handle());
         std::string r2Lines;
         for (const LogLine &line : mark.Lines()) {
            if (line.level == "I0" && line.text.rfind("Win2003 R2 ", 0) == 0 &&
                line.text != "Win2003 R2 detection") {
               r2Lines += line.text;
            }
         }
         std::printf("OSTYPE=%d\n", static_cast<int>(Util_GetOSType()));
         std::printf("VersionNT=%s\n", session.Get("VersionNT").c_str());
         std::printf("VersionNT64=%s\n", session.Get("VersionNT64").c_str());
         std::printf("OVSYSVER=%s\n", session.Get("OVSYSVER").c_str());
         std::printf("WIN2003R2=%s\n", session.Get("WIN2003R2").c_str());
         std::printf("R2LINE=%s\n", r2Lines.c_str());
         std::printf("RESULTS=%u,%u\n", sysVer, r2);
      }
   }
   ProcessTearDown();
   std::fflush(stdout);
   return gFailed ? 1 : 0;
}
