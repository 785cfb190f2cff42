#include "platform/workspace/icon_theme_cache.h"

#include <cstring>

namespace platform {

namespace {

// The name's bucket, as the cache's writer hashes it (over signed chars).
quint32 nameHash(std::string_view name) {
    if (name.empty()) return 0;
    quint32 h = quint32(qint32(static_cast<signed char>(name[0])));
    for (size_t i = 1; i < name.size(); ++i) h = (h << 5) - h + quint32(qint32(static_cast<signed char>(name[i])));
    return h;
}

// Chains and lists longer than this are taken as a loop in a damaged file.
constexpr quint32 kMaxSteps = 1u << 16;

}  // namespace

std::optional<quint32> IconThemeCache::card32(quint32 offset) const {
    if (qint64(offset) + 4 > bytes_.size()) return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(bytes_.constData()) + offset;
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

std::optional<quint16> IconThemeCache::card16(quint32 offset) const {
    if (qint64(offset) + 2 > bytes_.size()) return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(bytes_.constData()) + offset;
    return quint16(p[0] << 8 | p[1]);
}

std::optional<std::string_view> IconThemeCache::text(quint32 offset) const {
    if (qint64(offset) >= bytes_.size()) return std::nullopt;
    const char* start = bytes_.constData() + offset;
    const void* end = std::memchr(start, '\0', size_t(bytes_.size() - offset));
    if (!end) return std::nullopt;
    return std::string_view(start, size_t(static_cast<const char*>(end) - start));
}

std::optional<IconThemeCache> IconThemeCache::parse(QByteArray bytes) {
    IconThemeCache cache;
    cache.bytes_ = std::move(bytes);
    if (cache.card16(0) != 1) return std::nullopt;  // the major version
    const std::optional<quint32> hash = cache.card32(4);
    const std::optional<quint32> list = cache.card32(8);
    if (!hash || !list) return std::nullopt;
    cache.hashOffset_ = *hash;
    const std::optional<quint32> count = cache.card32(*list);
    if (!count || *count > kMaxSteps) return std::nullopt;
    for (quint32 i = 0; i < *count; ++i) {
        const std::optional<quint32> at = cache.card32(*list + 4 + 4 * i);
        const std::optional<std::string_view> name = at ? cache.text(*at) : std::nullopt;
        if (!name) return std::nullopt;
        cache.folders_.emplace(std::string(*name), quint16(i));
    }
    return cache.whole(*count) ? std::optional(std::move(cache)) : std::nullopt;
}

// Every chain, name and list inside the bytes, each a cut or damaged file leaves out.
bool IconThemeCache::whole(quint32 folders) const {
    const std::optional<quint32> buckets = card32(hashOffset_);
    if (!buckets || qint64(*buckets) * 4 > bytes_.size()) return false;
    quint32 steps = 0;
    const quint32 limit = quint32(bytes_.size() / 4);
    for (quint32 b = 0; b < *buckets; ++b) {
        std::optional<quint32> icon = card32(hashOffset_ + 4 + 4 * b);
        for (; icon && *icon != 0xffffffff; icon = card32(*icon)) {
            if (++steps > limit) return false;
            const std::optional<quint32> nameAt = card32(*icon + 4);
            const std::optional<quint32> images = card32(*icon + 8);
            const std::optional<quint32> count = images ? card32(*images) : std::nullopt;
            if (!nameAt || !text(*nameAt) || !count || qint64(*images) + 4 + qint64(*count) * 8 > bytes_.size())
                return false;
            for (quint32 i = 0; i < *count; ++i)
                if (*card16(*images + 4 + 8 * i) >= folders) return false;
        }
        if (!icon) return false;
    }
    return true;
}

int IconThemeCache::kinds(std::string_view name, std::string_view folder) const {
    const auto known = folders_.find(std::string(folder));
    const std::optional<quint32> buckets = card32(hashOffset_);
    if (known == folders_.end() || !buckets || *buckets == 0) return 0;
    std::optional<quint32> icon = card32(hashOffset_ + 4 + 4 * (nameHash(name) % *buckets));
    for (quint32 step = 0; icon && *icon != 0xffffffff && step < kMaxSteps; ++step) {
        const std::optional<quint32> nameAt = card32(*icon + 4);
        if (nameAt && text(*nameAt) == name) {
            const std::optional<quint32> images = card32(*icon + 8);
            const std::optional<quint32> count = images ? card32(*images) : std::nullopt;
            for (quint32 i = 0; count && i < *count && i < kMaxSteps; ++i) {
                const quint32 image = *images + 4 + 8 * i;
                if (card16(image) != known->second) continue;
                const int flags = card16(image + 2).value_or(0);
                // The writer's flags: 1 an .xpm, 2 an .svg, 4 a .png.
                return (flags & 4 ? png : 0) | (flags & 2 ? svg : 0) | (flags & 1 ? xpm : 0);
            }
            return 0;
        }
        icon = card32(*icon);
    }
    return 0;
}

}  // namespace platform
