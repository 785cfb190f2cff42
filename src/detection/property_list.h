#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// A property list as far as the record reader looks into it: texts, data, dictionaries with their
// keys in the list's own order, and everything else as an opaque "other" value.
//
// Records come from a store other programs write, so the reader is our own and treats every byte
// as hostile: it never recurses on the input, never expands a shared value more than once, and
// refuses lists beyond the limits below before building anything.
class PropertyList {
public:
    enum class Kind { text, data, dictionary, other };

    // Containers nested deeper than this are refused.
    static constexpr int maxNesting = 512;
    // Values (keys included) the list would hold written out as a tree, shared values counted
    // once per place they appear.
    static constexpr int maxValues = 4096;
    static constexpr qsizetype maxBytes = 512 * 1024;
    // Dictionaries deeper than this are kept without entries: the record reader never looks further.
    static constexpr int keptDictionaryDepth = 4;

    // Binary ("bplist00") or XML. None when the bytes are not a property list or are beyond the
    // limits; `error` then says why.
    static std::optional<PropertyList> parse(const QByteArray& data, QString* error = nullptr);

    Kind kind() const { return kind_; }
    bool isDictionary() const { return kind_ == Kind::dictionary; }
    // The text of a text value.
    std::optional<QString> text() const;
    // The bytes of a data value.
    std::optional<QByteArray> data() const;

    // Dictionary entries in the list's order (empty for other kinds).
    const std::vector<std::pair<QString, PropertyList>>& entries() const { return entries_; }
    // The value under `key`, or nullptr.
    const PropertyList* value(const QString& key) const;
    // The value under `key` when it is a text.
    std::optional<QString> textValue(const QString& key) const;
    // The value under `key` when it is data.
    std::optional<QByteArray> dataValue(const QString& key) const;
    // The value under `key` when it is a dictionary, or nullptr.
    const PropertyList* dictionaryValue(const QString& key) const;

    static PropertyList makeText(QString text);
    static PropertyList makeData(QByteArray data);
    static PropertyList makeDictionary(std::vector<std::pair<QString, PropertyList>> entries);
    static PropertyList makeOther();

private:
    Kind kind_ = Kind::other;
    QString text_;
    QByteArray data_;
    std::vector<std::pair<QString, PropertyList>> entries_;
};
