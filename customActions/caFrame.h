// The frame every exported custom action shares: a log session under the
// build tag for the length of the call, and no C++ exception ever crossing
// back into the installer.
#pragma once

#include <windows.h>
#include <msi.h>

#include <exception>
#include <new>

#include "common/log.h"
#include "lib/misc/panic.h"

#define OV_CA_STRINGIFY2(x) #x
#define OV_CA_STRINGIFY(x) OV_CA_STRINGIFY2(x)

// The tag on every line a custom action writes.
#define OV_CA_BUILD_TAG "setupKit-build-" OV_CA_STRINGIFY(OV_BUILD_NUMBER)

// Exports: one installer handle in, a Win32 code out, undecorated names
// from ovinstutil.def.
#define OV_CUSTOM_ACTION extern "C" UINT __stdcall

class CaLogSession {
public:
   CaLogSession() { Inst_SetupCALogging(OV_CA_BUILD_TAG); }
   ~CaLogSession() { Inst_EndLogging(); }
   CaLogSession(const CaLogSession &) = delete;
   CaLogSession &operator=(const CaLogSession &) = delete;
};

// Runs the body of a custom action inside its log session. An allocation
// failure ends the process as the base library's own allocation failures
// do; any other exception is logged under the action's name and becomes the
// action's failure result (1603, or 0 for the actions that always succeed),
// so that nothing thrown ever reaches the installer.
template <typename Body>
UINT CaFrame(const char *action, UINT failureResult, Body body)
{
   CaLogSession session;
   try {
      return body();
   } catch (const std::bad_alloc &) {
      Util_Panic("Unrecoverable memory allocation failure\n");
   } catch (const std::exception &e) {
      Inst_Log(INST_LOG_ERROR, "%s: Unexpected exception: %s", action, e.what());
   } catch (...) {
      Inst_Log(INST_LOG_ERROR, "%s: Unexpected exception of unknown type", action);
   }
   return failureResult;
}
