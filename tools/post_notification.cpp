// Posts one notification into a notification store under a home folder, the way the system does,
// so the database detector can be tried by hand:
//   quillvex-post-notification --home DIR --bundle com.example.Mail --title T [--subtitle S] [--body B]

#include "permissions/notification_database_locations.h"
#include "tools/notification_store.h"

#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <map>
#include <optional>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: quillvex-post-notification --home DIR --bundle ID --title TEXT [--subtitle TEXT] [--body TEXT]\n"
    "\n"
    "Appends one notification record to the notification store under DIR (created, with its\n"
    "folders and tables, when missing), at the first place the database detector looks.\n"
    "\n"
    "  --home DIR        the home folder to post under; it must exist\n"
    "  --bundle ID       bundle identifier of the posting application, e.g. com.example.Mail\n"
    "  --title TEXT      the notification's title (may be empty)\n"
    "  --subtitle TEXT   its subtitle\n"
    "  --body TEXT       its body\n"
    "  --help            show this text\n"
    "\n"
    "Exit status: 0 posted, 1 the store could not be written, 2 bad arguments.\n";

void printError(const QString& message) {
    std::fprintf(stderr, "quillvex-post-notification: %s\n", message.toLocal8Bit().constData());
}

int usageError(const QString& message) {
    printError(message);
    std::fputs("Try 'quillvex-post-notification --help'.\n", stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    static const QStringList known = {QStringLiteral("--home"), QStringLiteral("--bundle"), QStringLiteral("--title"),
                                      QStringLiteral("--subtitle"), QStringLiteral("--body")};
    std::map<QString, QString> options;
    for (int i = 1; i < argc; ++i) {
        QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        QString name = argument;
        std::optional<QString> value;
        if (qsizetype equals = argument.indexOf(u'='); argument.startsWith(QLatin1String("--")) && equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
        }
        if (!known.contains(name)) return usageError(QStringLiteral("unknown argument '%1'").arg(argument));
        if (!value) {
            if (i + 1 >= argc) return usageError(QStringLiteral("%1 needs a value").arg(name));
            value = QString::fromLocal8Bit(argv[++i]);
        }
        if (options.count(name)) return usageError(QStringLiteral("%1 given more than once").arg(name));
        options[name] = *value;
    }

    auto option = [&](const char* name) -> std::optional<QString> {
        auto found = options.find(QString::fromLatin1(name));
        if (found == options.end()) return std::nullopt;
        return found->second;
    };
    const auto home = option("--home");
    const auto bundle = option("--bundle");
    const auto title = option("--title");
    if (!home || home->isEmpty()) return usageError(QStringLiteral("--home is required"));
    if (!bundle || bundle->trimmed().isEmpty()) return usageError(QStringLiteral("--bundle is required and may not be empty"));
    if (!title) return usageError(QStringLiteral("--title is required"));
    if (!QFileInfo(*home).isDir()) return usageError(QStringLiteral("home folder '%1' does not exist").arg(*home));

    // Plain concatenation, as the detector forms its paths: no trailing separator on the home.
    QString base = *home;
    while (base.size() > 1 && base.endsWith(u'/')) base.chop(1);
    const QString path = NotificationDatabaseLocations::fixedCandidates(base).first();

    notificationstore::Writer writer(path);
    if (!writer.isOpen()) {
        printError(writer.error());
        return kExitFailure;
    }
    const QByteArray data = notificationstore::encodePropertyList(
        notificationstore::notificationRecord(*bundle, title, option("--subtitle"), option("--body")));
    auto rowId = writer.appendRecord(*bundle, data);
    if (!rowId) {
        printError(writer.error());
        return kExitFailure;
    }
    std::printf("Posted record %lld to %s\n", static_cast<long long>(*rowId), path.toLocal8Bit().constData());
    return kExitOk;
}
