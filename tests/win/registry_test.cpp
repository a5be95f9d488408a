// The registry library against Wine's registry, each test under a scratch
// key of its own. Wine honours a deny-all DACL for opens (not for
// RegDeleteKey itself), and refuses a non-volatile child under a volatile
// key (ERROR_CHILD_MUST_BE_VOLATILE): the tests use both as probes.
#include "common/registry.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <cwchar>

#include "tests/win/expectLines.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;
using namespace std::string_literals;
using Strings = std::vector<std::string>;
using WStrings = std::vector<std::wstring>;

namespace {

int gCount = 0;

// The error suffix of a line, up to the system's text.
std::string Code(DWORD code)
{
   return "| winerror code " + Str(code) + " (*";
}

// Removes a tree even where a deny-all DACL refuses the opens: Wine still
// lets RegDeleteKey remove such a key once it has no children.
bool RemoveTree(HKEY parent, const std::wstring &name)
{
   HKEY key;
   if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | DELETE, &key) == ERROR_SUCCESS) {
      wchar_t child[256];
      for (DWORD n = 256; RegEnumKeyExW(key, 0, child, &n, 0, 0, 0, 0) == ERROR_SUCCESS; n = 256) {
         if (!RemoveTree(key, child)) {
            break;
         }
      }
      RegCloseKey(key);
   }
   return RegDeleteKeyW(parent, name.c_str()) == ERROR_SUCCESS;
}

// HKCU (or HKLM)\Software\OvTest\registry-<pid>-<n>, removed on both ends.
struct Scratch {
   explicit Scratch(HKEY r = HKEY_CURRENT_USER) : root(r)
   {
      RemoveTree(root, Wide(path));
      RegCreateKeyExW(root, Wide(path).c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0);
   }
   ~Scratch()
   {
      RegCloseKey(key);
      RemoveTree(root, Wide(path));
      RegDeleteKeyW(root, L"Software\\OvTest");   // only when nothing else is left in it
   }
   std::string Sub(const std::string &name) const { return path + "\\" + name; }
   HKEY root, key = nullptr;
   std::string path = "Software\\OvTest\\registry-" + Str(GetCurrentProcessId()) + "-" + Str(++gCount);
};

// Creates `sub` under `key` and, given a type, stores the value there.
void Put(HKEY key, const std::wstring &sub, const wchar_t *name = nullptr, DWORD type = REG_NONE,
         const void *data = nullptr, DWORD size = 0)
{
   HKEY h;
   ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, sub.c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &h, 0));
   EXPECT_TRUE(type == REG_NONE || RegSetValueExW(h, name, 0, type, (const BYTE *)data, size) == 0);
   RegCloseKey(h);
}

bool Exists(HKEY root, const std::string &path, REGSAM view = 0)
{
   HKEY h;
   bool found = RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_READ | view, &h) == ERROR_SUCCESS;
   found && RegCloseKey(h);
   return found;
}

// Whether a key is volatile, seen from the one rule Wine enforces for it.
bool IsVolatile(HKEY root, const std::string &path)
{
   HKEY h;
   LONG rc = RegCreateKeyExW(root, Wide(path + "\\nv-probe").c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0,
                             &h, 0);
   if (rc == ERROR_SUCCESS) {
      RegCloseKey(h);
      RegDeleteKeyW(root, Wide(path + "\\nv-probe").c_str());
   }
   EXPECT_TRUE(rc == ERROR_SUCCESS || rc == ERROR_CHILD_MUST_BE_VOLATILE) << rc;
   return rc == ERROR_CHILD_MUST_BE_VOLATILE;
}

TEST(RegistryKeys, CreateExistEmptyAndDeleteValue)
{
   Scratch s;
   EXPECT_STREQ("", Util_RootKeyName(s.key)) << "no root key";
   LogCapture log;
   const std::string k = s.Sub("k"), bad = s.Sub("bad\xC3"), none = s.Sub("none");
   EXPECT_TRUE(Util_CreateKey(HKEY_CURRENT_USER, k.c_str(), 0, TRUE));
   EXPECT_TRUE(Util_IsKeyEmpty(HKEY_CURRENT_USER, k.c_str(), FALSE));
   Put(s.key, L"k", nullptr, REG_SZ, L"", 2);   // only the default value
   EXPECT_FALSE(Util_IsKeyEmpty(HKEY_CURRENT_USER, k.c_str(), FALSE));
   Put(s.key, L"p\\child");                        // only a subkey
   EXPECT_FALSE(Util_IsKeyEmpty(HKEY_CURRENT_USER, s.Sub("p").c_str(), FALSE));
   Put(s.key, L"k", L"v", REG_DWORD, "\1\0\0\0", 4);
   EXPECT_TRUE(Util_DeleteValue(HKEY_CURRENT_USER, k.c_str(), "v", TRUE));
   EXPECT_FALSE(Util_DeleteValue(HKEY_CURRENT_USER, k.c_str(), "v", TRUE));
   EXPECT_FALSE(Util_DeleteValue(HKEY_CURRENT_USER, none.c_str(), "v", FALSE));
   EXPECT_FALSE(Util_DoesKeyExist(HKEY_CURRENT_USER, none.c_str(), FALSE));
   EXPECT_FALSE(Util_IsKeyEmpty(HKEY_CURRENT_USER, none.c_str(), FALSE));
   // Invalid names, the not-UTF-8 one included, are failures, not crashes.
   for (const char *name : {(const char *)nullptr, bad.c_str()}) {
      SCOPED_TRACE(name == nullptr ? "null" : "not UTF-8");
      EXPECT_FALSE(Util_CreateKey(HKEY_CURRENT_USER, name, 0, FALSE));
      EXPECT_FALSE(Util_DoesKeyExist(HKEY_CURRENT_USER, name, FALSE));
      EXPECT_FALSE(Util_IsKeyEmpty(HKEY_CURRENT_USER, name, FALSE));
      EXPECT_FALSE(Util_DeleteValue(HKEY_CURRENT_USER, name, "v", FALSE));
   }
   EXPECT_FALSE(Util_DeleteValue(HKEY_CURRENT_USER, k.c_str(), "", FALSE));
   testutil::ExpectTranscript({"E1 Util_DeleteValue: Failed to delete value " + k + "\\v|*",
                "I1 Util_IsKeyEmpty: Failed to open key " + none,
                "E1 Util_CreateKey: Invalid keyName in Util_CreateKey",
                "E1 Util_DoesKeyExist: Invalid keyName", "E1 Util_IsKeyEmpty: Invalid keyName",
                "E1 Util_DeleteValue: Invalid keyName in DeleteValue",
                "I1 Util_IsKeyEmpty: Failed to open key " + bad,
                "E1 Util_DeleteValue: Invalid keyValue in DeleteValue"},
               log.Take());
   EXPECT_FALSE(IsVolatile(HKEY_CURRENT_USER, k));
}

TEST(RegistryDelete, TreesMissingKeysAndUndeletableSubkeys)
{
   Scratch s;
   const std::string warn = "W1 Util_DeleteKey: Deleting a key that isn't empty: ";
   {
      // Only non-empty keys are reported, subkeys after a lone backslash.
      SCOPED_TRACE("a tree, a missing key, a null name");
      for (const wchar_t *k : {L"t\\a\\x", L"t\\a\\y", L"t\\b"}) {
         Put(s.key, k);
      }
      Put(s.key, L"t\\c", L"v", REG_SZ, L"1", 4);
      LogCapture log;
      EXPECT_TRUE(Util_DeleteKey(HKEY_CURRENT_USER, s.Sub("t").c_str()));
      EXPECT_FALSE(Exists(HKEY_CURRENT_USER, s.Sub("t")));
      EXPECT_TRUE(Util_DeleteKey(HKEY_CURRENT_USER, s.Sub("none").c_str()));
      EXPECT_FALSE(Util_DeleteKey(HKEY_CURRENT_USER, nullptr));
      testutil::ExpectTranscript({warn + "\"HKEY_CURRENT_USER\\" + s.Sub("t") + "\"", warn + "\"\\a\"",
                   warn + "\"\\c\"", "I1 Util_IsKeyEmpty: Failed to open key " + s.Sub("none"),
                   warn + "\"HKEY_CURRENT_USER\\" + s.Sub("none") + "\"",
                   "E1 Util_IsKeyEmpty: Invalid keyName", warn + "\"HKEY_CURRENT_USER\\(null)\"",
                   "E1 Util_DeleteKey: Invalid keyName in DeleteKey"},
                  log.Take());
   }
   {
      // "inner" refuses every open, so "locked" keeps a child and cannot go;
      // neither can the top. The existence test cannot open "inner" either.
      SCOPED_TRACE("a subkey that cannot be deleted");
      for (const wchar_t *k : {L"u\\a\\x", L"u\\locked\\inner", L"u\\z"}) {
         Put(s.key, k);
      }
      HKEY inner;
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(s.key, L"u\\locked\\inner", 0, WRITE_DAC, &inner));
      PSECURITY_DESCRIPTOR sd = nullptr;
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", 1, &sd, 0));
      EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(inner, DACL_SECURITY_INFORMATION, sd));
      LocalFree(sd);
      RegCloseKey(inner);
      ASSERT_FALSE(Exists(s.root, s.Sub("u\\locked\\inner"))) << "Wine ignored the DACL";
      LogCapture log;
      EXPECT_TRUE(Util_DeleteKey(HKEY_CURRENT_USER, s.Sub("u").c_str()));
      EXPECT_FALSE(Exists(HKEY_CURRENT_USER, s.Sub("u\\a")) || Exists(HKEY_CURRENT_USER, s.Sub("u\\z")));
      EXPECT_TRUE(Exists(HKEY_CURRENT_USER, s.Sub("u\\locked")));
      testutil::ExpectTranscript({warn + "\"HKEY_CURRENT_USER\\" + s.Sub("u") + "\"", warn + "\"\\a\"",
                   warn + "\"\\locked\"", "I1 Util_IsKeyEmpty: Failed to open key inner",
                   warn + "\"\\inner\"", "E1 Util_DeleteKey: Failed to delete key locked|*",
                   "E1 Util_DeleteKey: Failed to delete key " + s.Sub("u") + "|*"},
                  log.Take());
   }
}

TEST(RegistryValues, VolatileKeysAndTheSixtyFourBitView)
{
   Scratch s;
   Put(s.key, L"old");
   for (DWORD options : {DWORD(REG_OPTION_VOLATILE), DWORD(0)}) {
      SCOPED_TRACE(options);
      const std::string set = s.Sub("set" + Str(options)), made = s.Sub("made" + Str(options));
      EXPECT_TRUE(Util_SetKeyValue(HKEY_CURRENT_USER, set.c_str(), "v", REG_SZ, "x", 2, options,
                                   FALSE));
      EXPECT_TRUE(Util_CreateKey(HKEY_CURRENT_USER, made.c_str(), options, FALSE));
      EXPECT_EQ(options != 0, IsVolatile(HKEY_CURRENT_USER, set));
      EXPECT_EQ(options != 0, IsVolatile(HKEY_CURRENT_USER, made));
   }
   EXPECT_TRUE(Util_SetKeyValue(HKEY_CURRENT_USER, s.Sub("old").c_str(), "v", REG_SZ, "x", 2,
                                REG_OPTION_VOLATILE, FALSE));
   EXPECT_FALSE(IsVolatile(HKEY_CURRENT_USER, s.Sub("old"))) << "an existing key stays";
   // A 64-bit process: the flag changes nothing and the 32-bit view stays bare.
   Scratch machine(HKEY_LOCAL_MACHINE);
   const std::string k = machine.Sub("view");
   EXPECT_TRUE(Util_SetKeyValue(HKEY_LOCAL_MACHINE, k.c_str(), "v", REG_SZ, "64", 3, 0, TRUE));
   EXPECT_TRUE(Util_DoesKeyExist(HKEY_LOCAL_MACHINE, k.c_str(), TRUE));
   EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, k, KEY_WOW64_64KEY));
   EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, k, KEY_WOW64_32KEY));
   std::string text;
   EXPECT_TRUE(Util_GetKeyValueString(HKEY_LOCAL_MACHINE, k.c_str(), "v", text, TRUE));
   EXPECT_EQ("64", text);
}

TEST(RegistryValues, NarrowReadsAndWriteFailures)
{
   Scratch s;
   const std::string k = s.Sub("k"), text = "t" + kMixed;
   ASSERT_TRUE(Util_SetKeyValue(HKEY_CURRENT_USER, k.c_str(), "text", REG_SZ, text.c_str(),
                                DWORD(text.size() + 1), 0, FALSE));
   ASSERT_TRUE(Util_SetKeyValue(HKEY_CURRENT_USER, k.c_str(), "dw", REG_DWORD, "AB\0C", 4, 0,
                                FALSE));
   const std::string head = "I2 Util_GetKeyValueString: (HKEY_CURRENT_USER\\" + k + "\\";
   const struct { const char *label, *key, *value; BOOL ok; std::string text; Strings lines; }
      cases[] = {
      {"text", k.c_str(), "text", TRUE, text, {head + "text) = \"" + text + "\""}},
      {"raw bytes to the first zero", k.c_str(), "dw", TRUE, "AB", {head + "dw) = \"AB\""}},
      {"missing value", k.c_str(), "none", FALSE, "",
       {"I1 Util_GetKeyValueString: Error reading registry value: " + k + Code(2)}},
      {"missing key", "Software\\OvTest\\none", "v", FALSE, "", {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      LogCapture log;
      std::string got = "stale";
      EXPECT_EQ(c.ok, Util_GetKeyValueString(HKEY_CURRENT_USER, c.key, c.value, got, FALSE));
      EXPECT_EQ(c.text, got);
      testutil::ExpectTranscript(c.lines, log.Take());
   }
   // The caller-buffer form: fits, too small, missing key, no size; then write failures.
   LogCapture log;
   char buf[16];
   DWORD size = sizeof buf;
   EXPECT_TRUE(Util_GetKeyValueString(HKEY_CURRENT_USER, k.c_str(), "text", buf, &size, FALSE));
   EXPECT_EQ(text, std::string(buf));
   size = 4;
   EXPECT_FALSE(Util_GetKeyValueString(HKEY_CURRENT_USER, k.c_str(), "text", buf, &size, FALSE));
   EXPECT_EQ(DWORD(4 * Wide(text).size() + 4), size);   // twice the UTF-16 bytes
   EXPECT_FALSE(Util_GetKeyValueString(HKEY_CURRENT_USER, "Software\\OvTest\\none", "v", buf,
                                       &size, FALSE));
   EXPECT_FALSE(Util_GetKeyValueString(HKEY_CURRENT_USER, k.c_str(), "text", buf, nullptr, FALSE));
   const std::string bad = s.Sub("bad\xC3"), query = "E1 Util_GetKeyValueString: Cannot "
                                               "query key value HKEY_CURRENT_USER\\" + k + "\\text";
   EXPECT_FALSE(Util_SetKeyValue(HKEY_CURRENT_USER, bad.c_str(), "v", REG_SZ, "x", 2, 0, FALSE));
   EXPECT_FALSE(Util_SetKeyValue(HKEY_CURRENT_USER, k.c_str(), "v", REG_SZ, "x\xC3", 3, 0, FALSE));
   EXPECT_FALSE(Util_SetKeyValueW(HKEY(0x1234), L"k", L"v", REG_SZ, L"x", 4, 0, FALSE));
   EXPECT_FALSE(Util_SetKeyValueW(HKEY_CURRENT_USER, Wide(k).c_str(), L"v", REG_SZ, nullptr, 4,
                                  0, FALSE));
   testutil::ExpectTranscript({head + "text) = \"" + text + "\"", query + Code(ERROR_MORE_DATA),
                "E1 Util_GetKeyValueString: Cannot open the registry "
                "HKEY_CURRENT_USER\\Software\\OvTest\\none: 2",
                query + Code(ERROR_INVALID_PARAMETER),
                "E1 Util_SetKeyValue: Failed to create key " + bad + Code(1113),
                "E1 Util_SetKeyValue: Failed to set value: HKEY_CURRENT_USER\\" + k + "\\v" +
                   Code(1113),
                "E1 Util_SetKeyValueW: Failed to create key k" + Code(ERROR_INVALID_HANDLE),
                "E1 Util_SetKeyValueW: Failed to set value: HKEY_CURRENT_USER\\" + k + "\\v" +
                   Code(ERROR_NOACCESS)},
               log.Take());
}

TEST(RegistryValues, WideReadsOfStringTypes)
{
   Scratch s;
   const std::wstring k = Wide(s.Sub("w")), two = L"a\0b\0\0"s, one = L"only\0\0"s;
   const char odd[] = "a\0\0\0b\0c";   // 7 bytes: the last unit has only its low byte
   // line: what each of the two reads logs when it fails.
   const struct { const char *label; DWORD type; const void *data; DWORD size; WStrings list;
                  std::wstring text; std::string line; } cases[] = {
      {"two strings", REG_MULTI_SZ, two.data(), 10, {L"a", L"b"}, L"", ""},
      {"one string", REG_MULTI_SZ, one.data(), 12, {L"only"}, L"only", ""},
      {"no string", REG_MULTI_SZ, L"", 2, {}, L"", ""},
      {"odd byte count, no final empty string", REG_MULTI_SZ, odd, 7, {L"a", L"bc"}, L"", ""},
      {"empty REG_SZ", REG_SZ, L"", 2, {L""}, L"", ""},
      {"REG_EXPAND_SZ is not expanded", REG_EXPAND_SZ, L"%TEMP%", 14, {L"%TEMP%"}, L"%TEMP%", ""},
      {"REG_DWORD", REG_DWORD, "\1\0\0\0", 4, {}, L"",
       "E1 Util_GetKeyValueStringW: Util_GetKeyValueString only supports "
       "REG_MULTI_SZ, REG_EXPAND_SZ and REG_SZ (type 4)"},
      {"missing value", REG_NONE, nullptr, 0, {}, L"", "I1 Util_GetKeyValueStringW: Cannot query "
       "key value HKEY_CURRENT_USER\\" + Utf8(k) + "\\v for size" + Code(2)},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      RegDeleteKeyValueW(HKEY_CURRENT_USER, k.c_str(), L"v");
      if (c.type != REG_NONE) {
         Put(HKEY_CURRENT_USER, k, L"v", c.type, c.data, c.size);
      }
      LogCapture log;
      WStrings list = {L"stale"};
      std::wstring text = L"stale";
      EXPECT_EQ(c.line.empty(), Util_GetKeyValueStringW(HKEY_CURRENT_USER, k, L"v", list, FALSE));
      EXPECT_EQ(c.list, list);
      EXPECT_EQ(c.line.empty(), Util_GetKeyValueStringW(HKEY_CURRENT_USER, k, L"v", text, FALSE));
      EXPECT_EQ(c.text, text);
      testutil::ExpectTranscript(c.line.empty() ? Strings{} : Strings{c.line, c.line}, log.Take());
   }
   std::wstring text = L"stale";
   EXPECT_FALSE(Util_GetKeyValueStringW(HKEY_CURRENT_USER, L"Software\\OvTest\\none", L"v", text,
                                        FALSE));
   EXPECT_EQ(L"", text);
}

// The reboot list owns HKLM\SOFTWARE\Orvane, Inc.\NeedReboot; a parent key
// that the code made goes with it.
struct RebootScratch {
   RebootScratch() { RemoveTree(HKEY_LOCAL_MACHINE, kKey); }
   ~RebootScratch()
   {
      RemoveTree(HKEY_LOCAL_MACHINE, kKey);
      hadParent || RegDeleteKeyW(HKEY_LOCAL_MACHINE, kParent);
   }
   // The stored list; type REG_NONE when there is none.
   static std::wstring List(DWORD *type)
   {
      wchar_t buf[256] = {};
      DWORD size = sizeof buf;
      *type = REG_NONE;
      RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"Components", RRF_RT_ANY, type, buf, &size);
      return std::wstring(buf, wcsnlen(buf, 256));
   }
   static constexpr const wchar_t *kParent = L"SOFTWARE\\Orvane, Inc.";
   static constexpr const wchar_t *kKey = L"SOFTWARE\\Orvane, Inc.\\NeedReboot";
   const bool hadParent = Exists(HKEY_LOCAL_MACHINE, Utf8(kParent));
};

TEST(RebootList, NarrowRequestsAppendEveryName)
{
   RebootScratch scratch;
   LogCapture log;
   EXPECT_FALSE(Util_SetReboot(nullptr));
   EXPECT_FALSE(Util_SetReboot(""));
   EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, Utf8(RebootScratch::kKey)));
   EXPECT_TRUE(Util_SetReboot("drv"));
   DWORD type;
   EXPECT_EQ(L"drv", scratch.List(&type));
   EXPECT_EQ(DWORD(REG_SZ), type);
   EXPECT_TRUE(IsVolatile(HKEY_LOCAL_MACHINE, Utf8(RebootScratch::kKey)));
   EXPECT_FALSE(IsVolatile(HKEY_LOCAL_MACHINE, Utf8(RebootScratch::kParent)));
   EXPECT_TRUE(Util_SetReboot("drv"));
   EXPECT_EQ(L"drv;drv", scratch.List(&type));
   testutil::ExpectTranscript({"E1 Util_SetReboot: Null parameter detected.",
                "E1 Util_SetReboot: Empty string detected", "W1 Util_SetReboot: Reboot needed by [drv]",
                "I1 Util_SetReboot:   List of components [drv]",
                "I1 Util_SetReboot: Reboot requested by drv",
                "W1 Util_SetReboot: Reboot needed by [drv]",
                "I2 Util_GetKeyValueString: (HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, "
                "Inc.\\NeedReboot\\Components) = \"drv\"",
                "I1 Util_SetReboot:   List of components [drv;drv]",
                "I1 Util_SetReboot: Reboot requested by drv"},
               log.Take());
}

TEST(RebootList, WideRequestsSkipListedNames)
{
   const struct { const char *label; std::wstring before; WStrings names; std::wstring after;
                  bool skipped; } cases[] = {
      {"a then b", L"", {L"a", L"b"}, L"a;b", false},
      {"a again: skipped, separator kept", L"a;b", {L"a"}, L"a;b;", true},
      {"b inside ab", L"ab", {L"b"}, L"ab;", true},
      {"a before ab's separator: added", L"ab", {L"a"}, L"ab;a", false},
      {"two-string REG_MULTI_SZ replaced", L"x\0y\0"s, {L"c"}, L"c", false},
      {"empty name", L"", {L""}, L"", false},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      RebootScratch scratch;
      if (!c.before.empty()) {
         DWORD type = c.before.find(L'\0') != std::wstring::npos ? REG_MULTI_SZ : REG_SZ;
         Put(HKEY_LOCAL_MACHINE, RebootScratch::kKey, L"Components", type, c.before.c_str(),
             DWORD(c.before.size() * 2 + 2));
      }
      LogCapture log;
      Strings lines;
      for (const std::wstring &name : c.names) {
         EXPECT_EQ(!name.empty(), Util_SetRebootW(name) != FALSE);
         if (name.empty()) {
            lines.push_back("E1 Util_SetRebootW: Util_SetReboot() null or empty component name "
                            "string detected");
            continue;
         }
         if (c.skipped) {
            lines.push_back("I1 Util_SetRebootW: Skipping reboot request as it is already being "
                            "registered");
         }
         lines.push_back("W1 Util_SetRebootW: Reboot requested by '" + Utf8(name) + "'");
      }
      testutil::ExpectTranscript(lines, log.Take());
      DWORD type;
      EXPECT_EQ(c.after, scratch.List(&type));
      EXPECT_EQ(DWORD(c.after.empty() ? REG_NONE : REG_SZ), type);
      EXPECT_TRUE(c.after.empty() || !c.before.empty() ||
                  IsVolatile(HKEY_LOCAL_MACHINE, Utf8(RebootScratch::kKey)));
   }
}

}  // namespace
