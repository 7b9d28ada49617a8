#include "platform/admission/EmbeddedInfoPlist.h"

#include "shared/PlistShape.h"
#include "shared/UnicodeText.h"
#include "shared/linux/PlistNode.h"

#include <elf.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <string_view>
#include <vector>

namespace EmbeddedInfoPlist {

namespace {

constexpr std::string_view sectionName = "__info_plist";
// An executable's information property list is a few hundred bytes.
constexpr std::size_t maxSectionSize = 1 << 20;
// Sections of an executable: a few dozen; libelf keeps a record for each.
constexpr std::size_t maxSections = 1024;
// What libplist may build from the list: every reference to an object copies
// it, so each counts once per reference. The same as a message may cost.
constexpr std::size_t expandedBudget = 16 << 20;
constexpr std::size_t maxNesting = 16;
constexpr std::size_t maxXMLContainers = 256;
constexpr std::size_t trailerLength = 32;

bool libelfReady() {
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    return ready;
}

struct ElfEnd {
    void operator()(Elf* elf) const noexcept { elf_end(elf); }
};

// Whether the file is a 64-bit ELF file of this machine's byte order whose
// section table is of a sane count and size and lies inside the file: checked
// on the header alone, before libelf makes a record for every section.
bool hasSaneSectionTable(int fd) {
    Elf64_Ehdr header;
    struct stat file;
    if (::pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) || ::fstat(fd, &file) != 0) {
        return false;
    }
    constexpr unsigned char ownOrder = std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_ident[EI_DATA] != ownOrder || header.e_shentsize != sizeof(Elf64_Shdr)) {
        return false;
    }
    // A count of 0 with a table means the real count is elsewhere (extended numbering).
    if (header.e_shnum == 0 || header.e_shnum > maxSections || header.e_shstrndx >= header.e_shnum) return false;
    const uint64_t size = static_cast<uint64_t>(file.st_size);
    const uint64_t tableSize = uint64_t{header.e_shnum} * sizeof(Elf64_Shdr);
    return header.e_shoff <= size && tableSize <= size - header.e_shoff;
}

uint64_t bigEndian(const unsigned char* bytes, std::size_t width) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
    return value;
}

// The bytes one object of a binary list takes when built, counted once per
// reference to it; within the budget or not. Assumes a list that passed
// PlistShape::isShallowBinaryTree (a consistent table, containers a tree).
bool isWithinBudget(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* trailer = bytes + text.size() - trailerLength;
    const std::size_t offsetWidth = trailer[6];
    const std::size_t referenceWidth = trailer[7];
    const uint64_t topObject = bigEndian(trailer + 16, 8);
    const uint64_t tableStart = bigEndian(trailer + 24, 8);

    std::size_t spent = 0;
    std::vector<uint64_t> pending{topObject};
    while (!pending.empty()) {
        const uint64_t object = pending.back();
        pending.pop_back();
        const uint64_t offset = bigEndian(bytes + tableStart + object * offsetWidth, offsetWidth);
        const unsigned char marker = bytes[offset];
        const unsigned type = marker >> 4;
        uint64_t count = marker & 0x0F;
        std::size_t position = offset + 1;
        if (count == 0x0F && type >= 0x4 && type != 0x8) {
            if (position >= tableStart || (bytes[position] >> 4) != 0x1) return false;
            const std::size_t width = std::size_t{1} << (bytes[position] & 0x0F);
            if (width > 8 || position + 1 + width > tableStart) return false;
            count = bigEndian(bytes + position + 1, width);
            position += 1 + width;
        }
        // Every object costs a node; strings and data their bytes as well.
        if (count > expandedBudget) return false;
        uint64_t cost = 64;
        if (type == 0x4 || type == 0x5) cost += count;
        if (type == 0x6) cost += 2 * count;
        if (cost > expandedBudget - spent) return false;
        spent += cost;
        if (type == 0xA || type == 0xC || type == 0xD) {
            const uint64_t references = type == 0xD ? 2 * count : count;
            for (uint64_t i = 0; i < references; ++i) {
                pending.push_back(bigEndian(bytes + position + i * referenceWidth, referenceWidth));
            }
        }
    }
    return true;
}

std::optional<std::string> stringItem(plist_t dictionary, const char* key) {
    const auto text = plistText(plist_dict_get_item(dictionary, key));
    if (!text || !UnicodeText::isValidUTF8(*text)) return std::nullopt;
    return std::string(*text);
}

}  // namespace

std::optional<std::string> sectionBytes(int fd) {
    if (!libelfReady() || !hasSaneSectionTable(fd)) return std::nullopt;
    std::unique_ptr<Elf, ElfEnd> elf(elf_begin(fd, ELF_C_READ, nullptr));
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF) return std::nullopt;
    std::size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf.get(), &namesIndex) != 0) return std::nullopt;
    for (Elf_Scn* section = elf_nextscn(elf.get(), nullptr); section != nullptr;
         section = elf_nextscn(elf.get(), section)) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr) return std::nullopt;
        const char* name = elf_strptr(elf.get(), namesIndex, header.sh_name);
        if (name == nullptr || sectionName != name) continue;
        if (header.sh_type == SHT_NOBITS || header.sh_size == 0 || header.sh_size > maxSectionSize) return std::nullopt;
        std::string bytes;
        for (Elf_Data* data = elf_getdata(section, nullptr); data != nullptr; data = elf_getdata(section, data)) {
            if (data->d_buf == nullptr) continue;
            if (bytes.size() + data->d_size > maxSectionSize) return std::nullopt;
            bytes.append(static_cast<const char*>(data->d_buf), data->d_size);
        }
        if (bytes.empty()) return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

Identity identity(int fd) {
    const auto bytes = sectionBytes(fd);
    if (!bytes) return {};
    const bool binary = plist_is_binary(bytes->data(), static_cast<uint32_t>(bytes->size())) != 0;
    if (binary ? !PlistShape::isShallowBinaryTree(*bytes, maxNesting) || !isWithinBudget(*bytes)
               : !PlistShape::isSmallXML(*bytes, maxXMLContainers)) {
        return {};
    }
    plist_t raw = nullptr;
    plist_from_memory(bytes->data(), static_cast<uint32_t>(bytes->size()), &raw);
    const PlistNode root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return {};
    return {stringItem(root.get(), "CFBundleIdentifier"), stringItem(root.get(), "TeamIdentifier")};
}

}  // namespace EmbeddedInfoPlist
