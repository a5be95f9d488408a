// The registry library and the reboot-request list against Wine's registry.
// Wine honours a deny-all DACL for opens (not for RegDeleteKey itself), and
// refuses a non-volatile child under a volatile key (ERROR_CHILD_MUST_BE_VOLATILE):
// the tests use both as probes.
#include "common/registry.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <cwchar>

#include "tests/win/expectLines.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;
using namespace std::string_literals;
using testutil::ExpectTranscript;

namespace {

const HKEY kUser = HKEY_CURRENT_USER, kMachine = HKEY_LOCAL_MACHINE;

// The error suffix of a line, up to the system's text.
std::string Code(DWORD code)
{
   return "| winerror code " + Str(code) + " (*";
}

bool Exists(HKEY root, const std::wstring &path)
{
   HKEY h;
   const bool found = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS;
   found && RegCloseKey(h);
   return found;
}

// Whether an existing key is volatile, seen from the one rule Wine enforces for it.
bool IsVolatile(HKEY root, const std::string &path)
{
   HKEY h;
   const std::wstring probe = Wide(path + "\\nv-probe");
   const LONG rc = RegCreateKeyExW(root, probe.c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &h, 0);
   rc == ERROR_SUCCESS && RegCloseKey(h) == ERROR_SUCCESS && RegDeleteKeyW(root, probe.c_str());
   return rc == ERROR_CHILD_MUST_BE_VOLATILE;
}

TEST(Registry, KeysValuesAndTheirLines)
{
   ScratchKey s;
   const std::string k = s.Sub("k" + kMixed), bad = s.Sub("bad\xC3"), none = s.Sub("none"), text = "t" + kMixed;
   LogCapture log;
   EXPECT_TRUE(Util_CreateKey(kUser, k.c_str(), 0, TRUE));
   EXPECT_TRUE(Util_IsKeyEmpty(kUser, k.c_str(), FALSE));
   s.Put(Wide("k" + kMixed), L"", REG_SZ, "\0\0"s);   // only the default value
   EXPECT_FALSE(Util_IsKeyEmpty(kUser, k.c_str(), FALSE));
   EXPECT_TRUE(Util_SetKeyValue(kUser, k.c_str(), "v", REG_DWORD, "AB\0C", 4, REG_OPTION_VOLATILE, FALSE));
   EXPECT_TRUE(Util_SetKeyValue(kUser, k.c_str(), "text", REG_SZ, text.c_str(), DWORD(text.size() + 1), 0, FALSE));
   std::string got;
   EXPECT_TRUE(Util_GetKeyValueString(kUser, k.c_str(), "text", got, FALSE));
   EXPECT_EQ(text, got);
   EXPECT_TRUE(Util_GetKeyValueString(kUser, k.c_str(), "v", got, FALSE));
   EXPECT_EQ("AB", got);   // raw bytes up to the first zero
   EXPECT_TRUE(Util_DeleteValue(kUser, k.c_str(), "v", TRUE));
   EXPECT_FALSE(Util_DeleteValue(kUser, k.c_str(), "v", TRUE));
   EXPECT_FALSE(Util_GetKeyValueString(kUser, k.c_str(), "v", got, FALSE));
   EXPECT_EQ("", got);
   EXPECT_FALSE(Util_GetKeyValueString(kUser, none.c_str(), "v", got, FALSE));   // no line of its own
   // The caller-buffer form: fits, too small, missing key, no size.
   char buf[16];
   DWORD size = sizeof buf;
   EXPECT_TRUE(Util_GetKeyValueString(kUser, k.c_str(), "text", buf, &size, FALSE));
   EXPECT_EQ(text, std::string(buf));
   size = 4;
   EXPECT_FALSE(Util_GetKeyValueString(kUser, k.c_str(), "text", buf, &size, FALSE));
   EXPECT_EQ(DWORD(4 * Wide(text).size() + 4), size);   // twice the UTF-16 bytes
   EXPECT_FALSE(Util_GetKeyValueString(kUser, none.c_str(), "v", buf, &size, FALSE));
   EXPECT_FALSE(Util_GetKeyValueString(kUser, k.c_str(), "text", buf, nullptr, FALSE));
   EXPECT_FALSE(Util_DeleteValue(kUser, none.c_str(), "v", FALSE));
   EXPECT_FALSE(Util_DoesKeyExist(kUser, none.c_str(), FALSE));
   EXPECT_FALSE(Util_IsKeyEmpty(kUser, none.c_str(), FALSE));
   // Invalid names, the not-UTF-8 one included, are failures, not crashes.
   for (const char *name : {(const char *)nullptr, bad.c_str()}) {
      EXPECT_FALSE(Util_CreateKey(kUser, name, 0, FALSE));
      EXPECT_FALSE(Util_DoesKeyExist(kUser, name, FALSE));
      EXPECT_FALSE(Util_IsKeyEmpty(kUser, name, FALSE));
      EXPECT_FALSE(Util_DeleteValue(kUser, name, "v", FALSE));
   }
   EXPECT_FALSE(Util_DeleteValue(kUser, k.c_str(), "", FALSE));
   EXPECT_FALSE(Util_SetKeyValue(kUser, bad.c_str(), "v", REG_SZ, "x", 2, 0, FALSE));
   EXPECT_FALSE(Util_SetKeyValue(kUser, k.c_str(), "v", REG_SZ, "x\xC3", 3, 0, FALSE));
   EXPECT_FALSE(Util_SetKeyValueW(HKEY(0x1234), L"k", L"v", REG_SZ, L"x", 4, 0, FALSE));
   EXPECT_FALSE(Util_SetKeyValueW(kUser, Wide(k).c_str(), L"v", REG_SZ, nullptr, 4, 0, FALSE));
   const std::string head = "I2 Util_GetKeyValueString: (HKEY_CURRENT_USER\\" + k + "\\",
                     query = "E1 Util_GetKeyValueString: Cannot query key value HKEY_CURRENT_USER\\" + k + "\\text";
   ExpectTranscript({head + "text) = \"" + text + "\"", head + "v) = \"AB\"",
                     "E1 Util_DeleteValue: Failed to delete value " + k + "\\v|*",
                     "I1 Util_GetKeyValueString: Error reading registry value: " + k + Code(2),
                     head + "text) = \"" + text + "\"", query + Code(ERROR_MORE_DATA),
                     "E1 Util_GetKeyValueString: Cannot open the registry HKEY_CURRENT_USER\\" + none + ": 2",
                     query + Code(ERROR_INVALID_PARAMETER), "I1 Util_IsKeyEmpty: Failed to open key " + none,
                     "E1 Util_CreateKey: Invalid keyName in Util_CreateKey", "E1 Util_DoesKeyExist: Invalid keyName",
                     "E1 Util_IsKeyEmpty: Invalid keyName", "E1 Util_DeleteValue: Invalid keyName in DeleteValue",
                     "I1 Util_IsKeyEmpty: Failed to open key " + bad,
                     "E1 Util_DeleteValue: Invalid keyValue in DeleteValue",
                     "E1 Util_SetKeyValue: Failed to create key " + bad + Code(1113),
                     "E1 Util_SetKeyValue: Failed to set value: HKEY_CURRENT_USER\\" + k + "\\v" + Code(1113),
                     "E1 Util_SetKeyValueW: Failed to create key k" + Code(ERROR_INVALID_HANDLE),
                     "E1 Util_SetKeyValueW: Failed to set value: HKEY_CURRENT_USER\\" + k + "\\v" + Code(998)},
                    log.Take());
   // Volatile only when the key is new and asked to be.
   EXPECT_TRUE(Util_SetKeyValue(kUser, s.Sub("set").c_str(), "v", REG_SZ, "x", 2, REG_OPTION_VOLATILE, FALSE));
   EXPECT_TRUE(Util_CreateKey(kUser, s.Sub("made").c_str(), REG_OPTION_VOLATILE, FALSE));
   EXPECT_TRUE(Util_SetKeyValue(kUser, s.Sub("plain").c_str(), "v", REG_SZ, "x", 2, 0, TRUE));
   EXPECT_EQ("0110", Str(IsVolatile(kUser, k)) + Str(IsVolatile(kUser, s.Sub("set"))) +
                        Str(IsVolatile(kUser, s.Sub("made"))) + Str(IsVolatile(kUser, s.Sub("plain"))));
}

TEST(RegistryDelete, TreesWithAnUndeletableSubkeyMissingKeysAndNoName)
{
   // "inner" refuses every open, so "locked" keeps a child and cannot go;
   // neither can the top. The existence test cannot open "inner" either.
   ScratchKey s;
   for (const wchar_t *k : {L"t\\a\u00e9\\x", L"t\\a\u00e9\\y", L"t\\b", L"t\\locked\\inner", L"t\\z"}) {
      s.Put(k);
   }
   s.Put(L"t\\c", L"v", REG_SZ, Bytes(L"1"s));
   HKEY inner;
   ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(s.key, L"t\\locked\\inner", 0, WRITE_DAC, &inner));
   PSECURITY_DESCRIPTOR sd = nullptr;
   ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", 1, &sd, 0));
   EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(inner, DACL_SECURITY_INFORMATION, sd));
   LocalFree(sd);
   RegCloseKey(inner);
   ASSERT_FALSE(Exists(s.key, L"t\\locked\\inner")) << "Wine ignored the DACL";
   LogCapture log;
   EXPECT_TRUE(Util_DeleteKey(kUser, s.Sub("t").c_str()));
   EXPECT_FALSE(Exists(s.key, L"t\\a\u00e9") || Exists(s.key, L"t\\b") || Exists(s.key, L"t\\c") ||
                Exists(s.key, L"t\\z"));
   EXPECT_TRUE(Exists(s.key, L"t\\locked"));
   RegDeleteKeyW(s.key, L"t\\locked\\inner");
   EXPECT_TRUE(Util_DeleteKey(kUser, s.Sub("none").c_str()));
   EXPECT_FALSE(Util_DeleteKey(kUser, nullptr));
   // Only non-empty keys are reported, subkeys after a lone backslash.
   const std::string warn = "W1 Util_DeleteKey: Deleting a key that isn't empty: ";
   ExpectTranscript({warn + "\"HKEY_CURRENT_USER\\" + s.Sub("t") + "\"", warn + "\"\\a" + kE + "\"", warn + "\"\\c\"",
                     warn + "\"\\locked\"", "I1 Util_IsKeyEmpty: Failed to open key inner", warn + "\"\\inner\"",
                     "E1 Util_DeleteKey: Failed to delete key locked|*",
                     "E1 Util_DeleteKey: Failed to delete key " + s.Sub("t") + "|*",
                     "I1 Util_IsKeyEmpty: Failed to open key " + s.Sub("none"),
                     warn + "\"HKEY_CURRENT_USER\\" + s.Sub("none") + "\"", "E1 Util_IsKeyEmpty: Invalid keyName",
                     warn + "\"HKEY_CURRENT_USER\\(null)\"", "E1 Util_DeleteKey: Invalid keyName in DeleteKey"},
                    log.Take());
}

// The list is HKLM\SOFTWARE\Orvane, Inc.\NeedReboot, Components; a parent
// key that the code made goes with it.
TEST(RebootList, NarrowRequestsAppendWideOnesSkipListedNames)
{
   const wchar_t *kParent = L"SOFTWARE\\Orvane, Inc.", *kKey = L"SOFTWARE\\Orvane, Inc.\\NeedReboot";
   const bool hadParent = Exists(kMachine, kParent);
   RegDeleteTreeW(kMachine, kKey);
   auto stored = [&] {
      wchar_t buf[256] = {};
      DWORD size = sizeof buf, type = REG_NONE;
      RegGetValueW(kMachine, kKey, L"Components", RRF_RT_ANY, &type, buf, &size);
      return Str(type) + " " + Utf8(std::wstring(buf, wcsnlen(buf, 256)));
   };
   LogCapture log;
   EXPECT_FALSE(Util_SetReboot(nullptr));
   EXPECT_FALSE(Util_SetReboot(""));
   EXPECT_FALSE(Util_SetRebootW(L""));
   EXPECT_FALSE(Exists(kMachine, kKey));
   EXPECT_TRUE(Util_SetReboot("drv"));
   EXPECT_EQ("1 drv", stored());
   EXPECT_TRUE(IsVolatile(kMachine, Utf8(kKey)) && !IsVolatile(kMachine, Utf8(kParent)));
   EXPECT_TRUE(Util_SetReboot("drv"));
   // "dr;" is not in "drv;drv;"; then "rv;" is, inside "drv;", and "dr;" now too: both are skipped,
   // each leaving the separator it added.
   for (const wchar_t *name : {L"dr", L"rv", L"dr"}) {
      EXPECT_TRUE(Util_SetRebootW(name));
   }
   EXPECT_EQ("1 drv;drv;dr;;", stored());
   // The wide read takes a REG_MULTI_SZ of one string as the list, reads one of two strings, of
   // another type or a missing value as none; the new list replaces it as REG_SZ.
   const struct { DWORD type; std::wstring before; std::string after; } lists[] = {
      {REG_MULTI_SZ, L"m\0\0"s, "1 m;c"}, {REG_MULTI_SZ, L"x\0y\0\0"s, "1 c"},
      {REG_EXPAND_SZ, L"%x%\0"s, "1 %x%;c"}, {REG_DWORD, L"\1"s, "1 c"}, {REG_NONE, L"", "1 c"}};
   for (const auto &c : lists) {
      c.type == REG_NONE ? RegDeleteKeyValueW(kMachine, kKey, L"Components")
                         : RegSetKeyValueW(kMachine, kKey, L"Components", c.type, c.before.data(), 2 * c.before.size());
      EXPECT_TRUE(Util_SetRebootW(L"c"));
      EXPECT_EQ(c.after, stored());
   }
   const std::string request = "W1 Util_SetRebootW: Reboot requested by '",
                     skip = "I1 Util_SetRebootW: Skipping reboot request as it is already being registered",
                     list = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, Inc.\\NeedReboot\\Components", c = request + "c'";
   ExpectTranscript({"E1 Util_SetReboot: Null parameter detected.", "E1 Util_SetReboot: Empty string detected",
                     "E1 Util_SetRebootW: Util_SetReboot() null or empty component name string detected",
                     "W1 Util_SetReboot: Reboot needed by [drv]", "I1 Util_SetReboot:   List of components [drv]",
                     "I1 Util_SetReboot: Reboot requested by drv", "W1 Util_SetReboot: Reboot needed by [drv]",
                     "I2 Util_GetKeyValueString: (" + list + ") = \"drv\"",
                     "I1 Util_SetReboot:   List of components [drv;drv]", "I1 Util_SetReboot: Reboot requested by drv",
                     request + "dr'", skip, request + "rv'", skip, request + "dr'", c, c, c,
                     "E1 Util_GetKeyValueStringW: Util_GetKeyValueString only supports REG_MULTI_SZ, REG_EXPAND_SZ and "
                     "REG_SZ (type 4)", c,
                     "I1 Util_GetKeyValueStringW: Cannot query key value " + list + " for size" + Code(2), c},
                    log.Take());
   RegDeleteTreeW(kMachine, kKey);
   hadParent || RegDeleteKeyW(kMachine, kParent);
}

}  // namespace
