#include "detection/popup_content.h"

PopupContent PopupContent::of(const AXTreeSnapshot& snapshot) {
    PopupContent content;
    if (snapshot.texts.isEmpty()) return content;
    const QString title = snapshot.texts.front();
    std::optional<QString> body;
    for (const QString& text : snapshot.texts.mid(1)) {
        if (text.compare(title, Qt::CaseInsensitive) != 0) {
            body = text;
            break;
        }
    }
    content.message = body ? title + QStringLiteral(" \u2022 ") + *body : title;
    content.appName = snapshot.appName;
    auto isText = [&](const QString& name) {
        return name.compare(title, Qt::CaseInsensitive) == 0 || (body && name.compare(*body, Qt::CaseInsensitive) == 0);
    };
    if (content.appName && isText(*content.appName)) content.appName.reset();
    return content;
}
