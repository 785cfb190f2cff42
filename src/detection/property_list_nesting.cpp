#include "detection/property_list_nesting.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace {

// Binary lists: header "bplist00", objects, an offset table and a 32-byte trailer.
class BinaryLayout {
public:
    explicit BinaryLayout(const QByteArray& data)
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
        return tableOffset_ <= size_ - 32 && objectCount_ * offsetSize_ <= size_ - 32 - tableOffset_;
    }

    uint64_t objectCount() const { return objectCount_; }
    uint64_t root() const { return root_; }

    // The references held by a container object; none for other objects, nullopt when malformed.
    std::optional<std::vector<uint64_t>> children(uint64_t object) const {
        const uint64_t offset = bigEndian(bytes_ + tableOffset_ + object * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= tableOffset_) return std::nullopt;
        const uint8_t marker = bytes_[offset];
        const uint8_t type = marker >> 4;
        const bool isArrayOrSet = type == 0xA || type == 0xB || type == 0xC;
        if (!isArrayOrSet && type != 0xD) return std::vector<uint64_t>{};

        uint64_t position = offset + 1;
        uint64_t count = marker & 0x0F;
        if (count == 0x0F) {
            if (position >= tableOffset_) return std::nullopt;
            const uint8_t intMarker = bytes_[position++];
            if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return std::nullopt;
            const uint64_t width = uint64_t{1} << (intMarker & 0x0F);
            if (position + width > tableOffset_) return std::nullopt;
            count = bigEndian(bytes_ + position, width);
            position += width;
        }
        const uint64_t refs = type == 0xD ? count * 2 : count;
        if (count > size_ || refs * refSize_ > tableOffset_ - position) return std::nullopt;
        std::vector<uint64_t> out;
        out.reserve(refs);
        for (uint64_t i = 0; i < refs; ++i) {
            const uint64_t ref = bigEndian(bytes_ + position + i * refSize_, refSize_);
            if (ref >= objectCount_) return std::nullopt;
            out.push_back(ref);
        }
        return out;
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

// Longest chain of containers below the root, each object measured once, without recursion.
bool binaryNestingWithin(const QByteArray& data, int maxDepth) {
    BinaryLayout layout(data);
    if (!layout.readTrailer()) return false;
    enum : uint8_t { unvisited, open, finished };
    std::vector<uint8_t> state(layout.objectCount(), unvisited);
    std::vector<int> height(layout.objectCount(), 0);
    struct Frame {
        uint64_t object;
        std::vector<uint64_t> children;
        size_t next = 0;
    };
    std::vector<Frame> stack;

    auto enter = [&](uint64_t object) {
        auto children = layout.children(object);
        if (!children) return false;
        state[object] = open;
        stack.push_back({object, std::move(*children), 0});
        return static_cast<int>(stack.size()) <= maxDepth;
    };
    if (!enter(layout.root())) return false;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.children.size()) {
            const uint64_t child = frame.children[frame.next++];
            if (state[child] == open) return false;  // a cycle
            if (state[child] == finished) {
                if (static_cast<int>(stack.size()) + 1 + height[child] > maxDepth) return false;
                height[frame.object] = std::max(height[frame.object], height[child] + 1);
                continue;
            }
            if (!enter(child)) return false;
            continue;
        }
        const uint64_t done = frame.object;
        state[done] = finished;
        stack.pop_back();
        if (!stack.empty()) height[stack.back().object] = std::max(height[stack.back().object], height[done] + 1);
    }
    return true;
}

// XML: the depth of open elements, skipping declarations, comments and character data.
bool xmlNestingWithin(const QByteArray& data, int maxDepth) {
    const char* p = data.constData();
    const char* end = p + data.size();
    auto skipPast = [&](const char* from, const char* terminator) -> const char* {
        const QByteArray view = QByteArray::fromRawData(from, end - from);
        const qsizetype found = view.indexOf(terminator);
        return found < 0 ? end : from + found + qstrlen(terminator);
    };
    int depth = 0;
    while (p < end) {
        if (*p != '<') {
            ++p;
            continue;
        }
        if (end - p >= 4 && qstrncmp(p, "<!--", 4) == 0) {
            p = skipPast(p + 4, "-->");
        } else if (end - p >= 9 && qstrncmp(p, "<![CDATA[", 9) == 0) {
            p = skipPast(p + 9, "]]>");
        } else if (end - p >= 2 && (p[1] == '?' || p[1] == '!')) {
            p = skipPast(p + 2, ">");
        } else if (end - p >= 2 && p[1] == '/') {
            if (depth > 0) --depth;
            p = skipPast(p + 2, ">");
        } else {
            // An opening tag; quoted attribute values may hold '>'.
            const char* q = p + 1;
            char quote = 0;
            while (q < end && (quote || *q != '>')) {
                if (quote && *q == quote)
                    quote = 0;
                else if (!quote && (*q == '"' || *q == '\''))
                    quote = *q;
                ++q;
            }
            const bool selfClosing = q < end && q > p + 1 && q[-1] == '/';
            if (!selfClosing && ++depth > maxDepth) return false;
            p = q < end ? q + 1 : end;
        }
    }
    return true;
}

}  // namespace

bool propertyListNestingWithin(const QByteArray& data, int maxDepth) {
    if (data.startsWith("bplist00")) return binaryNestingWithin(data, maxDepth);
    return xmlNestingWithin(data, maxDepth);
}
