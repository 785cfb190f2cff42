#include "platform/workspace/icon_theme_index.h"

#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <unordered_map>

namespace platform {

bool ThemeFolder::matches(int pixels) const {
    if (scale != 1) return false;
    switch (type) {
    case Type::fixed: return size == pixels;
    case Type::scalable: return minSize <= pixels && pixels <= maxSize;
    case Type::threshold: return size - threshold <= pixels && pixels <= size + threshold;
    }
    return false;
}

int ThemeFolder::distance(int pixels) const {
    const auto outside = [&](int low, int high) {
        return pixels < low * scale ? low * scale - pixels : pixels > high * scale ? pixels - high * scale : 0;
    };
    switch (type) {
    case Type::fixed: return std::abs(size * scale - pixels);
    case Type::scalable: return outside(minSize, maxSize);
    case Type::threshold: return outside(size - threshold, size + threshold);
    }
    return INT_MAX;
}

ThemeIndex parseThemeIndex(const QByteArray& bytes) {
    ThemeIndex index;
    QList<QByteArray> listed;
    struct Details {
        ThemeFolder folder;
        bool minSize = false, maxSize = false;  // given; else they are Size
    };
    std::unordered_map<std::string, Details> details;  // its elements stay where they are
    Details* section = &details[std::string()];
    bool header = false;  // in [Icon Theme]
    const QByteArrayView text(bytes);
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0) end = text.size();
        const QByteArrayView line = text.sliced(start, end - start).trimmed();
        start = end + 1;
        if (line.startsWith('[') && line.endsWith(']')) {
            const QByteArrayView name = line.sliced(1, line.size() - 2);
            header = name == "Icon Theme";
            if (!header) section = &details[std::string(name.data(), size_t(name.size()))];
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0 || line.startsWith('#')) continue;
        const QByteArrayView key = line.first(eq).trimmed();
        const QByteArrayView value = line.sliced(eq + 1).trimmed();
        if (header) {
            if (key == "Inherits") {
                index.inherits.clear();
                for (const QByteArray& parent : value.toByteArray().split(',')) {
                    const QByteArray name = parent.trimmed();
                    if (!name.isEmpty()) index.inherits << QString::fromUtf8(name);
                }
            } else if (key == "Directories") {
                listed = value.toByteArray().split(',');
            }
            continue;
        }
        ThemeFolder& d = section->folder;
        if (key == "Size") d.size = value.toInt();
        else if (key == "MinSize") d.minSize = value.toInt(), section->minSize = true;
        else if (key == "MaxSize") d.maxSize = value.toInt(), section->maxSize = true;
        else if (key == "Threshold") d.threshold = value.toInt();
        else if (key == "Scale") d.scale = std::max(1, value.toInt());
        else if (key == "Type") {
            d.type = value == "Fixed"      ? ThemeFolder::Type::fixed
                     : value == "Scalable" ? ThemeFolder::Type::scalable
                                           : ThemeFolder::Type::threshold;
        }
    }
    index.folders.reserve(size_t(listed.size()));
    for (const QByteArray& entry : listed) {
        const QByteArray name = entry.trimmed();
        const auto found = details.find(std::string(name.constData(), size_t(name.size())));
        if (name.isEmpty() || found == details.end() || found->second.folder.size <= 0) continue;
        ThemeFolder folder = found->second.folder;
        folder.name = name;
        if (!found->second.minSize) folder.minSize = folder.size;
        if (!found->second.maxSize) folder.maxSize = folder.size;
        index.folders.push_back(folder);
    }
    return index;
}

}  // namespace platform
