#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <optional>

namespace testsupport {

// Evolution Data Server on a private session bus with a throw-away HOME. The bus activates only
// the calendar daemons. Calendars are seeded as files before start(); the process environment
// points at the private home and bus while the session lives, and every daemon it activated is
// ended with it. One per test suite: GLib keeps its session connection for the process.
class EdsSession {
public:
    EdsSession();
    ~EdsSession();
    EdsSession(const EdsSession&) = delete;
    EdsSession& operator=(const EdsSession&) = delete;

    // A local calendar with `veventBlocks` (VEVENT texts, CRLF or LF) as its contents.
    void addCalendar(const QString& uid, const QString& name, const QString& color, const QString& veventBlocks);
    // Replaces the contents of the built-in personal calendar.
    void seedPersonalCalendar(const QString& veventBlocks);

    // Starts the bus; false with `error` set when it could not.
    bool start(QString* error = nullptr);
    QString busAddress() const { return address_; }
    QString home() const { return dir_.path(); }
    // The environment for helper processes that should reach the same store.
    QProcessEnvironment environment() const;

    // Runs the GLib/Qt main loop until `done` or `seconds` of wall time passed; the result of `done`.
    static bool waitUntil(const std::function<bool()>& done, double seconds = 10);

private:
    void writeCalendarFile(const QString& folder, const QString& veventBlocks);
    void endDaemons();

    QTemporaryDir dir_;
    QProcess bus_;
    QString address_;
    std::map<QByteArray, std::optional<QByteArray>> savedEnvironment_;
};

}  // namespace testsupport
