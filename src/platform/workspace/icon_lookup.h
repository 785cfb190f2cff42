#pragma once

#include <QImage>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

// Icons named by the icon theme or by an application entry's file, found off the caller's thread
// and remembered until the folders they were looked up in change (a name found missing, also
// until a file system is mounted or unmounted). Theme folders may lie on a file
// system that never answers, and a large theme takes long to walk: a caller is never held up, it
// is told the lookup is under way and learns when it ends. Each lookup runs on a thread of its
// own, at most kMaxLookupThreads at a time (one stuck on a file system that never answers keeps
// its place until it answers: lookups beyond then wait their turn). Files are read through
// readRegularFile.
class IconLookup {
public:
    static constexpr int kMaxLookupThreads = 8;
    // How often a lookup that is answered from memory also has the folders checked for a change.
    static constexpr std::chrono::milliseconds kRecheckInterval{2000};

    enum class State { found, missing, pending };
    struct Answer {
        State state = State::missing;
        QImage image;  // at kIconLookupPixels; a one-colour icon drawn in the island's text colour
    };

    // The process's own; never destroyed, so a thread stuck at the end harms nothing.
    static IconLookup& shared();

    // `field`: an icon name, or an absolute file. Any thread; answers at once.
    Answer find(const QString& field);
    // `listener` runs on a lookup's thread each time a lookup ended (or the folders changed), and
    // on the main thread when the icon theme changed, until the id is removed.
    int addListener(std::function<void()> listener);
    void removeListener(int id);
    // How many times find() answered pending on the calling thread: a caller that saw it grow
    // during its work knows its answer is not final.
    static quint64 pendingAnswers();
    // Other work an icon's answer waits for, done off the caller's thread (application entries a
    // child reads): the calling thread's answer counts as pending, and notifyListeners() tells
    // when that work ended. Any thread.
    static void notePending();
    void notifyListeners();

    // Tests: the folders checked at every find(); find() waiting up to `timeout` for its answer
    // (and for a check of the folders) rather than answering pending; a wait until no lookup is
    // left to run.
    void setRecheckInterval(std::chrono::milliseconds interval);
    void setAwaitAnswers(std::optional<std::chrono::milliseconds> timeout);
    bool waitUntilIdle(std::chrono::milliseconds timeout);
    // Forgets every answer.
    void forget();

    IconLookup();
    ~IconLookup();
    IconLookup(const IconLookup&) = delete;
    IconLookup& operator=(const IconLookup&) = delete;

    struct State_;

private:
    std::shared_ptr<State_> state_;
};

}  // namespace platform
