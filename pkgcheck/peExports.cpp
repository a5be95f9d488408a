#include "pkgcheck/peExports.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace pkgcheck {

namespace {

// Little-endian reads that fail rather than run past the image.
class Image {
public:
   explicit Image(const std::string &bytes) : bytes_(bytes) {}

   bool U16(uint64_t at, uint32_t &out) const { return Read(at, 2, out); }
   bool U32(uint64_t at, uint32_t &out) const { return Read(at, 4, out); }
   uint64_t Size() const { return bytes_.size(); }

   // A NUL-terminated name at `at`, of printable characters only.
   bool Name(uint64_t at, std::string &out) const
   {
      out.clear();
      for (uint64_t i = at; i < bytes_.size(); i++) {
         const unsigned char c = static_cast<unsigned char>(bytes_[i]);
         if (c == '\0') {
            return !out.empty();
         }
         if (c < 0x21 || c > 0x7E || out.size() >= 512) {
            return false;
         }
         out += static_cast<char>(c);
      }
      return false;
   }

private:
   bool Read(uint64_t at, unsigned n, uint32_t &out) const
   {
      if (at > bytes_.size() || bytes_.size() - at < n) {
         return false;
      }
      out = 0;
      for (unsigned i = 0; i < n; i++) {
         out |= static_cast<uint32_t>(static_cast<unsigned char>(bytes_[at + i])) << (8 * i);
      }
      return true;
   }

   const std::string &bytes_;
};

struct Section {
   uint32_t address, size, rawOffset, rawSize;
};

}  // namespace

bool ReadExportNames(const std::string &bytes, std::set<std::string> &names)
{
   names.clear();
   const Image image(bytes);
   uint32_t magic = 0, peOffset = 0, signature = 0;
   if (!image.U16(0, magic) || magic != 0x5A4D || !image.U32(0x3C, peOffset) ||
       !image.U32(peOffset, signature) || signature != 0x00004550) {
      return false;
   }
   const uint64_t coff = uint64_t(peOffset) + 4;
   uint32_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
   if (!image.U16(coff + 2, sectionCount) || !image.U16(coff + 16, optionalSize) ||
       !image.U16(coff + 20, optionalMagic)) {
      return false;
   }
   const uint64_t optional = coff + 20;
   // The data directories follow the fixed part, which is longer in PE32+.
   const uint64_t directories = optional + (optionalMagic == 0x20B ? 112 : optionalMagic == 0x10B ? 96 : 0);
   uint32_t directoryCount = 0, exportRva = 0, exportSize = 0;
   if (directories == optional || !image.U32(directories - 4, directoryCount) || directoryCount == 0 ||
       directories + 8 > optional + optionalSize || !image.U32(directories, exportRva) ||
       !image.U32(directories + 4, exportSize) || exportRva == 0) {
      return false;
   }
   std::vector<Section> sections;
   for (uint32_t i = 0; i < sectionCount; i++) {
      const uint64_t at = optional + optionalSize + uint64_t(i) * 40;
      Section s{};
      if (!image.U32(at + 8, s.size) || !image.U32(at + 12, s.address) || !image.U32(at + 16, s.rawSize) ||
          !image.U32(at + 20, s.rawOffset)) {
         return false;
      }
      sections.push_back(s);
   }
   // File offset of an address, within the part of a section the file holds.
   auto offset = [&sections](uint32_t rva, uint64_t &out) {
      for (const Section &s : sections) {
         if (rva >= s.address && rva - s.address < s.rawSize) {
            out = uint64_t(s.rawOffset) + (rva - s.address);
            return true;
         }
      }
      return false;
   };
   uint64_t directory = 0, nameTable = 0;
   uint32_t nameCount = 0, namesRva = 0;
   if (!offset(exportRva, directory) || !image.U32(directory + 24, nameCount) ||
       !image.U32(directory + 32, namesRva) || (nameCount > 0 && !offset(namesRva, nameTable)) ||
       nameCount > image.Size() / 4) {
      return false;
   }
   std::set<std::string> found;
   for (uint32_t i = 0; i < nameCount; i++) {
      uint32_t nameRva = 0;
      uint64_t at = 0;
      std::string name;
      if (!image.U32(nameTable + uint64_t(i) * 4, nameRva) || !offset(nameRva, at) || !image.Name(at, name)) {
         return false;
      }
      found.insert(name);
   }
   names.swap(found);
   return true;
}

}  // namespace pkgcheck
