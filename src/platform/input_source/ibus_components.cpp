#include "platform/input_source/ibus_components.h"

#include "platform/input_source/input_method_mode.h"
#include "platform/process/child_process.h"

#include <QStandardPaths>
#include <QStringList>
#include <QXmlStreamReader>

#include <initializer_list>
#include <utility>

namespace platform {

namespace {

constexpr double kReadCacheTimeout = 5.0;
// Every keyboard layout is an engine of its own: a registry runs to a megabyte.
constexpr std::size_t kRegistryLimit = 16u << 20;

// The pairing in a registry as `ibus read-cache` prints it: <ibus-registry>, <components>, each
// <component> with its <name> and <engines>, each <engine> with its <name>. What a cut-off
// document held before the cut is kept.
IBusComponents componentsFromRegistry(const QByteArray& registry) {
    IBusComponents components;
    QXmlStreamReader xml(registry);
    QStringList stack;  // the elements the reader is in, outermost first
    QString component;
    QStringList engines;
    const auto within = [&stack](std::initializer_list<const char*> path) {
        if (stack.size() != qsizetype(path.size())) return false;
        qsizetype i = 0;
        for (const char* name : path)
            if (stack.at(i++) != QLatin1String(name)) return false;
        return true;
    };
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (within({"ibus-registry", "components", "component"})) {
                if (!component.isEmpty())
                    for (const QString& engine : std::as_const(engines)) components.insert(engine, component);
                component.clear();
                engines.clear();
            }
            if (!stack.isEmpty()) stack.removeLast();
            continue;
        }
        if (token != QXmlStreamReader::StartElement) continue;
        stack.append(xml.name().toString());
        const bool componentName = within({"ibus-registry", "components", "component", "name"});
        if (!componentName && !within({"ibus-registry", "components", "component", "engines", "engine", "name"})) continue;
        const QString name = xml.readElementText().trimmed();
        stack.removeLast();
        if (name.isEmpty() || name.size() > maxInputMethodText) continue;
        if (componentName) component = name;
        else engines.append(name);
    }
    return components;
}

}  // namespace

IBusComponents runIBusReadCache() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("ibus"));
    if (program.isEmpty()) return {};
    for (const QStringList& arguments : {QStringList{QStringLiteral("read-cache")},
                                         QStringList{QStringLiteral("read-cache"), QStringLiteral("--system")}}) {
        const ProcessResult result =
            ProcessLauncher::system().run(ProcessSpec{program, arguments, {}, {}}, kReadCacheTimeout, kRegistryLimit);
        if (result.succeeded()) return componentsFromRegistry(result.standardOutput);
    }
    return {};
}

}  // namespace platform
