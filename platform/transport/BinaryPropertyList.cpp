#include "platform/transport/BinaryPropertyList.h"

#include "shared/UnicodeText.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace BinaryPropertyList {

namespace {

constexpr std::string_view magic = "bplist00";
constexpr std::size_t trailerLength = 32;

uint64_t bigEndian(const unsigned char* bytes, std::size_t width) {
    switch (width) {
    case 1:
        return bytes[0];  // the width of a small list's offsets and references
    case 8: {
        uint64_t value;
        std::memcpy(&value, bytes, 8);
        if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
        return value;
    }
    default: {
        uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
        return value;
    }
    }
}

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

// Reads the count that follows a marker at `position` (in the marker itself
// below 15) and checks that `count` units of `unitWidth` bytes fit before the
// table at `tableStart`; on success `position` is where the units begin.
bool readLength(const unsigned char* bytes, std::size_t tableStart, unsigned info, std::size_t unitWidth,
                std::size_t& position, uint64_t& count) {
    count = info;
    if (info == 0xF) {
        if (position >= tableStart || (bytes[position] >> 4) != 0x1) return false;
        const std::size_t width = std::size_t{1} << (bytes[position] & 0x0F);
        if (width > 8 || position + 1 + width > tableStart) return false;
        count = bigEndian(bytes + position + 1, width);
        position += 1 + width;
    }
    const std::size_t room = tableStart - position;
    // Within the room, the count times a unit's width (at most 16) cannot overflow.
    return count <= room && count * unitWidth <= room;
}

// The objects a walk has still to look at: in place for a message's few, on
// the heap beyond.
class PendingObjects {
public:
    struct Item {
        uint64_t index;
        std::size_t depth;
        bool isKey;        // a dictionary key, which must be a string
        std::size_t slot;  // for an entry of the top dictionary, its place among the keys then values
    };

    bool empty() const { return count_ == 0; }
    void push(Item item) {
        if (count_ < few_.size())
            few_[count_] = item;
        else
            many_.push_back(item);
        ++count_;
    }
    // The items beyond the first few are on the heap, and are the last pushed.
    Item pop() {
        --count_;
        if (count_ < few_.size()) return few_[count_];
        const Item item = many_.back();
        many_.pop_back();
        return item;
    }

private:
    std::array<Item, 32> few_;
    std::size_t count_ = 0;  // items pending, those in `few_` first
    std::vector<Item> many_;
};

}  // namespace

// ---- Reading ----

Document::Document(std::string_view text) : bytes_(reinterpret_cast<const unsigned char*>(text.data())) {
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

// The object at `index`, its marker checked against the bounds of the object
// area; a node of no document when it is not one.
Node Document::node(uint64_t index) const {
    Node found;
    if (!usable_ || index >= objectCount_) return found;
    const uint64_t offset = bigEndian(bytes_ + tableStart_ + index * offsetWidth_, offsetWidth_);
    if (offset < magic.size() || offset >= tableStart_) return found;
    const unsigned marker = bytes_[offset];
    const unsigned info = marker & 0x0F;
    found.start_ = static_cast<std::size_t>(offset) + 1;
    const std::size_t room = tableStart_ - found.start_;
    bool fits = false;
    std::size_t unitWidth = 0;  // of the units that follow a count: data, strings, containers
    switch (marker >> 4) {
    case 0x0:
        fits = info == 0x0 || info == 0x8 || info == 0x9 || info == 0xF;
        if (info == 0x8 || info == 0x9) {
            found.type_ = Type::boolean;
            found.count_ = info == 0x9 ? 1 : 0;
        }
        break;
    case 0x1: {
        if (info > 4) break;
        const std::size_t width = std::size_t{1} << info;
        fits = width <= room;
        if (!fits || (width == 16 && bigEndian(bytes_ + found.start_, 8) != 0)) break;
        found.type_ = Type::integer;
        found.count_ = width == 16 ? bigEndian(bytes_ + found.start_ + 8, 8) : bigEndian(bytes_ + found.start_, width);
        break;
    }
    case 0x2:
        fits = info <= 3 && (std::size_t{1} << info) <= room;
        break;
    case 0x3:
        fits = info == 3 && 8 <= room;
        break;
    case 0x4:
        unitWidth = 1;
        break;
    case 0x5:
        found.type_ = Type::string;
        unitWidth = 1;
        break;
    case 0x6:
        found.type_ = Type::string;
        found.utf16_ = true;
        unitWidth = 2;
        break;
    case 0x8:
        fits = info + std::size_t{1} <= room;
        break;
    case 0xA:
        found.type_ = Type::array;
        unitWidth = referenceWidth_;
        break;
    case 0xC:
        unitWidth = referenceWidth_;
        break;
    case 0xD:
        found.type_ = Type::dictionary;
        unitWidth = 2 * referenceWidth_;
        break;
    default:
        break;
    }
    if (unitWidth != 0) fits = readLength(bytes_, tableStart_, info, unitWidth, found.start_, found.count_);
    if (!fits) return Node();
    found.document_ = this;
    return found;
}

bool Document::wellFormed(const Node& string) const {
    const unsigned char* units = bytes_ + string.start_;
    if (string.utf16_) return decodeUTF16(units, string.count_, nullptr);
    return UnicodeText::isASCII(std::string_view(reinterpret_cast<const char*>(units), string.count_));
}

// A container's references are paid for before they are followed, so the
// walk stops as soon as the budget is spent, however the objects are shared.
bool Document::judge(std::size_t maxDepth, std::size_t budget, std::span<Node> judged) const {
    if (!usable_) return false;
    constexpr std::size_t noSlot = SIZE_MAX;
    uint64_t cost = referenceCost;
    PendingObjects pending;
    pending.push({top_, 1, false, judged.empty() ? noSlot : 0});
    while (!pending.empty()) {
        const auto [index, depth, isKey, slot] = pending.pop();
        const Node object = node(index);
        if (object.document_ == nullptr || (isKey && object.type_ != Type::string)) return false;
        if (slot != noSlot) judged[slot] = object;
        if (object.type_ == Type::string) {
            // A UTF-16 unit becomes at most three bytes of UTF-8.
            cost += object.utf16_ ? 3 * object.count_ : object.count_;
            if (cost > budget || !wellFormed(object)) return false;
            continue;
        }
        if (!object.isContainer()) continue;
        if (depth > maxDepth) return false;
        const bool dictionary = object.type_ == Type::dictionary;
        const uint64_t references = dictionary ? 2 * object.count_ : object.count_;
        cost += references * referenceCost;  // references are fewer than the bytes: no overflow
        if (cost > budget) return false;
        const bool keepEntries = depth == 1 && dictionary && !judged.empty() && references < judged.size();
        for (uint64_t i = 0; i < references; ++i) {
            const uint64_t child = bigEndian(bytes_ + object.start_ + i * referenceWidth_, referenceWidth_);
            pending.push({child, depth + 1, dictionary && i < object.count_,
                          keepEntries ? static_cast<std::size_t>(1 + i) : noSlot});
        }
    }
    return true;
}

Node Node::reference(std::size_t slot) const {
    const std::size_t width = document_->referenceWidth_;
    return document_->node(bigEndian(document_->bytes_ + start_ + slot * width, width));
}

Node Node::item(std::size_t index) const { return type_ == Type::array && index < count_ ? reference(index) : Node(); }

Node Node::key(std::size_t index) const {
    return type_ == Type::dictionary && index < count_ ? reference(index) : Node();
}

Node Node::value(std::size_t index) const {
    return type_ == Type::dictionary && index < count_ ? reference(static_cast<std::size_t>(count_) + index) : Node();
}

std::string Node::text() const {
    if (type_ != Type::string) return {};
    const unsigned char* units = document_->bytes_ + start_;
    if (!utf16_) return std::string(reinterpret_cast<const char*>(units), count_);
    std::string decoded;
    decoded.reserve(count_);
    decodeUTF16(units, count_, &decoded);
    return decoded;
}

bool Node::sameUnits(std::string_view ascii) const {
    const unsigned char* units = document_->bytes_ + start_;
    // The names compared are a few bytes long: compared here, eight at a
    // time, rather than by a call into the C library.
    if (!utf16_) {
        std::size_t i = 0;
        for (; i + 8 <= ascii.size(); i += 8) {
            uint64_t mine, theirs;
            std::memcpy(&mine, units + i, 8);
            std::memcpy(&theirs, ascii.data() + i, 8);
            if (mine != theirs) return false;
        }
        for (; i < ascii.size(); ++i) {
            if (units[i] != static_cast<unsigned char>(ascii[i])) return false;
        }
        return true;
    }
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        if (units[2 * i] != 0 || units[2 * i + 1] != static_cast<unsigned char>(ascii[i])) return false;
    }
    return true;
}

// ---- Writing ----

namespace {

std::size_t widthFor(uint64_t largest) {
    if (largest <= 0xFF) return 1;
    if (largest <= 0xFFFF) return 2;
    if (largest <= 0xFFFFFFFF) return 4;
    return 8;
}

// Writes `value` as `width` big-endian bytes at `at`; returns the byte after.
char* putBigEndian(uint64_t value, std::size_t width, char* at) {
    for (std::size_t i = width; i-- > 0;) *at++ = static_cast<char>((value >> (8 * i)) & 0xFF);
    return at;
}

// Makes room for `count` more bytes at the end of `out`; returns the first.
char* grow(std::string& out, std::size_t count) {
    const std::size_t size = out.size();
    out.resize(size + count);
    return out.data() + size;
}

void appendBigEndian(uint64_t value, std::size_t width, std::string& out) {
    putBigEndian(value, width, grow(out, width));
}

// The UTF-16 units of well-formed UTF-8: how many, and appended big-endian.
std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (const char byte : text) {
        const auto lead = static_cast<unsigned char>(byte);
        if ((lead & 0xC0) != 0x80) units += lead >= 0xF0 ? 2 : 1;
    }
    return units;
}

void appendUTF16(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (code < 0x10000) {
            appendBigEndian(code, 2, out);
        } else {
            appendBigEndian(0xD800 + ((code - 0x10000) >> 10), 2, out);
            appendBigEndian(0xDC00 + ((code - 0x10000) & 0x3FF), 2, out);
        }
    }
}

}  // namespace

Writer::Writer(std::string& out, std::size_t mostObjects)
    : out_(out),
      base_(out.size()),
      mostObjects_(mostObjects),
      referenceWidth_(widthFor(mostObjects == 0 ? 0 : mostObjects - 1)),
      offsets_(fewOffsets_.data()) {
    if (mostObjects > fewObjects) {
        manyOffsets_.resize(mostObjects);
        offsets_ = manyOffsets_.data();
    }
    out_ += magic;
}

uint64_t Writer::begin() {
    if (objectCount_ == mostObjects_) throw std::logic_error("more objects written than announced");
    offsets_[objectCount_] = out_.size() - base_;
    return objectCount_++;
}

uint64_t Writer::putInteger(uint64_t number) {
    const uint64_t index = begin();
    putNumber(number);
    return index;
}

uint64_t Writer::putBoolean(bool flag) {
    const uint64_t index = begin();
    out_ += flag ? '\x09' : '\x08';
    return index;
}

uint64_t Writer::putOther() {
    const uint64_t index = begin();
    out_ += '\x23';
    out_.append(8, '\0');
    return index;
}

uint64_t Writer::putString(std::string_view text) {
    if (const uint64_t* known = knownString(text)) return *known;
    const uint64_t index = begin();
    if (fewStringCount_ < fewStrings_.size() && manyStrings_.empty()) {
        fewStrings_[fewStringCount_++] = {text.data(), text.size(), index};
    } else {
        if (manyStrings_.empty()) {
            for (const auto& known : fewStrings_)
                manyStrings_.emplace(std::string_view(known.data, known.size), known.index);
        }
        manyStrings_.emplace(text, index);
    }
    if (UnicodeText::isASCII(text)) {
        putMarker(0x5, text.size());
        out_ += text;
        return index;
    }
    std::string repaired;
    if (!UnicodeText::isValidUTF8(text)) text = repaired = UnicodeText::repairedUTF8(text);
    putMarker(0x6, utf16Length(text));
    appendUTF16(text, out_);
    return index;
}

uint64_t* Writer::knownString(std::string_view text) {
    if (!manyStrings_.empty()) {
        const auto found = manyStrings_.find(text);
        return found == manyStrings_.end() ? nullptr : &found->second;
    }
    for (std::size_t i = 0; i < fewStringCount_; ++i) {
        if (std::string_view(fewStrings_[i].data, fewStrings_[i].size) == text) return &fewStrings_[i].index;
    }
    return nullptr;
}

uint64_t Writer::putArray(std::span<const uint64_t> items) { return putContainer(0xA, items.size(), items); }

uint64_t Writer::putDictionary(std::span<const uint64_t> keysThenValues) {
    return putContainer(0xD, keysThenValues.size() / 2, keysThenValues);
}

uint64_t Writer::putContainer(unsigned type, std::size_t count, std::span<const uint64_t> references) {
    const uint64_t index = begin();
    putMarker(type, count);
    char* at = grow(out_, references.size() * referenceWidth_);
    for (const uint64_t reference : references) at = putBigEndian(reference, referenceWidth_, at);
    return index;
}

void Writer::putNumber(uint64_t number) {
    if (number > static_cast<uint64_t>(INT64_MAX)) {
        // Eight-byte integers are signed: larger ones take sixteen bytes.
        out_ += '\x14';
        out_.append(8, '\0');
        appendBigEndian(number, 8, out_);
        return;
    }
    const std::size_t width = widthFor(number);
    char* at = grow(out_, 1 + width);
    *at = static_cast<char>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3));
    putBigEndian(number, width, at + 1);
}

void Writer::putMarker(unsigned type, std::size_t count) {
    if (count < 15) {
        out_ += static_cast<char>((type << 4) | count);
        return;
    }
    out_ += static_cast<char>((type << 4) | 0xF);
    putNumber(count);
}

void Writer::finish(uint64_t top) {
    const uint64_t tableStart = out_.size() - base_;
    const std::size_t offsetWidth = widthFor(objectCount_ == 0 ? 0 : offsets_[objectCount_ - 1]);
    char* at = grow(out_, objectCount_ * offsetWidth + trailerLength);
    for (std::size_t i = 0; i < objectCount_; ++i) at = putBigEndian(offsets_[i], offsetWidth, at);
    at = putBigEndian(0, 6, at);
    *at++ = static_cast<char>(offsetWidth);
    *at++ = static_cast<char>(referenceWidth_);
    at = putBigEndian(objectCount_, 8, at);
    at = putBigEndian(top, 8, at);
    putBigEndian(tableStart, 8, at);
}

}  // namespace BinaryPropertyList
