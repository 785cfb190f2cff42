#include "detection/property_list.h"

#include "detection/property_list_nesting.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace {

// Deeper dictionaries are kept as dictionaries without entries: the reader never looks further
// than three levels, and a hostile list cannot drive the conversion into deep recursion.
constexpr int kMaxDepth = 4;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

PropertyList convert(plist_t node, int depth) {
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* bytes = plist_get_string_ptr(node, &length);
        if (!bytes) return PropertyList::makeText(QString());
        return PropertyList::makeText(QString::fromUtf8(bytes, static_cast<qsizetype>(length)));
    }
    case PLIST_DICT: {
        std::vector<std::pair<QString, PropertyList>> entries;
        if (depth < kMaxDepth) {
            plist_dict_iter iter = nullptr;
            plist_dict_new_iter(node, &iter);
            if (iter) {
                for (;;) {
                    char* key = nullptr;
                    plist_t value = nullptr;
                    plist_dict_next_item(node, iter, &key, &value);
                    if (!value) {
                        std::free(key);
                        break;
                    }
                    QString name = key ? QString::fromUtf8(key) : QString();
                    std::free(key);
                    entries.emplace_back(std::move(name), convert(value, depth + 1));
                }
                std::free(iter);
            }
        }
        return PropertyList::makeDictionary(std::move(entries));
    }
    default:
        return PropertyList::makeOther();
    }
}

}  // namespace

std::optional<PropertyList> PropertyList::parse(const QByteArray& data, QString* error) {
    auto fail = [error](const char* why) -> std::optional<PropertyList> {
        if (error) *error = QString::fromLatin1(why);
        return std::nullopt;
    };
    if (data.isEmpty() || static_cast<uint64_t>(data.size()) > std::numeric_limits<uint32_t>::max())
        return fail("the data is not a binary or XML property list");
    if (!propertyListNestingWithin(data, maxNesting))
        return fail("the data is malformed or nested more than 512 levels deep");
    plist_t raw = nullptr;
    plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &raw);
    if (!raw) return fail("the data is not a binary or XML property list");
    PlistPtr root(raw);
    return convert(root.get(), 0);
}

std::optional<QString> PropertyList::text() const {
    if (kind_ != Kind::text) return std::nullopt;
    return text_;
}

const PropertyList* PropertyList::value(const QString& key) const {
    for (const auto& [name, value] : entries_)
        if (name == key) return &value;
    return nullptr;
}

std::optional<QString> PropertyList::textValue(const QString& key) const {
    const PropertyList* found = value(key);
    return found ? found->text() : std::nullopt;
}

const PropertyList* PropertyList::dictionaryValue(const QString& key) const {
    const PropertyList* found = value(key);
    return found && found->isDictionary() ? found : nullptr;
}

PropertyList PropertyList::makeText(QString text) {
    PropertyList list;
    list.kind_ = Kind::text;
    list.text_ = std::move(text);
    return list;
}

PropertyList PropertyList::makeDictionary(std::vector<std::pair<QString, PropertyList>> entries) {
    PropertyList list;
    list.kind_ = Kind::dictionary;
    list.entries_ = std::move(entries);
    return list;
}

PropertyList PropertyList::makeOther() { return PropertyList(); }
