#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// What running a script gave: its result as text (absent when it returned nothing) or, on
// failure, the error's text form. `data` is the result's raw bytes when it has any (an image
// a player hands out); absent otherwise.
struct ScriptOutcome {
    std::optional<QString> result;
    std::optional<QString> error;
    std::optional<QByteArray> data;

    bool succeeded() const { return !error.has_value(); }
    static ScriptOutcome success(std::optional<QString> text = std::nullopt) { return {std::move(text), std::nullopt, std::nullopt}; }
    static ScriptOutcome failure(const QString& text) { return {std::nullopt, text, std::nullopt}; }
};

// Runs AppleScript source in process. A run blocks the calling thread until the script ends.
class ScriptRunner {
public:
    virtual ~ScriptRunner() = default;

    // The process-wide runner (LinuxScriptRunner unless a test installed another).
    static ScriptRunner& shared();
    // Installs `runner` (nullptr restores the default); returns the previous one.
    static ScriptRunner* setShared(ScriptRunner* runner);

    virtual ScriptOutcome run(const QString& source) = 0;
};

// Linux has no script host: every run fails with the same error text.
class UnavailableScriptRunner final : public ScriptRunner {
public:
    static QString errorText();
    ScriptOutcome run(const QString& source) override;
};

}  // namespace platform
