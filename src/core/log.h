#pragma once

#include <QString>

// The one logger of the application. Messages are written exactly as passed; by convention they
// start with the component's name and a colon ("AppDelegate: Settings window created").
class Log {
public:
    static Log& shared();

    void debug(const QString& message) const;
    void info(const QString& message) const;
    void warning(const QString& message) const;
    void error(const QString& message) const;
};
