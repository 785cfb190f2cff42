#include "detection/property_list_readers.h"

#include <QXmlStreamReader>

namespace propertylist {
namespace {

// An open <dict> or <array>. Only dictionaries near the root keep their entries.
struct Container {
    bool isDictionary = false;
    bool keepsEntries = false;
    std::vector<std::pair<QString, PropertyList>> entries;
    std::optional<QString> pendingKey;
};

bool isScalar(QStringView name) {
    return name == u"integer" || name == u"real" || name == u"true" || name == u"false" || name == u"date";
}

bool startsLikeXml(const QByteArray& data) {
    for (char c : data) {
        if (c == '<') return true;
        // Leading white space and a UTF-8 byte order mark are allowed.
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\xEF' && c != '\xBB' && c != '\xBF') return false;
    }
    return false;
}

}  // namespace

// A streaming read with an explicit stack of open containers: nesting costs no native stack, and
// the depth and value limits hold however the document is written.
std::optional<PropertyList> readXml(const QByteArray& data, QString* error) {
    auto fail = [error](const QString& why) -> std::optional<PropertyList> {
        if (error) *error = why;
        return std::nullopt;
    };
    auto malformed = [&](const QString& detail) {
        return fail(QStringLiteral("the XML property list is malformed: ") + detail);
    };
    if (!startsLikeXml(data)) return fail(QString::fromLatin1(kNotAList));

    QXmlStreamReader xml(data);
    std::vector<Container> stack;
    std::optional<PropertyList> root;
    bool inPlist = false;
    bool plistClosed = false;
    int values = 0;

    // Hands a finished value to the open container, or makes it the root.
    auto place = [&](PropertyList value) -> bool {
        if (stack.empty()) {
            if (root) return false;
            root = std::move(value);
            return true;
        }
        Container& parent = stack.back();
        if (!parent.isDictionary) return true;  // array contents are not kept
        if (!parent.pendingKey) return false;
        if (parent.keepsEntries) parent.entries.emplace_back(std::move(*parent.pendingKey), std::move(value));
        parent.pendingKey.reset();
        return true;
    };

    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            if (!inPlist) {
                if (name != u"plist" || plistClosed) return malformed(QStringLiteral("the root element is not <plist>"));
                inPlist = true;
                continue;
            }
            if (++values > PropertyList::maxValues) return fail(QString::fromLatin1(kTooManyValues));
            if (name == u"dict" || name == u"array") {
                if (static_cast<int>(stack.size()) >= PropertyList::maxNesting) return fail(QString::fromLatin1(kTooDeep));
                Container container;
                container.isDictionary = name == u"dict";
                const bool parentKeeps = stack.empty() || stack.back().keepsEntries;
                container.keepsEntries = container.isDictionary && parentKeeps &&
                                         static_cast<int>(stack.size()) < PropertyList::keptDictionaryDepth;
                if (!stack.empty() && stack.back().isDictionary && !stack.back().pendingKey)
                    return malformed(QStringLiteral("a value without a key"));
                stack.push_back(std::move(container));
            } else if (name == u"key") {
                if (stack.empty() || !stack.back().isDictionary || stack.back().pendingKey)
                    return malformed(QStringLiteral("a key outside a dictionary or without a value"));
                QString key = xml.readElementText();
                if (xml.hasError()) break;
                if (key.contains(QChar(u'\0'))) return fail(QString::fromLatin1(kNulInKey));
                stack.back().pendingKey = std::move(key);
            } else if (name == u"string") {
                QString text = xml.readElementText();
                if (xml.hasError()) break;
                if (!place(PropertyList::makeText(std::move(text)))) return malformed(QStringLiteral("a misplaced value"));
            } else if (name == u"data") {
                const QString text = xml.readElementText();
                if (xml.hasError()) break;
                // Line breaks and indentation may sit inside; anything else not base64 leaves an opaque value.
                QByteArray base64 = text.toLatin1();
                base64.removeIf([](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
                const auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
                PropertyList value = decoded ? PropertyList::makeData(*decoded) : PropertyList::makeOther();
                if (!place(std::move(value))) return malformed(QStringLiteral("a misplaced value"));
            } else if (isScalar(name)) {
                xml.readElementText();
                if (xml.hasError()) break;
                if (!place(PropertyList::makeOther())) return malformed(QStringLiteral("a misplaced value"));
            } else {
                return malformed(QStringLiteral("an unknown element <") + name.toString() + u'>');
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (stack.empty()) {  // </plist>
                inPlist = false;
                plistClosed = true;
                continue;
            }
            Container done = std::move(stack.back());
            stack.pop_back();
            if (done.pendingKey) return malformed(QStringLiteral("a key without a value"));
            PropertyList value = done.isDictionary ? PropertyList::makeDictionary(std::move(done.entries))
                                                   : PropertyList::makeOther();
            if (!place(std::move(value))) return malformed(QStringLiteral("a misplaced value"));
        } else if (token == QXmlStreamReader::Characters) {
            if (!xml.isWhitespace()) return malformed(QStringLiteral("text outside a value"));
        }
    }
    if (xml.hasError()) return malformed(xml.errorString());
    if (!root || !plistClosed) return malformed(QStringLiteral("no value"));
    return root;
}

}  // namespace propertylist
