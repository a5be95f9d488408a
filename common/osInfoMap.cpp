// The classification of Windows versions and the release text. Lines that
// the mapping decides to log are returned, not written, so that the tests
// see them and this file stays free of the Windows log.
#include "common/osInfoMap.h"

#include <cstdarg>

#include "common/log.h"
#include "lib/string/str.h"

namespace {

OsInfoLogLine Line(uint32_t level, const char *format, ...)
{
   // The longest message with three ten-digit numbers is under 100 bytes.
   char buf[160];
   va_list ap;
   va_start(ap, format);
   int n = Text_Vsnprintf(buf, sizeof buf, format, ap);
   va_end(ap);
   return {level, n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n))};
}

OsTypeMapping UnknownNt(const OsVersionData &d)
{
   // DWORD values go through %i as the original int arguments did.
   return {OS_UNKNOWN,
           {Line(INST_LOG_INFO, "Util_GetOSType: NT OS Type is unknown: Major: %i Minor: %i",
                 static_cast<int>(d.major), static_cast<int>(d.minor))}};
}

// The GetProductInfo edition; "CORE:" follows for the core installations.
void AppendProductEdition(uint32_t productInfoType, std::string *out)
{
   const char *edition = nullptr;
   bool core = false;
   switch (productInfoType) {
   case 1: edition = "ULTIMATE EDITION:"; break;
   case 2: edition = "HOME BASIC EDITION:"; break;
   case 3: edition = "HOME PREMIUM EDITION:"; break;
   case 4:
   case 10: edition = "ENTERPRISE EDITION:"; break;
   case 6: edition = "BUSINESS EDITION:"; break;
   case 7: edition = "STANDARD EDITION:"; break;
   case 8: edition = "DATACENTER EDITION:"; break;
   case 9: edition = "SMALL BUSINESS SERVER:"; break;
   case 11: edition = "STARTER EDITION:"; break;
   case 12: edition = "DATACENTER EDITION (CORE INSTALLATION):"; core = true; break;
   case 13: edition = "STANDARD EDITION (CORE INSTALLATION):"; core = true; break;
   case 14: edition = "ENTERPRISE EDITION (CORE INSTALLATION):"; core = true; break;
   case 15: edition = "ENTERPRISE EDITION FOR ITANIUM-BASED SYSTEMS:"; break;
   case 17: edition = "WEB SERVER EDITION:"; break;
   case 18: edition = "CLUSTER SERVER EDITION:"; break;
   case 25: edition = "SMALL BUSINESS SERVER PREMIUM EDITION:"; break;
   case 39: case 40: case 41: case 43: case 44: case 45: case 46: case 53: case 57: case 63:
      core = true;
      break;
   default: break;
   }
   if (edition != nullptr) {
      *out += edition;
   }
   if (core) {
      *out += "CORE:";
   }
}

void AppendNt6(const OsVersionData &d, OsVersionStringMapping *m)
{
   bool client = d.productType == OSINFO_PRODUCT_CLIENT;
   if (d.major == 6 && d.minor == 0) {
      m->text += client ? "VISTA:WINDOWS VISTA:" : "WIN2008:WINDOWS SERVER 2008:";
   } else if (d.major == 6 && d.minor == 1) {
      m->text += client ? "WIN7:WINDOWS 7:" : "WIN2008:WINDOWS SERVER 2008 R2:";
   } else {
      m->log.push_back(Line(INST_LOG_INFO, "Util_GetSystemVersionString: Unknown OS: %d.%d Type: %u",
                            static_cast<int>(d.major), static_cast<int>(d.minor),
                            static_cast<unsigned>(d.productType)));
   }
   if (d.hasProductInfo) {
      AppendProductEdition(d.productInfoType, &m->text);
   }
   if (d.processorArchitecture == OSINFO_ARCH_X64) {
      m->text += "BIT=64:";
   } else if (d.processorArchitecture == OSINFO_ARCH_X86) {
      m->text += "BIT=32:";
   }
}

const char *Server2003Edition(const OsVersionData &d)
{
   bool datacenter = (d.suiteMask & OSINFO_SUITE_DATACENTER) != 0;
   bool enterprise = (d.suiteMask & OSINFO_SUITE_ENTERPRISE) != 0;
   switch (d.processorArchitecture) {
   case OSINFO_ARCH_IA64:
      return datacenter ? "DATACENTER EDITION FOR ITANIUM-BASED SYSTEMS:"
             : enterprise ? "ENTERPRISE EDITION FOR ITANIUM-BASED SYSTEMS:"
                          : "";
   case OSINFO_ARCH_X64:
      return datacenter ? "DATACENTER X64 EDITION:"
             : enterprise ? "ENTERPRISE X64 EDITION:"
                          : "STANDARD X64 EDITION:";
   default:
      return (d.suiteMask & OSINFO_SUITE_COMPUTE_SERVER) != 0 ? "COMPUTE CLUSTER EDITION:"
             : datacenter ? "DATACENTER EDITION:"
             : enterprise ? "ENTERPRISE EDITION:"
                          : "STANDARD EDITION:";
   }
}

void AppendNt5(const OsVersionData &d, std::string *out)
{
   bool client = d.productType == OSINFO_PRODUCT_CLIENT;
   if (d.minor == 2) {
      if (d.serverR2) {
         *out += "WIN2003:WINDOWS SERVER 2003 R2:";
      } else if (d.suiteMask == OSINFO_SUITE_STORAGE_SERVER) {
         *out += "WIN2003:WINDOWS STORAGE SERVER 2003:";
      } else if (client && d.processorArchitecture == OSINFO_ARCH_X64) {
         *out += "XP:WINDOWS XP PROFESSIONAL X64 EDITION:";
      } else {
         *out += "WIN2003:WINDOWS SERVER 2003:";
      }
      if (!client) {
         *out += Server2003Edition(d);
      }
   } else if (d.minor == 1) {
      *out += (d.suiteMask & OSINFO_SUITE_PERSONAL) != 0 ? "XP:WINDOWS XP HOME EDITION:"
                                                         : "XP:WINDOWS XP PROFESSIONAL:";
   } else if (d.minor == 0) {
      *out += client ? "WIN2000:WINDOWS 2000 PROFESSIONAL:"
              : (d.suiteMask & OSINFO_SUITE_DATACENTER) != 0 ? "WIN2000:WINDOWS 2000 DATACENTER SERVER:"
              : (d.suiteMask & OSINFO_SUITE_ENTERPRISE) != 0 ? "WIN2000:WINDOWS 2000 ADVANCED SERVER:"
                                                             : "WIN2000:WINDOWS 2000 SERVER:";
   }
}

} // namespace

OsTypeMapping OsInfo_MapType(const OsVersionData &d)
{
   if (!d.versionRead) {
      return {OS_UNKNOWN, {}};
   }
   if (d.platformId == OSINFO_PLATFORM_9X) {
      if (d.major == 4) {
         switch (d.minor) {
         case 0: return {OS_WIN95, {}};
         case 10: return {OS_WIN98, {}};
         case 90: return {OS_WINME, {}};
         default: break;
         }
      }
      return {OS_UNKNOWN, {}};
   }
   if (d.platformId != OSINFO_PLATFORM_NT) {
      return {OS_UNKNOWN, {}};
   }
   if (d.major == 6) {
      if (d.minor == 0) {
         return {OS_VISTA, {}};
      }
      if (d.productType == OSINFO_PRODUCT_CLIENT) {
         return {OS_WIN7, {}};
      }
      if (d.minor == 1) {
         return {OS_VISTA, {}};
      }
      return UnknownNt(d);
   }
   if (d.major == 5) {
      return {d.minor == 0 ? OS_WIN2000 : d.minor == 1 ? OS_WINXP : OS_WIN2003, {}};
   }
   if (d.major <= 4) {
      return {OS_WINNT4, {}};
   }
   return UnknownNt(d);
}

OsVersionStringMapping OsInfo_MapVersionString(const OsVersionData &d)
{
   OsVersionStringMapping m;
   if (!d.versionRead || d.platformId != OSINFO_PLATFORM_NT || d.major <= 4) {
      return m;
   }
   m.text = ":";
   if (d.major >= 6) {
      AppendNt6(d, &m);
   } else {
      AppendNt5(d, &m.text);
   }
   char numbers[96];
   if (Text_Snprintf(numbers, sizeof numbers, "SPMAJ=%d:SPMIN=%d:BUILD=%d:",
                     static_cast<int>(d.spMajor), static_cast<int>(d.spMinor),
                     static_cast<int>(d.build)) > 0) {
      m.text += numbers;
   }
   if (m.text.size() <= 1) {
      m.text.clear();
   }
   return m;
}
