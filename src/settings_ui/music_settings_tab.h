#pragma once

#include "settings_binding.h"
#include "settings_controls.h"
#include "settings_environment.h"

#include <QImage>
#include <QString>

#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class SettingsCard;
class SwitchToggle;

// What the Now Playing card shows: the track the now-playing service publishes, or nothing.
struct NowPlayingPreview {
    QString title;
    QString artist;
    std::optional<QImage> artwork;
    bool isPlaying = false;
};

// What the Music tab shows and does: the chosen music application (kept under its own key and
// shown only here), the notch switches, the now-playing source, the media shortcuts and the
// player colour, and the track the now-playing service reports. The tab only writes settings;
// the services that use them follow the store themselves.
class MusicSettingsModel {
public:
    // Where the chooser opens: the first desktop-entry folder that exists.
    static QString startDirectory();

    explicit MusicSettingsModel(const SettingsEnvironment& environment);

    // The last path component with every ".app" removed.
    static QString displayName(const QString& path);

    QString appCardTitle() const;
    QString appCardSubtitle() const;
    QString notSelectedText() const;
    QString selectButtonTitle() const;
    QString clearButtonTitle() const;
    // This view's choice, else the stored path, else none.
    std::optional<QString> effectiveAppPath() const;
    // Opens the panel; its answer arrives later.
    void chooseMusicApp();
    void clearMusicApp();
    // The page came on screen: the stored path is read again.
    void pageShown();

    QString detectionCardTitle() const;
    QString detectionCardSubtitle() const;
    QString sourceHeader() const;
    std::vector<SettingsChoice> sourceChoices() const;
    std::optional<int> selectedSourceIndex() const;
    void chooseSource(int index);
    // None for a stored text that is no source.
    std::optional<QString> sourceNote() const;
    QString notchFeaturesLabel() const;
    QString notchFeaturesNote() const;
    bool enableNotchFeatures() const;
    void setEnableNotchFeatures(bool on);
    QString miniPlayerLabel() const;
    QString miniPlayerNote() const;
    bool showMiniPlayer() const;
    void setShowMiniPlayer(bool on);

    QString controlsCardTitle() const;
    QString controlsCardSubtitle() const;
    QString colorHeader() const;
    std::vector<SettingsChoice> colorChoices() const;
    std::optional<int> selectedColorIndex() const;
    void chooseColor(int index);
    QString hotkeysLabel() const;
    QString hotkeysNote() const;
    bool enableMusicHotkeys() const;
    void setEnableMusicHotkeys(bool on);

    QString nowPlayingCardTitle() const;
    QString nowPlayingCardSubtitle() const;
    QString noMusicText() const;
    std::optional<NowPlayingPreview> nowPlaying() const;

    // Anything shown may have changed: a key, the language, the chosen path, or a publication of
    // the now-playing service (reported after it took effect).
    const platform::PassthroughSubject<>& changed() const { return changed_; }

private:
    void setBool(const QString& key, bool fallback, bool on);
    std::optional<int> indexOf(const QString& key, const QString& fallback,
                               const std::vector<SettingsChoice>& choices) const;
    void choose(const QString& key, const std::vector<SettingsChoice>& choices, int index);

    SettingsEnvironment environment_;
    platform::Defaults& defaults_;
    std::optional<QString> selectedMusicAppPath_;
    platform::Lifetime lifetime_;
    SettingsKeyWatch watch_;
    platform::PassthroughSubject<> changed_;
    bool refreshQueued_ = false;
    platform::CancellableSet subscriptions_;
};

// The 40-point square of the Now Playing card: the artwork, or a grey tile with a note symbol.
class ArtworkTile final : public QWidget {
    Q_OBJECT

public:
    static constexpr int side = 40;
    explicit ArtworkTile(QWidget* parent = nullptr);
    void setArtwork(const std::optional<QImage>& artwork);
    bool hasArtwork() const { return artwork_.has_value(); }
    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QImage> artwork_;
};

// The 8-point dot beside the track: green while it plays.
class PlayingDot final : public QWidget {
    Q_OBJECT

public:
    explicit PlayingDot(QWidget* parent = nullptr);
    void setPlaying(bool playing);
    bool isPlaying() const { return playing_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool playing_ = false;
};

class MusicSettingsTab final : public SettingsPage {
    Q_OBJECT

public:
    explicit MusicSettingsTab(const SettingsEnvironment& environment, QWidget* parent = nullptr);
    MusicSettingsModel& model() { return model_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    MusicSettingsModel model_;
    platform::Workspace& workspace_;
    SettingsCard* appCard_;
    QLabel* appIcon_;
    QLabel* appName_;
    QLabel* notSelected_;
    QPushButton* selectButton_;
    QPushButton* clearButton_;
    SettingsCard* detectionCard_;
    QLabel* sourceHeader_;
    SegmentedPicker* sourcePicker_;
    QLabel* sourceNote_;
    SwitchToggle* notchSwitch_;
    QLabel* notchNote_;
    SwitchToggle* miniPlayerSwitch_;
    QLabel* miniPlayerNote_;
    SettingsCard* controlsCard_;
    QLabel* colorHeader_;
    SegmentedPicker* colorPicker_;
    SwitchToggle* hotkeysSwitch_;
    QLabel* hotkeysNote_;
    SettingsCard* nowPlayingCard_;
    QWidget* trackRow_;
    ArtworkTile* artwork_;
    QLabel* trackTitle_;
    QLabel* trackArtist_;
    PlayingDot* playingDot_;
    QWidget* emptyRow_;
    QLabel* emptyText_;
    platform::AnyCancellable subscription_;
};

QWidget* makeMusicSettingsTab(const SettingsEnvironment& environment);
