// Load-order group tags against the prefix's real registry: the list edits
// themselves are covered in tests/unit/loadOrderList_test; here their reading,
// writing and logging. Each test owns a group value and service keys named
// with the process id; it writes their tags itself (Wine assigns none).
#include "common/service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/misc/ownedHandle.h"
#include "tests/win/win32uTestUtil.h"

using win32utest::LogCapture;
using win32utest::Utf8;

namespace {

using Words = std::vector<uint32_t>;
using Lines = std::vector<std::string>;

const wchar_t kListPath[] = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";
const std::wstring kServicesPath = L"SYSTEM\\CurrentControlSet\\services\\";
const std::wstring kPid = std::to_wstring(GetCurrentProcessId());
const std::string kMissing = "<no value>";
const DWORD kNotFound = ERROR_FILE_NOT_FOUND, kInvalid = ERROR_INVALID_DATA;

std::string Bytes(const Words &words)
{
   return std::string(reinterpret_cast<const char *>(words.data()), words.size() * 4);
}

class LoadOrder : public testing::Test {
protected:
   void SetUp() override
   {
      DWORD disposition = 0;
      ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kListPath, 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, list_.Out(), &disposition));
      createdListKey_ = disposition == REG_CREATED_NEW_KEY;
      RegDeleteValueW(list_.Get(), group_.c_str());
   }
   void TearDown() override
   {
      RegDeleteValueW(list_.Get(), group_.c_str());
      for (const std::wstring &path : services_) {
         RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
      }
      list_.Reset();
      createdListKey_ && RegDeleteKeyW(HKEY_LOCAL_MACHINE, kListPath);
   }

   // Lists that must not be written are stored as REG_NONE: the code writes
   // REG_BINARY, so even a write of the same bytes shows. kMissing: no value.
   void SetList(const std::string &bytes, DWORD type = REG_BINARY)
   {
      if (bytes == kMissing) {
         RegDeleteValueW(list_.Get(), group_.c_str());
         return;
      }
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(list_.Get(), group_.c_str(), 0, type,
                                              reinterpret_cast<const BYTE *>(bytes.data()),
                                              static_cast<DWORD>(bytes.size())));
   }
   // The stored bytes, prefixed with the type when it is not REG_BINARY.
   std::string Stored() const
   {
      char buf[256];
      DWORD size = sizeof buf, type = 0;
      LONG rc = RegQueryValueExW(list_.Get(), group_.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE *>(buf), &size);
      return rc != ERROR_SUCCESS ? kMissing
                                 : (type == REG_BINARY ? "" : "type " + std::to_string(type) + ":") +
                                      std::string(buf, size);
   }

   // A service key of this test with the given "Tag" bytes (none: no value).
   std::wstring AddService(const std::wstring &suffix, const std::string &tag = kMissing)
   {
      const std::wstring name = L"OvTestSvc-" + kPid + L"-" + suffix;
      services_.push_back(kServicesPath + name);
      RegKeyHandle key;
      EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, services_.back().c_str(), 0,
                                               nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(),
                                               nullptr));
      EXPECT_TRUE(tag == kMissing ||
                  RegSetValueExW(key.Get(), L"Tag", 0, tag.size() == 4 ? REG_DWORD : REG_BINARY,
                                 reinterpret_cast<const BYTE *>(tag.data()),
                                 static_cast<DWORD>(tag.size())) == ERROR_SUCCESS);
      return name;
   }

   const std::wstring group_ = L"OvTestGroup-" + kPid;
   const std::string notFound_ =
      " not found in GroupOrderList " + Utf8(group_) + ", skipping list update";
   RegKeyHandle list_;

private:
   bool createdListKey_ = false;
   std::vector<std::wstring> services_;
};

// One edit per row: 'T' removes tag 20, 'S' removes the service's tag, 'I'
// inserts `tag` behind the service. Every line is a custom-action line (I0).
// after empty: the list stays as it was (stored as REG_NONE, so that any
// write shows).
TEST_F(LoadOrder, EditsAndTheirTranscripts)
{
   // Narrow names are in the active code page; é is in every Western one.
   const std::wstring ref = AddService(L"ref", Bytes({20})), wide = AddService(L"svc\u00e9", Bytes({20}));
   char acp[64];
   int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, acp, sizeof acp, nullptr, nullptr);
   const std::string svc(acp, n > 0 ? n - 1 : 0);
   ASSERT_EQ(wide.size(), svc.size()) << "code page " << GetACP() << " has no single-byte é";
   const std::wstring none = L"OvTestSvc-" + kPid + L"-missing", untagged = AddService(L"untagged"),
                      shortTag = AddService(L"short", std::string("\x14\x00", 2));
   const std::string key = "I0 ERROR: Can't open service key ", noTag = "I0 ERROR: No Tag value for ",
                     tagValue = "I0 ERROR: Can't open Tag value for service key ";
   auto path = [](const std::wstring &service, DWORD rc) {
      return Utf8(kServicesPath + service) + " (" + std::to_string(rc) + ")";
   };
   auto notListed = [this](int tag) { return "I0 INFO: Tag " + std::to_string(tag) + notFound_; };
   const std::string count = "I0 ERROR: The GroupOrderList's first field is malformed, was 3 "
                             "expected 2 based on length 12",
                     length = "I0 ERROR: The GroupOrderList appears to have a malformed length: 6",
                     open = "I0 ERROR: Can't open GroupOrderList " + Utf8(group_) + " (2)";
   auto read = [](DWORD rc) { return "I0 ERROR: Read of load order group failed (" + std::to_string(rc) + ")"; };
   auto byTag = [](DWORD rc) {
      return "I0 ERROR: RemoveServiceFromLoadOrderByTag failed with (" + std::to_string(rc) + ").";
   };
   const std::string badCount = Bytes({3, 10, 20}), six = Bytes({1, 20}).substr(0, 6);
   const struct { const char *label; char op; std::wstring service; uint32_t tag; std::string before;
                  DWORD result; Words after; Lines lines; } cases[] = {
      {"insert a listed tag: moved", 'I', ref, 10, Bytes({3, 10, 20, 30}), 0, {3, 20, 10, 30}, {}},
      {"reference unlisted: at the end", 'I', ref, 5, Bytes({2, 10, 30}), 0, {3, 10, 30, 5}, {notListed(5)}},
      {"into an empty list of 4 bytes", 'I', ref, 5, Bytes({0}), 0, {1, 5}, {notListed(5)}},
      {"remove the first of two", 'S', wide, 0, Bytes({4, 10, 20, 30, 20}), 0, {3, 10, 30, 20}, {}},
      {"remove an unlisted tag", 'S', wide, 0, Bytes({2, 10, 30}), 0, {}, {notListed(20)}},
      {"count too high", 'T', L"", 0, badCount, kInvalid, {}, {count, read(kInvalid)}},
      {"count too high, insert", 'I', ref, 5, badCount, kInvalid, {}, {count, read(kInvalid), byTag(kInvalid)}},
      {"6 bytes", 'T', L"", 0, six, kInvalid, {}, {length, read(kInvalid)}},
      {"6 bytes, insert", 'I', ref, 5, six, kInvalid, {}, {length, read(kInvalid), byTag(kInvalid)}},
      {"no list", 'T', L"", 0, kMissing, kNotFound, {}, {open, read(kNotFound)}},
      {"no list, insert", 'I', ref, 5, kMissing, kNotFound, {}, {open, read(kNotFound), byTag(kNotFound)}},
      {"no service key", 'S', none, 0, Bytes({2, 10, 20}), kNotFound, {}, {key + path(none, kNotFound)}},
      {"no reference key", 'I', none, 5, Bytes({2, 10, 20}), kNotFound, {},
       {notListed(5), key + path(none, kNotFound)}},
      {"no Tag value", 'S', untagged, 0, Bytes({2, 10, 20}), kNotFound, {},
       {tagValue + path(untagged, kNotFound)}},
      {"reference without Tag", 'I', untagged, 5, Bytes({2, 10, 20}), kNotFound, {},
       {notListed(5), noTag + path(untagged, kNotFound)}},
      {"Tag of 2 bytes", 'S', shortTag, 0, Bytes({2, 10, 20}), kInvalid, {},
       {tagValue + path(shortTag, kInvalid)}},
      {"reference Tag of 2 bytes", 'I', shortTag, 5, Bytes({2, 10, 20}), kInvalid, {},
       {notListed(5), noTag + path(shortTag, kInvalid)}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetList(c.before, c.after.empty() ? REG_NONE : REG_BINARY);
      LogCapture log;
      const std::string name = c.service == wide ? svc : Utf8(c.service);
      EXPECT_EQ(c.result, c.op == 'T'   ? RemoveServiceFromLoadOrderByTag(group_.c_str(), 20)
                          : c.op == 'S' ? RemoveServiceFromLoadOrder(group_.c_str(), name.c_str())
                                        : InsertServiceInLoadOrder(group_.c_str(), c.service.c_str(), c.tag));
      EXPECT_EQ(c.after.empty() ? (c.before == kMissing ? kMissing : "type 0:" + c.before) : Bytes(c.after),
                Stored());
      EXPECT_EQ(c.lines, log.Take());
   }
   // The removal that makes room for a move is written before the reference
   // is read, and stays when that read fails.
   SetList(Bytes({2, 10, 20}));
   EXPECT_EQ(kNotFound, InsertServiceInLoadOrder(group_.c_str(), none.c_str(), 10));
   EXPECT_EQ(Bytes({1, 20}), Stored());
}

TEST_F(LoadOrder, ReadGroupOrderListAndNullNames)
{
   const std::wstring ref = AddService(L"ref", Bytes({20}));
   SetList(Bytes({9, 10, 20}));
   Words got = {7};
   EXPECT_EQ(kInvalid, ReadGroupOrderList(list_.Get(), group_.c_str(), 1, got));
   EXPECT_TRUE(got.empty()) << "a failed read leaves no words";
   SetList(Bytes({2, 10, 20}), REG_NONE);
   got = {7, 7, 7, 7, 7, 7, 7, 7, 7};
   EXPECT_EQ(0u, ReadGroupOrderList(list_.Get(), group_.c_str(), 2, got));
   EXPECT_EQ((Words{2, 10, 20, 0, 0}), got) << "spare words are zero";

   LogCapture log;
   const DWORD invalid = ERROR_INVALID_PARAMETER;
   EXPECT_EQ(invalid, ReadGroupOrderList(nullptr, nullptr, 0, got));
   EXPECT_TRUE(got.empty());
   EXPECT_EQ(invalid, RemoveServiceFromLoadOrderByTag(nullptr, 20));
   EXPECT_EQ(invalid, RemoveServiceFromLoadOrder(group_.c_str(), nullptr));
   EXPECT_EQ(invalid, InsertServiceInLoadOrder(group_.c_str(), nullptr, 5));
   EXPECT_EQ(invalid, InsertServiceInLoadOrder(nullptr, ref.c_str(), 5));
   EXPECT_EQ((Lines{"I0 ERROR: ReadGroupOrderList: no group name given",
                    "I0 ERROR: RemoveServiceFromLoadOrderByTag: no group name given",
                    "I0 ERROR: RemoveServiceFromLoadOrder: no service name given",
                    "I0 ERROR: InsertServiceInLoadOrder: no reference service name given",
                    "I0 ERROR: InsertServiceInLoadOrder: no group name given"}),
             log.Take());
   EXPECT_EQ("type 0:" + Bytes({2, 10, 20}), Stored());
}

}  // namespace
