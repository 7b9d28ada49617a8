#include "platform/EmbeddedInfoPlist.h"

#include "platform/PlistNode.h"
#include "platform/PlistShape.h"
#include "shared/UnicodeText.h"

#include <gelf.h>
#include <libelf.h>

#include <cstring>
#include <string_view>

namespace EmbeddedInfoPlist {

namespace {

constexpr std::string_view sectionName = "__info_plist";
constexpr std::size_t maxSectionSize = 1 << 20;
constexpr std::size_t maxNesting = 16;
constexpr std::size_t maxXMLContainers = 256;

bool libelfReady() {
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    return ready;
}

struct ElfEnd {
    void operator()(Elf* elf) const noexcept { elf_end(elf); }
};

std::optional<std::string> stringItem(plist_t dictionary, const char* key) {
    plist_t node = plist_dict_get_item(dictionary, key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* bytes = plist_get_string_ptr(node, &length);
    if (bytes == nullptr || !UnicodeText::isValidUTF8({bytes, length})) return std::nullopt;
    return std::string(bytes, length);
}

}  // namespace

std::optional<std::string> sectionBytes(int fd) {
    if (!libelfReady()) return std::nullopt;
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
    if (binary ? !PlistShape::isShallowBinaryTree(*bytes, maxNesting) : !PlistShape::isSmallXML(*bytes, maxXMLContainers)) {
        return {};
    }
    plist_t raw = nullptr;
    plist_from_memory(bytes->data(), static_cast<uint32_t>(bytes->size()), &raw);
    const PlistNode root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return {};
    return {stringItem(root.get(), "CFBundleIdentifier"), stringItem(root.get(), "TeamIdentifier")};
}

}  // namespace EmbeddedInfoPlist
