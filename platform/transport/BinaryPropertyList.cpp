#include "platform/transport/BinaryPropertyList.h"

#include "shared/UnicodeText.h"

#include <unordered_map>

namespace BinaryPropertyList {

namespace {

constexpr std::string_view magic = "bplist00";
constexpr std::size_t trailerLength = 32;

uint64_t bigEndian(const unsigned char* bytes, std::size_t width) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
    return value;
}

// ---- Reading ----

enum class Kind { other, boolean, integer, ascii, utf16, array, dictionary };

// One object's marker, read and checked against the bounds of the object area.
struct Object {
    Kind kind = Kind::other;
    uint64_t count = 0;     // integer: the value; boolean: 0 or 1; strings: units; containers: entries
    std::size_t start = 0;  // first byte after the marker and any length
};

bool isString(Kind kind) { return kind == Kind::ascii || kind == Kind::utf16; }

bool isSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
bool isHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUTF8(uint32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Decodes big-endian UTF-16 into `out` (when given); false on a lone surrogate.
bool decodeUTF16(const unsigned char* bytes, uint64_t units, std::string* out) {
    for (uint64_t i = 0; i < units; ++i) {
        uint32_t code = (uint32_t{bytes[2 * i]} << 8) | bytes[2 * i + 1];
        if (isSurrogate(code)) {
            if (!isHighSurrogate(code) || i + 1 == units) return false;
            const uint32_t low = (uint32_t{bytes[2 * i + 2]} << 8) | bytes[2 * i + 3];
            if (!isLowSurrogate(low)) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        }
        if (out != nullptr) appendUTF8(code, *out);
    }
    return true;
}

class Reader {
public:
    explicit Reader(std::string_view text) : bytes_(reinterpret_cast<const unsigned char*>(text.data())) {
        if (text.size() < magic.size() + trailerLength || text.substr(0, magic.size()) != magic) return;
        const unsigned char* trailer = bytes_ + text.size() - trailerLength;
        offsetWidth_ = trailer[6];
        referenceWidth_ = trailer[7];
        objectCount_ = bigEndian(trailer + 8, 8);
        top_ = bigEndian(trailer + 16, 8);
        const uint64_t tableStart = bigEndian(trailer + 24, 8);
        const std::size_t tableEnd = text.size() - trailerLength;
        if (offsetWidth_ < 1 || offsetWidth_ > 8 || referenceWidth_ < 1 || referenceWidth_ > 8) return;
        if (objectCount_ == 0 || top_ >= objectCount_) return;
        if (tableStart <= magic.size() || tableStart >= tableEnd) return;
        if (objectCount_ > (tableEnd - tableStart) / offsetWidth_) return;
        tableStart_ = static_cast<std::size_t>(tableStart);
        usable_ = true;
    }

    bool usable() const { return usable_; }
    uint64_t top() const { return top_; }

    std::optional<Object> object(uint64_t index) const {
        if (index >= objectCount_) return std::nullopt;
        const uint64_t offset = bigEndian(bytes_ + tableStart_ + index * offsetWidth_, offsetWidth_);
        if (offset < magic.size() || offset >= tableStart_) return std::nullopt;
        const unsigned marker = bytes_[offset];
        const unsigned info = marker & 0x0F;
        Object found;
        found.start = static_cast<std::size_t>(offset) + 1;
        const std::size_t room = tableStart_ - found.start;
        switch (marker >> 4) {
        case 0x0:
            if (info == 0x8 || info == 0x9) {
                found.kind = Kind::boolean;
                found.count = info == 0x9 ? 1 : 0;
                return found;
            }
            if (info == 0x0 || info == 0xF) return found;
            return std::nullopt;
        case 0x1: {
            if (info > 4) return std::nullopt;
            const std::size_t width = std::size_t{1} << info;
            if (width > room) return std::nullopt;
            if (width == 16 && bigEndian(bytes_ + found.start, 8) != 0) return found;
            found.kind = Kind::integer;
            found.count = width == 16 ? bigEndian(bytes_ + found.start + 8, 8) : bigEndian(bytes_ + found.start, width);
            return found;
        }
        case 0x2:
            if (info > 3 || (std::size_t{1} << info) > room) return std::nullopt;
            return found;
        case 0x3:
            if (info != 3 || 8 > room) return std::nullopt;
            return found;
        case 0x4:
            return withLength(found, info, 1) ? std::optional(found) : std::nullopt;
        case 0x5:
            found.kind = Kind::ascii;
            return withLength(found, info, 1) ? std::optional(found) : std::nullopt;
        case 0x6:
            found.kind = Kind::utf16;
            return withLength(found, info, 2) ? std::optional(found) : std::nullopt;
        case 0x8:
            if (info + std::size_t{1} > room) return std::nullopt;
            return found;
        case 0xA:
            found.kind = Kind::array;
            return withLength(found, info, referenceWidth_) ? std::optional(found) : std::nullopt;
        case 0xC:
            return withLength(found, info, referenceWidth_) ? std::optional(found) : std::nullopt;
        case 0xD:
            found.kind = Kind::dictionary;
            return withLength(found, info, 2 * referenceWidth_) ? std::optional(found) : std::nullopt;
        default:
            return std::nullopt;
        }
    }

    uint64_t reference(const Object& container, uint64_t i) const {
        return bigEndian(bytes_ + container.start + i * referenceWidth_, referenceWidth_);
    }

    // Whether the string's units are well-formed.
    bool wellFormed(const Object& string) const {
        const unsigned char* units = bytes_ + string.start;
        if (string.kind == Kind::utf16) return decodeUTF16(units, string.count, nullptr);
        for (uint64_t i = 0; i < string.count; ++i) {
            if (units[i] > 0x7F) return false;
        }
        return true;
    }

    std::string text(const Object& string) const {
        const char* units = reinterpret_cast<const char*>(bytes_ + string.start);
        if (string.kind == Kind::ascii) return std::string(units, string.count);
        std::string decoded;
        decoded.reserve(string.count);
        decodeUTF16(bytes_ + string.start, string.count, &decoded);
        return decoded;
    }

private:
    // Reads the count that follows the marker (in the marker itself below 15)
    // and checks that `count` units of `unitWidth` bytes fit before the table.
    bool withLength(Object& found, unsigned info, std::size_t unitWidth) const {
        uint64_t count = info;
        std::size_t position = found.start;
        if (info == 0xF) {
            if (position >= tableStart_ || (bytes_[position] >> 4) != 0x1) return false;
            const std::size_t width = std::size_t{1} << (bytes_[position] & 0x0F);
            if (width > 8 || position + 1 + width > tableStart_) return false;
            count = bigEndian(bytes_ + position + 1, width);
            position += 1 + width;
        }
        if (count > (tableStart_ - position) / unitWidth) return false;
        found.count = count;
        found.start = position;
        return true;
    }

    const unsigned char* bytes_;
    std::size_t offsetWidth_ = 0;
    std::size_t referenceWidth_ = 0;
    uint64_t objectCount_ = 0;
    uint64_t top_ = 0;
    std::size_t tableStart_ = 0;
    bool usable_ = false;
};

// Walks every reference from the top without copying anything: checks each
// object reached, the depth of containers and the cost of the whole. A
// container's references are paid for before they are followed, so the walk
// stops as soon as the budget is spent, however the objects are shared.
bool judge(const Reader& reader, std::size_t maxDepth, std::size_t budget) {
    uint64_t cost = referenceCost;
    std::vector<std::pair<uint64_t, std::size_t>> pending{{reader.top(), 1}};  // object, its depth
    while (!pending.empty()) {
        const auto [index, depth] = pending.back();
        pending.pop_back();
        const auto object = reader.object(index);
        if (!object) return false;
        if (isString(object->kind)) {
            // A UTF-16 unit becomes at most three bytes of UTF-8.
            cost += object->kind == Kind::utf16 ? 3 * object->count : object->count;
            if (cost > budget || !reader.wellFormed(*object)) return false;
            continue;
        }
        if (object->kind != Kind::array && object->kind != Kind::dictionary) continue;
        if (depth > maxDepth) return false;
        const uint64_t references = object->kind == Kind::dictionary ? 2 * object->count : object->count;
        cost += references * referenceCost;  // references are fewer than the bytes: no overflow
        if (cost > budget) return false;
        for (uint64_t i = 0; i < references; ++i) {
            const uint64_t child = reader.reference(*object, i);
            if (object->kind == Kind::dictionary && i < object->count) {
                const auto key = reader.object(child);
                if (!key || !isString(key->kind)) return false;
            }
            pending.emplace_back(child, depth + 1);
        }
    }
    return true;
}

// Copies out what `judge` accepted.
Value build(const Reader& reader, uint64_t index) {
    const auto object = reader.object(index);
    if (!object) return {};
    switch (object->kind) {
    case Kind::other:
        return {};
    case Kind::boolean:
        return {object->count != 0};
    case Kind::integer:
        return {object->count};
    case Kind::ascii:
    case Kind::utf16:
        return {reader.text(*object)};
    case Kind::array: {
        Array items;
        items.reserve(object->count);
        for (uint64_t i = 0; i < object->count; ++i) items.push_back(build(reader, reader.reference(*object, i)));
        return {std::move(items)};
    }
    case Kind::dictionary: {
        Dictionary entries;
        entries.reserve(object->count);
        for (uint64_t i = 0; i < object->count; ++i) {
            const auto key = reader.object(reader.reference(*object, i));
            entries.push_back({key ? reader.text(*key) : std::string(),
                               build(reader, reader.reference(*object, object->count + i))});
        }
        return {std::move(entries)};
    }
    }
    return {};
}

// ---- Writing ----

std::size_t widthFor(uint64_t largest) {
    if (largest <= 0xFF) return 1;
    if (largest <= 0xFFFF) return 2;
    if (largest <= 0xFFFFFFFF) return 4;
    return 8;
}

void appendBigEndian(uint64_t value, std::size_t width, std::string& out) {
    for (std::size_t i = width; i-- > 0;) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::size_t objectsIn(const Value& value) {
    std::size_t count = 1;
    if (const auto* items = std::get_if<Array>(&value.content)) {
        for (const auto& item : *items) count += objectsIn(item);
    } else if (const auto* entries = std::get_if<Dictionary>(&value.content)) {
        for (const auto& entry : *entries) count += 1 + objectsIn(entry.value);
    }
    return count;
}

// Writes each object after the objects it refers to; equal strings are
// written once.
class Writer {
public:
    Writer(std::string& out, std::size_t mostObjects)
        : out_(out), base_(out.size()), referenceWidth_(widthFor(mostObjects - 1)) {
        out_ += magic;
    }

    uint64_t put(const Value& value) {
        struct Visitor {
            Writer& writer;
            uint64_t operator()(const Other&) const {
                const uint64_t index = writer.begin();
                writer.out_ += '\x23';
                writer.out_.append(8, '\0');
                return index;
            }
            uint64_t operator()(bool flag) const {
                const uint64_t index = writer.begin();
                writer.out_ += flag ? '\x09' : '\x08';
                return index;
            }
            uint64_t operator()(uint64_t number) const {
                const uint64_t index = writer.begin();
                writer.putInteger(number);
                return index;
            }
            uint64_t operator()(const std::string& text) const { return writer.putString(text); }
            uint64_t operator()(const Array& items) const {
                std::vector<uint64_t> references;
                references.reserve(items.size());
                for (const auto& item : items) references.push_back(writer.put(item));
                return writer.putContainer(0xA, items.size(), references);
            }
            uint64_t operator()(const Dictionary& entries) const {
                std::vector<uint64_t> references(2 * entries.size());
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    references[i] = writer.putString(entries[i].key);
                    references[entries.size() + i] = writer.put(entries[i].value);
                }
                return writer.putContainer(0xD, entries.size(), references);
            }
        };
        return std::visit(Visitor{*this}, value.content);
    }

    void finish(uint64_t top) {
        const uint64_t tableStart = out_.size() - base_;
        const std::size_t offsetWidth = widthFor(offsets_.empty() ? 0 : offsets_.back());
        for (const uint64_t offset : offsets_) appendBigEndian(offset, offsetWidth, out_);
        out_.append(6, '\0');
        out_ += static_cast<char>(offsetWidth);
        out_ += static_cast<char>(referenceWidth_);
        appendBigEndian(offsets_.size(), 8, out_);
        appendBigEndian(top, 8, out_);
        appendBigEndian(tableStart, 8, out_);
    }

private:
    uint64_t begin() {
        offsets_.push_back(out_.size() - base_);
        return offsets_.size() - 1;
    }

    void putInteger(uint64_t number) {
        if (number > static_cast<uint64_t>(INT64_MAX)) {
            // Eight-byte integers are signed: larger ones take sixteen bytes.
            out_ += '\x14';
            out_.append(8, '\0');
            appendBigEndian(number, 8, out_);
            return;
        }
        const std::size_t width = widthFor(number);
        out_ += static_cast<char>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3));
        appendBigEndian(number, width, out_);
    }

    void putMarker(unsigned type, std::size_t count) {
        if (count < 15) {
            out_ += static_cast<char>((type << 4) | count);
            return;
        }
        out_ += static_cast<char>((type << 4) | 0xF);
        putInteger(count);
    }

    uint64_t putString(const std::string& text) {
        const auto [known, added] = strings_.try_emplace(text, offsets_.size());
        if (!added) return known->second;
        begin();
        if (UnicodeText::isASCII(text)) {
            putMarker(0x5, text.size());
            out_ += text;
            return known->second;
        }
        const std::u16string units = utf16Of(UnicodeText::isValidUTF8(text) ? text : UnicodeText::repairedUTF8(text));
        putMarker(0x6, units.size());
        for (const char16_t unit : units) appendBigEndian(unit, 2, out_);
        return known->second;
    }

    uint64_t putContainer(unsigned type, std::size_t count, const std::vector<uint64_t>& references) {
        const uint64_t index = begin();
        putMarker(type, count);
        for (const uint64_t reference : references) appendBigEndian(reference, referenceWidth_, out_);
        return index;
    }

    // The UTF-16 units of well-formed UTF-8.
    static std::u16string utf16Of(std::string_view text) {
        std::u16string units;
        units.reserve(text.size());
        for (std::size_t i = 0; i < text.size();) {
            const auto lead = static_cast<unsigned char>(text[i]);
            const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
            for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            i += length;
            if (code < 0x10000) {
                units += static_cast<char16_t>(code);
            } else {
                units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
                units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            }
        }
        return units;
    }

    std::string& out_;
    const std::size_t base_;
    const std::size_t referenceWidth_;
    std::vector<uint64_t> offsets_;
    std::unordered_map<std::string_view, uint64_t> strings_;  // views of the texts being written
};

}  // namespace

std::optional<Value> read(std::string_view bytes, std::size_t maxDepth, std::size_t budget) {
    const Reader reader(bytes);
    if (!reader.usable() || !judge(reader, maxDepth, budget)) return std::nullopt;
    return build(reader, reader.top());
}

void write(const Value& top, std::string& out) {
    Writer writer(out, objectsIn(top));
    const uint64_t index = writer.put(top);
    writer.finish(index);
}

}  // namespace BinaryPropertyList
