// Load-order group tags against the prefix's real registry: the list edits
// themselves are covered in tests/unit/loadOrderList_test; here their reading,
// writing and logging. The tests write the services' tags themselves (Wine
// assigns none). A fresh prefix has no GroupOrderList key, and none is left.
#include "common/service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/win32uTestUtil.h"

using win32utest::LogCapture;
using win32utest::Str;
using win32utest::Utf8;

namespace {

using Words = std::vector<uint32_t>;
using Lines = std::vector<std::string>;

const wchar_t kListPath[] = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList", kGroup[] = L"OvTestGroup";
const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\services\\";
const std::string kMissing = "<no value>", kNoKey = "<no key>";   // no list bytes begin with '<' here
const DWORD kNotFound = ERROR_FILE_NOT_FOUND, kInvalid = ERROR_INVALID_DATA;

std::string Bytes(const Words &words)
{
   return std::string(reinterpret_cast<const char *>(words.data()), words.size() * 4);
}

void SetList(const std::string &bytes, DWORD type = REG_BINARY)
{
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kListPath, kGroup);
   if (bytes == kNoKey) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, kListPath);
   } else if (bytes != kMissing) {
      EXPECT_EQ(0, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kListPath, kGroup, type, bytes.data(), DWORD(bytes.size())));
   }
}

// The stored bytes after their type ("3:" for REG_BINARY).
std::string Stored()
{
   char buf[256];
   DWORD size = sizeof buf, type = 0;
   const LONG rc = RegGetValueW(HKEY_LOCAL_MACHINE, kListPath, kGroup, RRF_RT_ANY, &type, buf, &size);
   return rc != ERROR_SUCCESS ? kMissing : std::to_string(type) + ":" + std::string(buf, size);
}

// One edit per row: 'S' removes the service's tag, 'I' inserts `tag` behind
// the service. Every line is a custom-action line (I0). after empty: the list
// stays as it was (stored as REG_NONE, so that any write shows).
TEST(LoadOrder, EditsAndTheirTranscripts)
{
   // Wine assigns no tags: the test writes them, tag 20 for ref and é.
   const std::wstring ref = L"OvTestSvc-ref", wide = L"OvTestSvc-\u00e9", none = L"OvTestSvc-missing",
                      untagged = L"OvTestSvc-untagged", shortTag = L"OvTestSvc-short";
   for (const std::wstring &service : {ref, wide}) {
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kServices + service).c_str(), L"Tag", REG_DWORD, "\x14\0\0\0", 4);
   }
   RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kServices + untagged).c_str(), L"Type", REG_DWORD, "\1\0\0\0", 4);
   RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kServices + shortTag).c_str(), L"Tag", REG_BINARY, "\x14\0", 2);
   // Narrow names are in the active code page; é is in every Western one.
   char svc[32] = "";
   WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, svc, sizeof svc, nullptr, nullptr);
   auto path = [](const std::wstring &service, DWORD rc) { return Utf8(kServices + service) + " (" + Str(rc) + ")"; };
   auto notListed = [](int tag) {
      return "I0 INFO: Tag " + Str(tag) + " not found in GroupOrderList OvTestGroup, skipping list update";
   };
   auto failed = [](const std::string &first, DWORD rc) {
      return Lines{first, "I0 ERROR: Read of load order group failed (" + Str(rc) + ")",
                   "I0 ERROR: RemoveServiceFromLoadOrderByTag failed with (" + Str(rc) + ")."};
   };
   const std::string key = "I0 ERROR: Can't open service key ", noTag = "I0 ERROR: No Tag value for ",
                     tagValue = "I0 ERROR: Can't open Tag value for service key ",
                     count = "I0 ERROR: The GroupOrderList's first field is malformed, was 3 expected 2 based on "
                             "length 12";
   const struct { const char *label; char op; std::wstring service; uint32_t tag; std::string before; DWORD result;
                  Words after; Lines lines; } cases[] = {
      {"insert a listed tag: moved", 'I', ref, 10, Bytes({3, 10, 20, 30}), 0, {3, 20, 10, 30}, {}},
      {"reference unlisted: at the end", 'I', ref, 5, Bytes({2, 10, 30}), 0, {3, 10, 30, 5}, {notListed(5)}},
      {"into an empty list of 4 bytes", 'I', ref, 5, Bytes({0}), 0, {1, 5}, {notListed(5)}},
      {"remove the first of two", 'S', wide, 0, Bytes({4, 10, 20, 30, 20}), 0, {3, 10, 30, 20}, {}},
      {"remove an unlisted tag", 'S', wide, 0, Bytes({2, 10, 30}), 0, {}, {notListed(20)}},
      {"count too high", 'I', ref, 5, Bytes({3, 10, 20}), kInvalid, {}, failed(count, kInvalid)},
      {"6 bytes", 'I', ref, 5, Bytes({1, 20}).substr(0, 6), kInvalid, {},
       failed("I0 ERROR: The GroupOrderList appears to have a malformed length: 6", kInvalid)},
      {"no list", 'I', ref, 5, kMissing, kNotFound, {},
       failed("I0 ERROR: Can't open GroupOrderList OvTestGroup (2)", kNotFound)},
      {"no service key", 'S', none, 0, Bytes({2, 10, 20}), kNotFound, {}, {key + path(none, kNotFound)}},
      {"no Tag value", 'S', untagged, 0, Bytes({2, 10, 20}), kNotFound, {}, {tagValue + path(untagged, kNotFound)}},
      {"reference without Tag", 'I', untagged, 5, Bytes({2, 10, 20}), kNotFound, {},
       {notListed(5), noTag + path(untagged, kNotFound)}},
      {"Tag of 2 bytes", 'S', shortTag, 0, Bytes({2, 10, 20}), kInvalid, {}, {tagValue + path(shortTag, kInvalid)}},
      {"no GroupOrderList key", 'I', ref, 5, kNoKey, kNotFound, {},
       {"I0 ERROR: Can't open GroupOrderList (2)", "I0 ERROR: RemoveServiceFromLoadOrderByTag failed with (2)."}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetList(c.before, c.after.empty() ? REG_NONE : REG_BINARY);
      LogCapture log;
      const std::string name = c.service == wide ? svc : Utf8(c.service);
      EXPECT_EQ(c.result, c.op == 'S' ? RemoveServiceFromLoadOrder(kGroup, name.c_str())
                                      : InsertServiceInLoadOrder(kGroup, c.service.c_str(), c.tag));
      EXPECT_EQ(!c.after.empty() ? "3:" + Bytes(c.after) : c.before[0] == '<' ? kMissing : "0:" + c.before, Stored());
      EXPECT_EQ(c.lines, log.Take());
   }
   // The removal that makes room for a move is written before the reference
   // is read, and stays when that read fails.
   SetList(Bytes({2, 10, 20}));
   EXPECT_EQ(kNotFound, InsertServiceInLoadOrder(kGroup, none.c_str(), 10));
   EXPECT_EQ("3:" + Bytes({1, 20}), Stored());
   SetList(kNoKey);
   for (const std::wstring &service : {ref, wide, untagged, shortTag}) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kServices + service).c_str());
   }
   Words got = {7};
   EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), ReadGroupOrderList(nullptr, nullptr, 0, got));
   EXPECT_TRUE(got.empty()) << "a refused read leaves no words";
}

}  // namespace
