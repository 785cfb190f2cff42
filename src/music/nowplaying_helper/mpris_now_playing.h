#pragma once

#include "music/nowplaying_helper/artwork_fetcher.h"
#include "music/nowplaying_helper/now_playing_helper.h"
#include "music/nowplaying_helper/seek_timeline.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

// The desktop's now-playing source: MPRIS players on the session bus. The player asked is the
// first "org.mpris.MediaPlayer2.*" name in sorted order that is playing, else the first paused,
// else the first. Every request is bounded as a whole, since a stuck player would otherwise hold
// a call for the bus library's default 25 s. Covers come from local files at once, and from the
// web once their fetch has arrived (ArtworkFetcher): a query never waits for one.
//
// The players on the bus are listed once; from then on the bus's announcements of players coming
// and going (delivered by the event loop) keep the list, and each player's identity is kept while
// the same owner holds its name. With no player a query then asks the bus nothing.
//
// A player whose Position cannot be read is placed by its last Seeked signal (SeekTimeline).
class MprisNowPlaying final : public NowPlayingHelperSource {
public:
    // Covers larger than this are not sent; their base64 form stays well inside the 1 MiB line
    // that the application reads at most.
    static constexpr qint64 kMaxArtworkBytes = 640 * 1024;

    // `webCovers` nullptr: covers at http(s) addresses are left out.
    explicit MprisNowPlaying(QDBusConnection bus, int budgetMs = 2000, ArtworkFetcher* webCovers = nullptr);
    ~MprisNowPlaying() override;

    std::optional<HelperQueryReply> query() override;
    bool sendCommand(uint32_t command) override;
    std::optional<HelperLyricsReply> lyrics(const QString& player) override;
    bool setShuffle(const QString& player, bool shuffle) override;
    bool setLoopStatus(const QString& player, const QString& status) override;

private:
    struct Player {
        QString busName;
        QString owner;           // the unique name that answered
        QVariantMap properties;  // of org.mpris.MediaPlayer2.Player
    };
    enum class Outcome { ok, failed, timedOut };

    // The chosen player; `outcome` says whether looking ran out of time.
    std::optional<Player> choosePlayer(const QDeadlineTimer& deadline, Outcome& outcome);
    // The player whose identity is `identity`: its DesktopEntry, else its bus name's suffix.
    std::optional<QString> findPlayer(const QString& identity, const QDeadlineTimer& deadline, Outcome& outcome);
    std::optional<QString> identityOf(const QString& busName, const QDeadlineTimer& deadline, Outcome& outcome);
    QStringList playerNames(const QDeadlineTimer& deadline, Outcome& outcome);
    bool setProperty(const QString& player, const QString& name, const QVariant& value);
    Outcome call(const QDBusMessage& message, const QDeadlineTimer& deadline, QDBusMessage& reply);
    // `owner`, when given, gets the unique name that answered.
    std::optional<QVariantMap> getAll(const QString& busName, const QString& interface, const QDeadlineTimer& deadline,
                                      Outcome& outcome, QString* owner = nullptr);
    std::optional<double> positionOf(const Player& player, const HelperQueryReply& reply);

    void ownerChanged(const QString& busName, const QString& oldOwner, const QString& newOwner);

    QDBusConnection bus_;
    int budgetMs_;
    ArtworkFetcher* webCovers_;
    QDBusServiceWatcher watcher_;
    std::optional<QStringList> names_;          // sorted; none until first listed
    QHash<QString, QString> identities_;        // by bus name, for its current owner
    SeekTimeline seeks_;
    QElapsedTimer clock_;
    std::unique_ptr<QObject> seekListener_;
};
