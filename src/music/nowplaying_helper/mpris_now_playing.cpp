#include "music/nowplaying_helper/mpris_now_playing.h"

#include "platform/files/regular_file.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QStringList>
#include <QUrl>

#include <array>
#include <cmath>
#include <functional>

static_assert(ArtworkFetcher::Limits{}.maxBytes == MprisNowPlaying::kMaxArtworkBytes,
              "a web cover must fit a reply as a local one does");

namespace {

const QString kPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");

// Nested dictionaries arrive still marshalled.
QVariantMap toMap(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

std::optional<QString> nonEmptyText(const QVariant& value) {
    if (value.typeId() != QMetaType::QString) return std::nullopt;
    QString text = value.toString();
    if (text.isEmpty()) return std::nullopt;
    return text;
}

QStringList textList(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) return value.toStringList();
    if (value.typeId() == QMetaType::QString) return {value.toString()};
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<QStringList>(value.value<QDBusArgument>());
    return {};
}

std::optional<double> numberOf(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return value.toDouble();
    default:
        return std::nullopt;
    }
}

std::optional<double> microsToSeconds(const QVariant& value) {
    const std::optional<double> micros = numberOf(value);
    if (!micros) return std::nullopt;
    return *micros / 1e6;
}

// The bytes of a local cover file; other schemes, and anything but a plain file, give none. A
// file too large to travel in one reply line (base64 adds a third) is left out: cut short, the
// line would fail every query while that track plays.
std::optional<QByteArray> artworkAt(const QString& address) {
    const QUrl url(address);
    if (!url.isValid() || !url.isLocalFile()) return std::nullopt;
    return platform::readRegularFile(url.toLocalFile(), MprisNowPlaying::kMaxArtworkBytes);
}

bool isLoopStatus(const QString& text) {
    return text == QLatin1String("None") || text == QLatin1String("Track") || text == QLatin1String("Playlist");
}

bool isTimeout(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
           name == QLatin1String("org.freedesktop.DBus.Error.TimedOut");
}

// The bus hands signals to slots only.
class SeekListener final : public QObject {
    Q_OBJECT
public:
    explicit SeekListener(std::function<void(const QDBusMessage&)> heard) : heard_(std::move(heard)) {}

public Q_SLOTS:
    void seeked(const QDBusMessage& message) { heard_(message); }

private:
    std::function<void(const QDBusMessage&)> heard_;
};

// The track a timeline belongs to.
QString trackKey(const HelperQueryReply& reply) {
    return reply.title.value_or(QString()) + u'\n' + reply.artist.value_or(QString()) + u'\n' +
           reply.album.value_or(QString()) + u'\n' + QString::number(reply.duration.value_or(-1));
}

}  // namespace

MprisNowPlaying::MprisNowPlaying(QDBusConnection bus, int budgetMs, ArtworkFetcher* webCovers)
    : bus_(std::move(bus)),
      budgetMs_(budgetMs),
      webCovers_(webCovers),
      watcher_(kPrefix.chopped(1) + u'*', bus_, QDBusServiceWatcher::WatchForOwnerChange) {
    clock_.start();
    QObject::connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged,
                     [this](const QString& name, const QString& oldOwner, const QString& newOwner) {
                         ownerChanged(name, oldOwner, newOwner);
                     });
    seekListener_ = std::make_unique<SeekListener>([this](const QDBusMessage& message) {
        if (const std::optional<double> micros = numberOf(message.arguments().value(0))) {
            seeks_.seeked(message.service(), *micros / 1e6, clock_.elapsed());
        }
    });
    bus_.connect(QString(), kObjectPath, kPlayerInterface, QStringLiteral("Seeked"), seekListener_.get(),
                 SLOT(seeked(QDBusMessage)));
}

MprisNowPlaying::~MprisNowPlaying() = default;

void MprisNowPlaying::ownerChanged(const QString& busName, const QString& oldOwner, const QString& newOwner) {
    identities_.remove(busName);
    seeks_.forget(oldOwner);
    if (!names_ || !busName.startsWith(kPrefix)) return;
    names_->removeAll(busName);
    if (!newOwner.isEmpty()) {
        names_->append(busName);
        names_->sort();
    }
}

MprisNowPlaying::Outcome MprisNowPlaying::call(const QDBusMessage& message, const QDeadlineTimer& deadline,
                                               QDBusMessage& reply) {
    const qint64 remaining = deadline.remainingTime();
    if (remaining <= 0) return Outcome::timedOut;
    reply = bus_.call(message, QDBus::Block, static_cast<int>(remaining));
    if (reply.type() == QDBusMessage::ReplyMessage) return Outcome::ok;
    return isTimeout(reply) || deadline.hasExpired() ? Outcome::timedOut : Outcome::failed;
}

std::optional<QVariantMap> MprisNowPlaying::getAll(const QString& busName, const QString& interface,
                                                   const QDeadlineTimer& deadline, Outcome& outcome, QString* owner) {
    QDBusMessage message = QDBusMessage::createMethodCall(busName, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("GetAll"));
    message << interface;
    QDBusMessage reply;
    outcome = call(message, deadline, reply);
    if (outcome != Outcome::ok || reply.arguments().isEmpty()) return std::nullopt;
    if (owner) *owner = reply.service();
    return toMap(reply.arguments().constFirst());
}

QStringList MprisNowPlaying::playerNames(const QDeadlineTimer& deadline, Outcome& outcome) {
    if (names_) {
        outcome = Outcome::ok;
        return *names_;
    }
    QDBusMessage reply;
    outcome = call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")),
                   deadline, reply);
    QStringList names;
    if (outcome != Outcome::ok || reply.arguments().isEmpty()) return names;
    for (const QString& name : textList(reply.arguments().constFirst())) {
        if (name.startsWith(kPrefix)) names << name;
    }
    names.sort();
    names_ = names;
    return names;
}

std::optional<QString> MprisNowPlaying::identityOf(const QString& busName, const QDeadlineTimer& deadline, Outcome& outcome) {
    if (const auto known = identities_.constFind(busName); known != identities_.constEnd()) {
        outcome = Outcome::ok;
        return *known;
    }
    const std::optional<QVariantMap> root = getAll(busName, kRootInterface, deadline, outcome);
    if (outcome == Outcome::timedOut) return std::nullopt;
    std::optional<QString> identity;
    if (root) identity = nonEmptyText(root->value(QStringLiteral("DesktopEntry")));
    if (!identity) identity = busName.mid(kPrefix.size());
    // A player that answered keeps its identity while it holds the name; one that failed is asked again.
    if (outcome == Outcome::ok && names_) identities_.insert(busName, *identity);
    return identity;
}

std::optional<QString> MprisNowPlaying::findPlayer(const QString& identity, const QDeadlineTimer& deadline, Outcome& outcome) {
    const QStringList names = playerNames(deadline, outcome);
    if (outcome != Outcome::ok) return std::nullopt;
    for (const QString& name : names) {
        const std::optional<QString> each = identityOf(name, deadline, outcome);
        if (outcome == Outcome::timedOut) return std::nullopt;
        if (each == identity) {
            outcome = Outcome::ok;
            return name;
        }
    }
    outcome = Outcome::ok;
    return std::nullopt;
}

std::optional<MprisNowPlaying::Player> MprisNowPlaying::choosePlayer(const QDeadlineTimer& deadline, Outcome& outcome) {
    const QStringList names = playerNames(deadline, outcome);
    if (outcome != Outcome::ok) return std::nullopt;

    std::optional<Player> firstPaused;
    std::optional<Player> first;
    for (const QString& name : names) {
        Outcome each = Outcome::ok;
        QString owner;
        std::optional<QVariantMap> properties = getAll(name, kPlayerInterface, deadline, each, &owner);
        if (each == Outcome::timedOut) {
            outcome = each;
            return std::nullopt;
        }
        if (!properties) continue;  // gone since the listing, or no player interface
        Player player{name, owner, std::move(*properties)};
        const QString status = player.properties.value(QStringLiteral("PlaybackStatus")).toString();
        if (status == QLatin1String("Playing")) return player;
        if (status == QLatin1String("Paused") && !firstPaused) firstPaused = player;
        if (!first) first = std::move(player);
    }
    outcome = Outcome::ok;
    return firstPaused ? firstPaused : first;
}

std::optional<HelperQueryReply> MprisNowPlaying::query() {
    const QDeadlineTimer deadline(budgetMs_);
    Outcome outcome = Outcome::ok;
    const std::optional<Player> player = choosePlayer(deadline, outcome);
    if (outcome == Outcome::timedOut) return std::nullopt;
    HelperQueryReply reply;
    if (!player) return reply;

    const QVariantMap& properties = player->properties;
    const QVariantMap metadata = toMap(properties.value(QStringLiteral("Metadata")));
    reply.isPlaying = properties.value(QStringLiteral("PlaybackStatus")).toString() == QLatin1String("Playing");
    reply.title = nonEmptyText(metadata.value(QStringLiteral("xesam:title")));
    const QString artists = textList(metadata.value(QStringLiteral("xesam:artist"))).join(QStringLiteral(", "));
    if (!artists.isEmpty()) reply.artist = artists;
    reply.album = nonEmptyText(metadata.value(QStringLiteral("xesam:album")));
    reply.duration = microsToSeconds(metadata.value(QStringLiteral("mpris:length")));
    // Players keep their rate while paused; what matters here is whether it advances.
    if (reply.isPlaying) {
        reply.playbackRate = numberOf(properties.value(QStringLiteral("Rate")));
    } else {
        reply.playbackRate = 0.0;
    }
    reply.elapsedTime = positionOf(*player, reply);
    if (const QVariant shuffle = properties.value(QStringLiteral("Shuffle")); shuffle.typeId() == QMetaType::Bool) {
        reply.shuffle = shuffle.toBool();
    }
    if (const std::optional<QString> loop = nonEmptyText(properties.value(QStringLiteral("LoopStatus")));
        loop && isLoopStatus(*loop)) {
        reply.loopStatus = loop;
    }
    if (const std::optional<QString> art = nonEmptyText(metadata.value(QStringLiteral("mpris:artUrl")))) {
        if (ArtworkFetcher::isWebAddress(*art)) {
            if (webCovers_) {
                reply.artworkData = webCovers_->artwork(*art);
                reply.artworkPending = !reply.artworkData && webCovers_->isFetching(*art);
            }
        } else {
            reply.artworkData = artworkAt(*art);
        }
    }

    Outcome rootOutcome = Outcome::ok;
    reply.bundleIdentifier = identityOf(player->busName, deadline, rootOutcome);
    if (rootOutcome == Outcome::timedOut) return std::nullopt;
    return reply;
}

std::optional<double> MprisNowPlaying::positionOf(const Player& player, const HelperQueryReply& reply) {
    // A Seeked the player sent before it answered is queued by now (a sender's messages keep
    // their order): it counts for this answer.
    QCoreApplication::sendPostedEvents(seekListener_.get(), QEvent::MetaCall);
    const double rate = reply.playbackRate.value_or(1.0);  // the application's reading of a missing rate
    return seeks_.position(player.owner, trackKey(reply), microsToSeconds(player.properties.value(QStringLiteral("Position"))),
                           rate, clock_.elapsed());
}

std::optional<HelperLyricsReply> MprisNowPlaying::lyrics(const QString& player) {
    const QDeadlineTimer deadline(budgetMs_);
    Outcome outcome = Outcome::ok;
    const std::optional<QString> busName = findPlayer(player, deadline, outcome);
    if (outcome == Outcome::timedOut) return std::nullopt;
    HelperLyricsReply reply;
    if (!busName) return reply;
    QDBusMessage message = QDBusMessage::createMethodCall(*busName, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    message << kPlayerInterface << QStringLiteral("Metadata");
    QDBusMessage answer;
    outcome = call(message, deadline, answer);
    if (outcome == Outcome::timedOut) return std::nullopt;
    reply.found = true;
    if (outcome != Outcome::ok || answer.arguments().isEmpty()) return reply;
    const QVariantMap metadata = toMap(answer.arguments().constFirst().value<QDBusVariant>().variant());
    reply.title = nonEmptyText(metadata.value(QStringLiteral("xesam:title")));
    const QString artists = textList(metadata.value(QStringLiteral("xesam:artist"))).join(QStringLiteral(", "));
    if (!artists.isEmpty()) reply.artist = artists;
    reply.lyrics = nonEmptyText(metadata.value(QStringLiteral("xesam:asText")));
    return reply;
}

bool MprisNowPlaying::setProperty(const QString& player, const QString& name, const QVariant& value) {
    const QDeadlineTimer deadline(budgetMs_);
    Outcome outcome = Outcome::ok;
    const std::optional<QString> busName = findPlayer(player, deadline, outcome);
    if (!busName) return false;
    QDBusMessage message = QDBusMessage::createMethodCall(*busName, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Set"));
    message << kPlayerInterface << name << QVariant::fromValue(QDBusVariant(value));
    QDBusMessage reply;
    return call(message, deadline, reply) == Outcome::ok;
}

bool MprisNowPlaying::setShuffle(const QString& player, bool shuffle) {
    return setProperty(player, QStringLiteral("Shuffle"), shuffle);
}

bool MprisNowPlaying::setLoopStatus(const QString& player, const QString& status) {
    if (!isLoopStatus(status)) return false;
    return setProperty(player, QStringLiteral("LoopStatus"), status);
}

bool MprisNowPlaying::sendCommand(uint32_t command) {
    static const std::array<const char*, 6> methods{"Play", "Pause", "PlayPause", "Stop", "Next", "Previous"};
    if (command >= methods.size()) return false;
    const QDeadlineTimer deadline(budgetMs_);
    Outcome outcome = Outcome::ok;
    const std::optional<Player> player = choosePlayer(deadline, outcome);
    if (!player) return false;
    QDBusMessage reply;
    return call(QDBusMessage::createMethodCall(player->busName, kObjectPath, kPlayerInterface,
                                               QString::fromLatin1(methods[command])),
                deadline, reply) == Outcome::ok;
}

#include "mpris_now_playing.moc"
