#include "detection/property_list.h"

#include "detection/property_list_readers.h"

std::optional<PropertyList> PropertyList::parse(const QByteArray& data, QString* error) {
    auto fail = [error](const QString& why) -> std::optional<PropertyList> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (data.isEmpty()) return fail(QString::fromLatin1(propertylist::kNotAList));
    if (data.size() > maxBytes) return fail(QStringLiteral("the data is larger than 512 KiB"));
    if (data.startsWith("bplist00")) return propertylist::readBinary(data, error);
    return propertylist::readXml(data, error);
}

std::optional<QString> PropertyList::text() const {
    if (kind_ != Kind::text) return std::nullopt;
    return text_;
}

std::optional<QByteArray> PropertyList::data() const {
    if (kind_ != Kind::data) return std::nullopt;
    return data_;
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

std::optional<QByteArray> PropertyList::dataValue(const QString& key) const {
    const PropertyList* found = value(key);
    return found ? found->data() : std::nullopt;
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

PropertyList PropertyList::makeData(QByteArray data) {
    PropertyList list;
    list.kind_ = Kind::data;
    list.data_ = std::move(data);
    return list;
}

PropertyList PropertyList::makeDictionary(std::vector<std::pair<QString, PropertyList>> entries) {
    PropertyList list;
    list.kind_ = Kind::dictionary;
    list.entries_ = std::move(entries);
    return list;
}

PropertyList PropertyList::makeOther() { return PropertyList(); }
