#include "platform/scripting/linux_script_runner.h"

#include <QRegularExpression>
#include <QStringList>

#include <optional>

namespace platform {

namespace {

// What running a statement list did: fell through, returned (with or without a text), or met
// something this runner cannot evaluate.
struct Flow {
    enum class Kind { next, returned, unsupported } kind = Kind::next;
    std::optional<QString> value;
};

class Evaluator {
public:
    explicit Evaluator(const QStringList& lines) : lines_(lines) {}

    ScriptOutcome run() {
        qsizetype index = 0;
        const Flow flow = block(index, /*stopAtElse=*/false);
        // A stray "end" or "else" at the outermost level is a syntax error.
        if (flow.kind == Flow::Kind::unsupported || (flow.kind == Flow::Kind::next && index < lines_.size())) {
            return ScriptOutcome::failure(UnavailableScriptRunner::errorText());
        }
        return ScriptOutcome::success(flow.value);
    }

private:
    static bool opensBlock(const QString& line) {
        if (line.startsWith(QLatin1String("if ")) && line.endsWith(QLatin1String(" then"))) return true;
        if (line.startsWith(QLatin1String("tell ")) && !line.contains(QLatin1String(" to "))) return true;
        return line == QLatin1String("try") || line.startsWith(QLatin1String("repeat")) ||
               line.startsWith(QLatin1String("on ")) || line.startsWith(QLatin1String("using terms from"));
    }
    static bool closesBlock(const QString& line) { return line == QLatin1String("end") || line.startsWith(QLatin1String("end ")); }

    // Runs lines from `index` until the end of the enclosing block (an "end ..." line, or "else"
    // when `stopAtElse`), leaving `index` on that line.
    Flow block(qsizetype& index, bool stopAtElse) {
        while (index < lines_.size()) {
            const QString line = lines_[index].trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1String("--"))) {
                ++index;
                continue;
            }
            if (closesBlock(line) || (stopAtElse && line == QLatin1String("else"))) return {};
            const Flow flow = statement(index, line);
            if (flow.kind != Flow::Kind::next) return flow;
        }
        return {};
    }

    // Moves `index` past the block whose opening line it is on, to its closing line; false when
    // the block never closes. With `stopAtElse`, an "else" of this block also ends the skip.
    bool skip(qsizetype& index, bool stopAtElse) {
        int depth = 0;
        for (++index; index < lines_.size(); ++index) {
            const QString line = lines_[index].trimmed();
            if (opensBlock(line)) {
                ++depth;
            } else if (closesBlock(line)) {
                if (depth == 0) return true;
                --depth;
            } else if (stopAtElse && depth == 0 && line == QLatin1String("else")) {
                return true;
            }
        }
        return false;
    }

    Flow statement(qsizetype& index, const QString& line) {
        static const QRegularExpression returnText(QStringLiteral(R"re(^return "([^"\\]*)"$)re"));
        static const QRegularExpression ifLine(QStringLiteral(R"re(^if (.+?) then(?: (.+))?$)re"));
        static const QRegularExpression tellSystemEvents(QStringLiteral(R"re(^tell application "System Events"$)re"));

        if (const auto match = returnText.match(line); match.hasMatch()) {
            ++index;
            return {Flow::Kind::returned, match.captured(1)};
        }
        if (line == QLatin1String("return") || line == QLatin1String("return missing value")) {
            ++index;
            return {Flow::Kind::returned, std::nullopt};
        }
        if (const auto match = ifLine.match(line); match.hasMatch()) {
            const std::optional<bool> condition = evaluate(match.captured(1));
            if (!condition) return unsupported();
            if (match.hasCaptured(2)) {  // one-line form: the statement runs only when true
                if (!*condition) {
                    ++index;
                    return {};
                }
                const QString inner = match.captured(2);
                if (opensBlock(inner)) return unsupported();
                return statement(index, inner);
            }
            return ifBlock(index, *condition);
        }
        if (tellSystemEvents.match(line).hasMatch()) {
            ++index;
            Flow flow = block(index, false);
            if (flow.kind != Flow::Kind::next) return flow;
            if (index >= lines_.size() || lines_[index].trimmed() != QLatin1String("end tell")) return unsupported();
            ++index;
            return {};
        }
        return unsupported();
    }

    Flow ifBlock(qsizetype& index, bool condition) {
        if (condition) {
            ++index;
            Flow flow = block(index, true);
            if (flow.kind != Flow::Kind::next) return flow;
            if (index < lines_.size() && lines_[index].trimmed() == QLatin1String("else") && !skip(index, false)) {
                return unsupported();
            }
        } else {
            if (!skip(index, true)) return unsupported();
            if (lines_[index].trimmed() == QLatin1String("else")) {
                ++index;
                Flow flow = block(index, false);
                if (flow.kind != Flow::Kind::next) return flow;
            }
        }
        if (index >= lines_.size() || lines_[index].trimmed() != QLatin1String("end if")) return unsupported();
        ++index;
        return {};
    }

    // The tests this runner knows; none of the named applications or processes exists here.
    static std::optional<bool> evaluate(const QString& condition) {
        static const QRegularExpression running(QStringLiteral(R"re(^application "[^"]*" is (not )?running$)re"));
        static const QRegularExpression process(QStringLiteral(R"re(^(not )?exists process "[^"]*"$)re"));
        if (const auto match = running.match(condition); match.hasMatch()) return match.hasCaptured(1);
        if (const auto match = process.match(condition); match.hasMatch()) return match.hasCaptured(1);
        return std::nullopt;
    }

    static Flow unsupported() { return {Flow::Kind::unsupported, std::nullopt}; }

    const QStringList& lines_;
};

}  // namespace

ScriptOutcome LinuxScriptRunner::run(const QString& source) {
    const QStringList lines = source.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    return Evaluator(lines).run();
}

}  // namespace platform
