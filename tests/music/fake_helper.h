#pragma once

// A scripted now-playing helper on the fake process launcher: greets, answers each request line
// through `answer`, and can misbehave the ways a real child does.

#include "support/fake_process.h"

#include <QByteArray>
#include <QList>

#include <functional>

namespace musictest {

class FakeHelper {
public:
    enum class Greeting { ready, other, silent, exitAtOnce };

    FakeHelper() {
        launcher.onStart = [this](testsupport::FakeChild& child) {
            switch (greeting) {
            case Greeting::ready: child.emitLine("READY"); break;
            case Greeting::other: child.emitLine("Compiling..."); break;
            case Greeting::silent: break;
            case Greeting::exitAtOnce: child.exit(1); return;
            }
            child.onLine = [this](testsupport::FakeChild& c, const QByteArray& line) {
                requests << line;
                if (line == "quit") {
                    c.exit(0);
                    return;
                }
                if (answer) c.emitOutput(answer(line));
            };
        };
    }

    // The raw bytes written back for a request line (usually one line with its line feed).
    std::function<QByteArray(const QByteArray& line)> answer = [](const QByteArray& line) -> QByteArray {
        if (line == "query") return "{\"isPlaying\":false}\n";
        if (line.startsWith("cmd:")) return "{\"commandResult\":true}\n";
        return {};
    };
    // Replies with `json` to every query from now on.
    void answerQueries(const QByteArray& json) {
        answer = [json](const QByteArray& line) -> QByteArray {
            if (line == "query") return json + '\n';
            if (line.startsWith("cmd:")) return "{\"commandResult\":true}\n";
            return {};
        };
    }

    Greeting greeting = Greeting::ready;
    testsupport::FakeProcessLauncher launcher;
    QList<QByteArray> requests;  // every line any started helper received
    testsupport::FakeChild& child() { return *launcher.lastChild(); }
};

}  // namespace musictest
