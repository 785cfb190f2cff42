#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// A property list as far as the record reader looks into it: texts, dictionaries with their keys
// in the list's own order, and everything else as an opaque "other" value.
class PropertyList {
public:
    enum class Kind { text, dictionary, other };

    // Containers nested deeper than this are refused before the library sees them.
    static constexpr int maxNesting = 512;

    // Binary or XML. None when the bytes are not a property list; `error` then says why, in
    // words of our own (the library reports no detail).
    static std::optional<PropertyList> parse(const QByteArray& data, QString* error = nullptr);

    Kind kind() const { return kind_; }
    bool isDictionary() const { return kind_ == Kind::dictionary; }
    // The text of a text value.
    std::optional<QString> text() const;

    // Dictionary entries in the list's order (empty for other kinds).
    const std::vector<std::pair<QString, PropertyList>>& entries() const { return entries_; }
    // The value under `key`, or nullptr.
    const PropertyList* value(const QString& key) const;
    // The value under `key` when it is a text.
    std::optional<QString> textValue(const QString& key) const;
    // The value under `key` when it is a dictionary, or nullptr.
    const PropertyList* dictionaryValue(const QString& key) const;

    static PropertyList makeText(QString text);
    static PropertyList makeDictionary(std::vector<std::pair<QString, PropertyList>> entries);
    static PropertyList makeOther();

private:
    Kind kind_ = Kind::other;
    QString text_;
    std::vector<std::pair<QString, PropertyList>> entries_;
};
