#include "detection/property_list_readers.h"

#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace propertylist {
namespace {

const char* const kMalformed = "the binary property list is malformed";

// Object markers: the high four bits name the type, the low four a size or count.
enum Type : uint8_t {
    kSimple = 0x0,
    kInteger = 0x1,
    kReal = 0x2,
    kDate = 0x3,
    kData = 0x4,
    kAscii = 0x5,
    kUtf16 = 0x6,
    kUid = 0x8,
    kArray = 0xA,
    kOrderedSet = 0xB,
    kSet = 0xC,
    kDictionary = 0xD,
};

struct Object {
    uint8_t type = 0;
    uint64_t count = 0;    // elements, characters or bytes, by type
    uint64_t payload = 0;  // where the elements, characters or bytes start
    bool isContainer() const { return type == kArray || type == kOrderedSet || type == kSet || type == kDictionary; }
    uint64_t refCount() const { return type == kDictionary ? count * 2 : isContainer() ? count : 0; }
};

// "bplist00", the objects, a table of their offsets and a 32-byte trailer. Every read is bounds
// checked against the object area, so no object can reach into the table or past the end.
class BinaryList {
public:
    explicit BinaryList(const QByteArray& data)
        : bytes_(reinterpret_cast<const uint8_t*>(data.constData())), size_(static_cast<uint64_t>(data.size())) {}

    bool readTrailer() {
        if (size_ < 8 + 32) return false;
        const uint8_t* trailer = bytes_ + size_ - 32;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        objectCount_ = bigEndian(trailer + 8, 8);
        root_ = bigEndian(trailer + 16, 8);
        tableOffset_ = bigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        // Every object takes at least one byte and one table entry.
        if (objectCount_ == 0 || objectCount_ > size_ || root_ >= objectCount_) return false;
        if (tableOffset_ < 8 || tableOffset_ > size_ - 32) return false;
        return objectCount_ * offsetSize_ <= size_ - 32 - tableOffset_;
    }

    uint64_t objectCount() const { return objectCount_; }
    uint64_t root() const { return root_; }

    std::optional<Object> object(uint64_t index) const {
        const uint64_t offset = bigEndian(bytes_ + tableOffset_ + index * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= tableOffset_) return std::nullopt;
        const uint8_t marker = bytes_[offset];
        Object object;
        object.type = marker >> 4;
        const uint8_t low = marker & 0x0F;
        uint64_t position = offset + 1;
        uint64_t width = 0;  // bytes of payload
        switch (object.type) {
        case kSimple:  // null, false, true, fill
            if (low != 0x0 && low != 0x8 && low != 0x9 && low != 0xF) return std::nullopt;
            break;
        case kInteger:
            if (low > 4) return std::nullopt;
            width = uint64_t{1} << low;
            break;
        case kReal:
            if (low != 2 && low != 3) return std::nullopt;
            width = uint64_t{1} << low;
            break;
        case kDate:
            if (low != 3) return std::nullopt;
            width = 8;
            break;
        case kUid:
            width = uint64_t{low} + 1;
            break;
        case kData:
        case kAscii:
        case kUtf16:
        case kArray:
        case kOrderedSet:
        case kSet:
        case kDictionary: {
            object.count = low;
            if (low == 0x0F) {
                if (position >= tableOffset_) return std::nullopt;
                const uint8_t intMarker = bytes_[position++];
                if ((intMarker >> 4) != kInteger || (intMarker & 0x0F) > 3) return std::nullopt;
                const uint64_t countWidth = uint64_t{1} << (intMarker & 0x0F);
                if (countWidth > tableOffset_ - position) return std::nullopt;
                object.count = bigEndian(bytes_ + position, countWidth);
                position += countWidth;
            }
            // Checked before multiplying, so the products below cannot wrap.
            if (object.count > size_) return std::nullopt;
            if (object.type == kUtf16)
                width = object.count * 2;
            else if (object.isContainer())
                width = object.refCount() * refSize_;
            else
                width = object.count;
            break;
        }
        default:
            return std::nullopt;
        }
        if (width > tableOffset_ - position) return std::nullopt;
        object.payload = position;
        return object;
    }

    // The `i`th reference of a container; none when it names no object.
    std::optional<uint64_t> ref(const Object& container, uint64_t i) const {
        const uint64_t value = bigEndian(bytes_ + container.payload + i * refSize_, refSize_);
        if (value >= objectCount_) return std::nullopt;
        return value;
    }

    QString text(const Object& string) const {
        const uint8_t* p = bytes_ + string.payload;
        if (string.type == kAscii)
            return QString::fromUtf8(reinterpret_cast<const char*>(p), static_cast<qsizetype>(string.count));
        QString out(static_cast<qsizetype>(string.count), Qt::Uninitialized);
        for (uint64_t i = 0; i < string.count; ++i)
            out[static_cast<qsizetype>(i)] = QChar(static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1]));
        return out;
    }

    QByteArray data(const Object& data) const {
        return QByteArray(reinterpret_cast<const char*>(bytes_ + data.payload), static_cast<qsizetype>(data.count));
    }

    bool holdsNul(const Object& string) const {
        const uint8_t* p = bytes_ + string.payload;
        if (string.type == kAscii) return std::memchr(p, 0, string.count) != nullptr;
        for (uint64_t i = 0; i < string.count; ++i)
            if (p[2 * i] == 0 && p[2 * i + 1] == 0) return true;
        return false;
    }

private:
    static uint64_t bigEndian(const uint8_t* p, uint64_t width) {
        uint64_t value = 0;
        for (uint64_t i = 0; i < width; ++i) value = (value << 8) | p[i];
        return value;
    }

    const uint8_t* bytes_;
    uint64_t size_;
    uint8_t offsetSize_ = 0;
    uint8_t refSize_ = 0;
    uint64_t objectCount_ = 0;
    uint64_t root_ = 0;
    uint64_t tableOffset_ = 0;
};

// Walks every object reachable from the root once, with an explicit stack: each must be well
// formed, dictionary keys must be texts without NUL, references must not form a cycle, containers
// must nest at most 512 deep, and the list written out as a tree must stay within the value
// budget. Shared objects are measured once and their sizes reused, so the walk is linear in the
// size of the data however often an object is referenced.
const char* validate(const BinaryList& list) {
    enum : uint8_t { unvisited, open, finished };
    const uint64_t objects = list.objectCount();
    std::vector<uint8_t> state(objects, unvisited);
    std::vector<uint16_t> height(objects, 0);      // containers on the longest path down, itself included
    std::vector<uint32_t> treeValues(objects, 0);  // values below and including it, capped past the budget
    std::vector<uint8_t> keyChecked(objects, 0);
    constexpr uint32_t kBudget = PropertyList::maxValues;

    struct Frame {
        uint64_t index;
        Object object;
        uint64_t next = 0;
        uint32_t values = 1;
        uint16_t height = 1;
    };
    std::vector<Frame> stack;

    // Leaves are finished on sight; containers are pushed.
    auto visit = [&](uint64_t index) -> const char* {
        auto object = list.object(index);
        if (!object) return kMalformed;
        if (!object->isContainer()) {
            state[index] = finished;
            treeValues[index] = 1;
            return nullptr;
        }
        if (static_cast<int>(stack.size()) >= PropertyList::maxNesting) return kTooDeep;
        state[index] = open;
        stack.push_back({index, *object});
        return nullptr;
    };

    if (const char* why = visit(list.root())) return why;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.object.refCount()) {
            const uint64_t i = frame.next++;
            auto child = list.ref(frame.object, i);
            if (!child) return kMalformed;
            if (frame.object.type == kDictionary && i < frame.object.count && !keyChecked[*child]) {
                auto key = list.object(*child);
                if (!key || (key->type != kAscii && key->type != kUtf16)) return kMalformed;
                if (list.holdsNul(*key)) return kNulInKey;
                keyChecked[*child] = 1;
            }
            if (state[*child] == open) return kMalformed;  // a cycle
            if (state[*child] == unvisited) {
                if (const char* why = visit(*child)) return why;
                if (state[*child] == open) continue;  // measured when its frame finishes
            }
            // `frame` may have moved if visit() pushed; it did not reach here in that case.
            Frame& parent = stack.back();
            if (static_cast<int>(stack.size()) + height[*child] > PropertyList::maxNesting) return kTooDeep;
            parent.height = std::max<uint16_t>(parent.height, static_cast<uint16_t>(height[*child] + 1));
            parent.values = std::min<uint32_t>(kBudget + 1, parent.values + treeValues[*child]);
            if (parent.values > kBudget) return kTooManyValues;
            continue;
        }
        const Frame done = frame;
        stack.pop_back();
        state[done.index] = finished;
        height[done.index] = done.height;
        treeValues[done.index] = done.values;
        if (!stack.empty()) {
            Frame& parent = stack.back();
            parent.height = std::max<uint16_t>(parent.height, static_cast<uint16_t>(done.height + 1));
            parent.values = std::min<uint32_t>(kBudget + 1, parent.values + done.values);
            if (parent.values > kBudget) return kTooManyValues;
        }
    }
    return nullptr;
}

// Builds the part of a validated list the record reader uses. The recursion is bounded by the
// kept dictionary depth, and texts are decoded once per object and then shared.
class Builder {
public:
    explicit Builder(const BinaryList& list) : list_(list) {}

    PropertyList build(uint64_t index, int depth) {
        const Object object = *list_.object(index);
        if (object.type == kAscii || object.type == kUtf16) return PropertyList::makeText(text(index, object));
        if (object.type == kData) return PropertyList::makeData(list_.data(object));
        if (object.type != kDictionary) return PropertyList::makeOther();
        std::vector<std::pair<QString, PropertyList>> entries;
        if (depth < PropertyList::keptDictionaryDepth) {
            entries.reserve(object.count);
            for (uint64_t i = 0; i < object.count; ++i) {
                const uint64_t key = *list_.ref(object, i);
                const uint64_t value = *list_.ref(object, object.count + i);
                entries.emplace_back(text(key, *list_.object(key)), build(value, depth + 1));
            }
        }
        return PropertyList::makeDictionary(std::move(entries));
    }

private:
    QString text(uint64_t index, const Object& object) {
        auto found = texts_.find(index);
        if (found != texts_.end()) return found->second;
        return texts_.emplace(index, list_.text(object)).first->second;
    }

    const BinaryList& list_;
    std::unordered_map<uint64_t, QString> texts_;
};

}  // namespace

std::optional<PropertyList> readBinary(const QByteArray& data, QString* error) {
    BinaryList list(data);
    const char* why = list.readTrailer() ? validate(list) : kMalformed;
    if (why) {
        if (error) *error = QString::fromLatin1(why);
        return std::nullopt;
    }
    return Builder(list).build(list.root(), 0);
}

}  // namespace propertylist
