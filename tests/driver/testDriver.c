/* A kernel driver that does nothing, for the kernel-driver tests: the
 * Service Control Manager loads it as a real driver. Built twice: with an
 * unload routine it can be stopped and removed; without one (OV_NO_UNLOAD)
 * it stays loaded after a stop and its deleted service stays marked for
 * deletion until the next restart. */
#include <ddk/wdm.h>

#ifndef OV_NO_UNLOAD
#define OV_NO_UNLOAD 0
#endif

static void NTAPI Unload(PDRIVER_OBJECT driver)
{
   (void)driver;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
   (void)registryPath;
   driver->DriverUnload = OV_NO_UNLOAD ? NULL : Unload;
   return STATUS_SUCCESS;
}
