// The custom action that lets a package installed from inside another one
// stand as a product of its own once the parent has finished.
#include "common/msiUtil.h"
#include "customActions/caFrame.h"

namespace {

UINT DecoupleChildInstaller(MSIHANDLE install)
{
   Inst_LogCA("Unparenting Nested Install");
   const ResString productCode = MsiUtil_GetPropertyString(install, "ProductCode");
   if (!MsiUtil_UnnestMsi(productCode.c_str())) {
      Inst_LogCA("Error unnesting this installer.");
      return ERROR_INSTALL_FAILURE;
   }
   return ERROR_SUCCESS;
}

} // namespace

OV_CUSTOM_ACTION OVDecoupleChildInstaller(MSIHANDLE install)
{
   return CaFrame("OVDecoupleChildInstaller", ERROR_INSTALL_FAILURE,
                  [&] { return DecoupleChildInstaller(install); });
}
