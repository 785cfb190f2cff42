#include "platform/shell/bundle_info.h"

#include <QFile>

#include <plist/plist.h>

#include <memory>

namespace platform {

std::map<QString, QString> BundleInfo::stringValues(const QString& path) {
    std::map<QString, QString> values;
    QFile file(path);
    // A property list is small; anything far larger is not one.
    constexpr qint64 maxBytes = 1 << 20;
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxBytes) return values;
    const QByteArray bytes = file.read(maxBytes);
    if (bytes.isEmpty()) return values;

    plist_t root = nullptr;
    if (bytes.startsWith("bplist00")) {
        plist_from_bin(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    } else {
        plist_from_xml(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    }
    const std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);
    if (!root || plist_get_node_type(root) != PLIST_DICT) return values;

    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root, &it);
    if (!it) return values;
    while (true) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(root, it, &key, &item);
        if (!key) break;
        if (item && plist_get_node_type(item) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(item, &text);
            if (text) values[QString::fromUtf8(key)] = QString::fromUtf8(text);
            free(text);
        }
        free(key);
    }
    free(it);
    return values;
}

QString BundleInfo::infoPlistPath(const QString& bundlePath) {
    return bundlePath + QStringLiteral("/Contents/Info.plist");
}

}  // namespace platform
