#include "music_settings_tab.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "core/log.h"
#include "core/settings_enums.h"
#include "platform/shell/open_panel.h"
#include "platform/symbols/symbols.h"
#include "platform/workspace/desktop_entries.h"
#include "settings_card.h"
#include "settings_style.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace {

const QString kSourceFallback = QStringLiteral("appleScript");
const QString kColorFallback = QStringLiteral("black");
constexpr bool kNotchFeaturesFallback = true;
constexpr bool kMiniPlayerFallback = true;
constexpr bool kHotkeysFallback = false;
constexpr int kAppIconSize = 32;
constexpr int kRowPadding = 10;
constexpr double kRowRadius = 8;
// What counts as an application on this desktop: launchers and self-contained images.
const QString kApplicationFilter = QStringLiteral("Applications (*.desktop *.AppImage *.app)");

// The grey rounded row both Now Playing rows sit in.
class PreviewRow final : public QWidget {
public:
    explicit PreviewRow(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = SettingsStyle::systemGray();
        fill.setAlphaF(0.1f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()), kRowRadius, kRowRadius);
    }
};

}  // namespace

MusicSettingsModel::MusicSettingsModel(const SettingsEnvironment& environment)
    : environment_(environment),
      defaults_(environment.resolvedDefaults()),
      watch_(defaults_, {AppSettings::enableNotchFeaturesKey, AppSettings::showMiniPlayerWhenPlayingKey,
                         AppSettings::musicNowPlayingSourceKey, AppSettings::enableMusicHotkeysKey,
                         AppSettings::musicNotchColorModeKey}) {
    subscriptions_.insert(watch_.changed().sink([this] { changed_.send(); }));
    // The service tells before it changes; the card is redrawn once the change has landed.
    platform::Scheduler& scheduler = environment_.resolvedScheduler();
    subscriptions_.insert(environment_.resolvedMediaService().objectWillChange.sink([this, &scheduler] {
        if (refreshQueued_) return;
        refreshQueued_ = true;
        scheduler.post(lifetime_.wrap([this] {
            refreshQueued_ = false;
            changed_.send();
        }));
    }));
}

QString MusicSettingsModel::displayName(const QString& path) {
    // A desktop entry names its application.
    if (path.endsWith(QLatin1String(".desktop"))) {
        if (const auto entry = platform::DesktopEntries::parse(path, QString())) return entry->name;
    }
    return QFileInfo(path).fileName().replace(QStringLiteral(".app"), QString());
}

QString MusicSettingsModel::appCardTitle() const {
    return L10n::pick(QStringLiteral("Music App"), QStringLiteral("音楽アプリ"));
}
QString MusicSettingsModel::appCardSubtitle() const {
    return L10n::pick(QStringLiteral("Select a music app (Spotify / Apple Music, etc.)"),
                      QStringLiteral("任意の音楽アプリを選択（Spotify / Apple Music など）"));
}
QString MusicSettingsModel::notSelectedText() const {
    return L10n::musicAppNotSelected();
}
QString MusicSettingsModel::selectButtonTitle() const {
    return L10n::pick(QStringLiteral("Select..."), QStringLiteral("選択..."));
}
QString MusicSettingsModel::clearButtonTitle() const { return L10n::pick(QStringLiteral("Clear"), QStringLiteral("クリア")); }

std::optional<QString> MusicSettingsModel::effectiveAppPath() const {
    if (selectedMusicAppPath_) return selectedMusicAppPath_;
    return defaults_.stringValue(AppSettings::musicAppPathKey);
}

QString MusicSettingsModel::startDirectory() {
    for (const QString& folder : platform::DesktopEntries::directories())
        if (QFileInfo(folder).isDir()) return folder;
    return QStringLiteral("/usr/share/applications");
}

void MusicSettingsModel::chooseMusicApp() {
    platform::OpenPanelRequest request;
    request.title = L10n::pick(QStringLiteral("Select App"), QStringLiteral("アプリを選択"));
    request.message = L10n::pick(QStringLiteral("Select the location of a music app (Spotify / Apple Music, etc.)."),
                                 QStringLiteral("音楽アプリ（Spotify / Apple Music など）の場所を選択してください。"));
    request.canChooseFiles = true;
    request.canChooseDirectories = false;
    request.allowsMultipleSelection = false;
    request.directory = startDirectory();
    request.nameFilters = {kApplicationFilter};
    platform::OpenPanel::shared().begin(
        request, lifetime_.wrap([this](platform::OpenPanelResponse response, const QStringList& paths) {
            if (response != platform::OpenPanelResponse::ok || paths.isEmpty() || paths.front().isEmpty()) return;
            const QString path = paths.front();
            selectedMusicAppPath_ = path;
            defaults_.set(AppSettings::musicAppPathKey, path);
            Log::shared().info(QStringLiteral("MusicSettings: Selected music app at ") + path);
            changed_.send();
        }));
}

void MusicSettingsModel::clearMusicApp() {
    selectedMusicAppPath_.reset();
    defaults_.remove(AppSettings::musicAppPathKey);
    changed_.send();
}

void MusicSettingsModel::pageShown() {
    selectedMusicAppPath_ = defaults_.stringValue(AppSettings::musicAppPathKey);
    changed_.send();
}

QString MusicSettingsModel::detectionCardTitle() const {
    return L10n::pick(QStringLiteral("Playback Detection"), QStringLiteral("再生検知"));
}
QString MusicSettingsModel::detectionCardSubtitle() const {
    return L10n::pick(QStringLiteral("Choose how playback is read and how notch playback behaves."),
                      QStringLiteral("取得元とノッチ表示の基本挙動を決めます。"));
}
QString MusicSettingsModel::sourceHeader() const {
    return L10n::pick(QStringLiteral("Now Playing Source"), QStringLiteral("再生情報の取得元"));
}

std::vector<SettingsChoice> MusicSettingsModel::sourceChoices() const {
    return {
        {QStringLiteral("appleScript"), QStringLiteral("AppleScript"), std::nullopt},
        {QStringLiteral("controlCenter"), L10n::pick(QStringLiteral("Control Center"), QStringLiteral("コントロールセンター")),
         std::nullopt},
    };
}

std::optional<int> MusicSettingsModel::indexOf(const QString& key, const QString& fallback,
                                               const std::vector<SettingsChoice>& choices) const {
    const QString stored = boundText(defaults_, key, fallback);
    for (int i = 0; i < static_cast<int>(choices.size()); ++i) {
        if (choices[i].tag == stored) return i;
    }
    return std::nullopt;
}

void MusicSettingsModel::choose(const QString& key, const std::vector<SettingsChoice>& choices, int index) {
    if (index < 0 || index >= static_cast<int>(choices.size())) return;
    const QString& tag = choices[index].tag;
    if (defaults_.stringValue(key) == tag) return;
    defaults_.set(key, tag);
}

std::optional<int> MusicSettingsModel::selectedSourceIndex() const {
    return indexOf(AppSettings::musicNowPlayingSourceKey, kSourceFallback, sourceChoices());
}
void MusicSettingsModel::chooseSource(int index) { choose(AppSettings::musicNowPlayingSourceKey, sourceChoices(), index); }

std::optional<QString> MusicSettingsModel::sourceNote() const {
    switch (selectedSourceIndex().value_or(-1)) {
        case 0:
            return L10n::sourceAppleScriptDesc();
        case 1:
            return L10n::sourceControlCenterDesc();
        default: return std::nullopt;
    }
}

QString MusicSettingsModel::notchFeaturesLabel() const {
    return L10n::pick(QStringLiteral("Enable Notch Features"), QStringLiteral("ノッチ機能を有効化"));
}
QString MusicSettingsModel::notchFeaturesNote() const {
    return L10n::pick(QStringLiteral("Show music controls when hovering near the notch"),
                      QStringLiteral("ノッチ付近にカーソルを置くと音楽コントロールを表示"));
}
bool MusicSettingsModel::enableNotchFeatures() const {
    return boundBool(defaults_, AppSettings::enableNotchFeaturesKey, kNotchFeaturesFallback);
}
void MusicSettingsModel::setBool(const QString& key, bool fallback, bool on) {
    if (defaults_.contains(key) && boundBool(defaults_, key, fallback) == on) return;
    defaults_.set(key, on);
}
void MusicSettingsModel::setEnableNotchFeatures(bool on) {
    setBool(AppSettings::enableNotchFeaturesKey, kNotchFeaturesFallback, on);
}

QString MusicSettingsModel::miniPlayerLabel() const {
    return L10n::pick(QStringLiteral("Show mini player during playback"), QStringLiteral("再生中にミニプレイヤーを表示"));
}
QString MusicSettingsModel::miniPlayerNote() const {
    return L10n::pick(QStringLiteral("Shows album art and visualizer during playback"),
                      QStringLiteral("再生中はアルバムアートとビジュアライザーを表示"));
}
bool MusicSettingsModel::showMiniPlayer() const {
    return boundBool(defaults_, AppSettings::showMiniPlayerWhenPlayingKey, kMiniPlayerFallback);
}
void MusicSettingsModel::setShowMiniPlayer(bool on) {
    setBool(AppSettings::showMiniPlayerWhenPlayingKey, kMiniPlayerFallback, on);
}

QString MusicSettingsModel::controlsCardTitle() const {
    return L10n::pick(QStringLiteral("Controls & Appearance"), QStringLiteral("操作と見た目"));
}
QString MusicSettingsModel::controlsCardSubtitle() const {
    return L10n::pick(QStringLiteral("Configure hotkeys and the notch player look together."),
                      QStringLiteral("ホットキーとプレイヤー配色をまとめています。"));
}
QString MusicSettingsModel::colorHeader() const {
    return L10n::pick(QStringLiteral("Notch Background Color"), QStringLiteral("ノッチの背景色"));
}
std::vector<SettingsChoice> MusicSettingsModel::colorChoices() const {
    return {
        {QStringLiteral("black"), L10n::pick(QStringLiteral("Black"), QStringLiteral("ブラック")), std::nullopt},
        {QStringLiteral("dynamic"), L10n::pick(QStringLiteral("Match Album Art"), QStringLiteral("アルバムアートに合わせる")),
         std::nullopt},
    };
}
std::optional<int> MusicSettingsModel::selectedColorIndex() const {
    return indexOf(AppSettings::musicNotchColorModeKey, kColorFallback, colorChoices());
}
void MusicSettingsModel::chooseColor(int index) { choose(AppSettings::musicNotchColorModeKey, colorChoices(), index); }

QString MusicSettingsModel::hotkeysLabel() const {
    return L10n::pick(QStringLiteral("Enable Media Shortcuts"), QStringLiteral("メディアショートカットを有効化"));
}
QString MusicSettingsModel::hotkeysNote() const {
    return L10n::pick(QStringLiteral("Super+← Previous / Super+→ Next Track"),
                      QStringLiteral("Super+← 前のトラック / Super+→ 次のトラック"));
}
bool MusicSettingsModel::enableMusicHotkeys() const {
    return boundBool(defaults_, AppSettings::enableMusicHotkeysKey, kHotkeysFallback);
}
void MusicSettingsModel::setEnableMusicHotkeys(bool on) {
    setBool(AppSettings::enableMusicHotkeysKey, kHotkeysFallback, on);
}

QString MusicSettingsModel::nowPlayingCardTitle() const {
    return L10n::pick(QStringLiteral("Now Playing"), QStringLiteral("再生中"));
}
QString MusicSettingsModel::nowPlayingCardSubtitle() const {
    return L10n::pick(QStringLiteral("Preview what Quillvex is currently reading."),
                      QStringLiteral("現在の取得結果をここで確認できます。"));
}
QString MusicSettingsModel::noMusicText() const {
    return L10n::pick(QStringLiteral("No music playing"), QStringLiteral("再生中の音楽はありません"));
}

std::optional<NowPlayingPreview> MusicSettingsModel::nowPlaying() const {
    MediaRemoteService& service = environment_.resolvedMediaService();
    const auto& info = service.nowPlaying();
    if (!info) return std::nullopt;
    NowPlayingPreview preview;
    preview.title = info->title.value_or(L10n::pick(QStringLiteral("Unknown"), QStringLiteral("不明")));
    preview.artist = info->artist.value_or(L10n::pick(QStringLiteral("Unknown Artist"), QStringLiteral("不明なアーティスト")));
    preview.artwork = info->artwork;
    preview.isPlaying = service.isPlaying();
    return preview;
}

ArtworkTile::ArtworkTile(QWidget* parent) : QWidget(parent) { setFixedSize(side, side); }

void ArtworkTile::setArtwork(const std::optional<QImage>& artwork) {
    artwork_ = artwork && !artwork->isNull() ? artwork : std::nullopt;
    update();
}

void ArtworkTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF square(0, 0, side, side);
    QPainterPath clip;
    clip.addRoundedRect(square, 6, 6);
    painter.setClipPath(clip);
    if (artwork_) {
        // Fills the square, the overflow of the longer side cut off.
        const QSizeF scaled = QSizeF(artwork_->size()).scaled(square.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF target((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled.width(), scaled.height());
        painter.drawImage(target, *artwork_);
        return;
    }
    QColor fill = SettingsStyle::systemGray();
    fill.setAlphaF(0.3f);
    painter.fillRect(square, fill);
    platform::Symbols::draw(painter, QStringLiteral("music.note"), QRectF(12, 12, 16, 16), SettingsStyle::systemGray());
}

PlayingDot::PlayingDot(QWidget* parent) : QWidget(parent) { setFixedSize(8, 8); }

void PlayingDot::setPlaying(bool playing) {
    if (playing == playing_) return;
    playing_ = playing;
    update();
}

void PlayingDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(playing_ ? SettingsStyle::systemGreen() : SettingsStyle::systemGray());
    painter.drawEllipse(QRectF(0, 0, 8, 8));
}

MusicSettingsTab::MusicSettingsTab(const SettingsEnvironment& environment, QWidget* parent)
    : SettingsPage(parent), model_(environment), workspace_(environment.resolvedWorkspace()) {
    setObjectName(QStringLiteral("MusicSettingsTab"));

    appCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("app.badge"));
    appCard_->setObjectName(QStringLiteral("musicAppCard"));
    {
        auto* content = new QWidget(appCard_);
        auto* row = new QHBoxLayout(content);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(12);
        appIcon_ = new QLabel(content);
        appIcon_->setObjectName(QStringLiteral("musicAppIcon"));
        appIcon_->setFixedSize(kAppIconSize, kAppIconSize);
        appIcon_->setAlignment(Qt::AlignCenter);
        appName_ = makeSettingsText(QString(), 13, QFont::Medium, TextTone::primary, content);
        appName_->setObjectName(QStringLiteral("musicAppName"));
        notSelected_ = makeSettingsText(QString(), 12, QFont::Normal, TextTone::secondary, content);
        notSelected_->setObjectName(QStringLiteral("musicAppNotSelected"));
        // One line each: the buttons give way before the name does.
        appName_->setWordWrap(false);
        notSelected_->setWordWrap(false);
        auto* buttons = new QHBoxLayout();
        buttons->setSpacing(8);
        selectButton_ = new QPushButton(content);
        selectButton_->setObjectName(QStringLiteral("selectMusicAppButton"));
        clearButton_ = new QPushButton(content);
        clearButton_->setObjectName(QStringLiteral("clearMusicAppButton"));
        connect(selectButton_, &QPushButton::clicked, this, [this] { model_.chooseMusicApp(); });
        connect(clearButton_, &QPushButton::clicked, this, [this] { model_.clearMusicApp(); });
        buttons->addWidget(selectButton_);
        buttons->addWidget(clearButton_);
        row->addWidget(appIcon_, 0, Qt::AlignVCenter);
        row->addWidget(appName_, 0, Qt::AlignVCenter);
        row->addWidget(notSelected_, 0, Qt::AlignVCenter);
        row->addStretch(1);
        row->addLayout(buttons);
        appCard_->addContent(content);
    }
    addCard(appCard_);

    detectionCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("play.rectangle"));
    detectionCard_->setObjectName(QStringLiteral("playbackDetectionCard"));
    {
        auto* block = new QWidget(detectionCard_);
        auto* layout = makeBlock(block);
        sourceHeader_ = makeBlockHeader(QString(), block);
        sourcePicker_ = new SegmentedPicker(QString(), block);
        sourcePicker_->setObjectName(QStringLiteral("sourcePicker"));
        sourcePicker_->onChosen = [this](int index) { model_.chooseSource(index); };
        sourceNote_ = makeNote(QString(), block);
        sourceNote_->setObjectName(QStringLiteral("sourceNote"));
        layout->addWidget(sourceHeader_);
        layout->addWidget(sourcePicker_);
        layout->addWidget(sourceNote_);
        detectionCard_->addContent(block);
    }
    detectionCard_->addContent(makeDivider(detectionCard_));
    {
        auto* block = new QWidget(detectionCard_);
        auto* layout = makeBlock(block);
        notchSwitch_ = new SwitchToggle(QString(), SwitchToggle::Size::regular, block);
        notchSwitch_->setObjectName(QStringLiteral("enableNotchFeaturesSwitch"));
        connect(notchSwitch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setEnableNotchFeatures(on); });
        notchNote_ = makeNote(QString(), block);
        layout->addWidget(notchSwitch_);
        layout->addWidget(notchNote_);
        detectionCard_->addContent(block);
    }
    detectionCard_->addContent(makeDivider(detectionCard_));
    {
        auto* block = new QWidget(detectionCard_);
        auto* layout = makeBlock(block);
        miniPlayerSwitch_ = new SwitchToggle(QString(), SwitchToggle::Size::regular, block);
        miniPlayerSwitch_->setObjectName(QStringLiteral("miniPlayerSwitch"));
        connect(miniPlayerSwitch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setShowMiniPlayer(on); });
        miniPlayerNote_ = makeNote(QString(), block);
        layout->addWidget(miniPlayerSwitch_);
        layout->addWidget(miniPlayerNote_);
        detectionCard_->addContent(block);
    }
    addCard(detectionCard_);

    controlsCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("slider.horizontal.3"));
    controlsCard_->setObjectName(QStringLiteral("controlsCard"));
    {
        auto* block = new QWidget(controlsCard_);
        auto* layout = makeBlock(block);
        colorHeader_ = makeBlockHeader(QString(), block);
        colorPicker_ = new SegmentedPicker(QString(), block);
        colorPicker_->setObjectName(QStringLiteral("colorPicker"));
        colorPicker_->onChosen = [this](int index) { model_.chooseColor(index); };
        layout->addWidget(colorHeader_);
        layout->addWidget(colorPicker_);
        controlsCard_->addContent(block);
    }
    controlsCard_->addContent(makeDivider(controlsCard_));
    {
        auto* block = new QWidget(controlsCard_);
        auto* layout = makeBlock(block);
        hotkeysSwitch_ = new SwitchToggle(QString(), SwitchToggle::Size::regular, block);
        hotkeysSwitch_->setObjectName(QStringLiteral("mediaShortcutsSwitch"));
        connect(hotkeysSwitch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setEnableMusicHotkeys(on); });
        hotkeysNote_ = makeNote(QString(), block);
        hotkeysNote_->setObjectName(QStringLiteral("mediaShortcutsNote"));
        layout->addWidget(hotkeysSwitch_);
        layout->addWidget(hotkeysNote_);
        controlsCard_->addContent(block);
    }
    addCard(controlsCard_);

    nowPlayingCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("music.note.list"));
    nowPlayingCard_->setObjectName(QStringLiteral("nowPlayingCard"));
    {
        trackRow_ = new PreviewRow(nowPlayingCard_);
        trackRow_->setObjectName(QStringLiteral("trackRow"));
        auto* row = new QHBoxLayout(trackRow_);
        row->setContentsMargins(kRowPadding, kRowPadding, kRowPadding, kRowPadding);
        row->setSpacing(12);
        artwork_ = new ArtworkTile(trackRow_);
        artwork_->setObjectName(QStringLiteral("artworkTile"));
        auto* texts = new QVBoxLayout();
        texts->setSpacing(2);
        trackTitle_ = makeSettingsText(QString(), 12, QFont::Medium, TextTone::primary, trackRow_);
        trackTitle_->setObjectName(QStringLiteral("trackTitle"));
        trackArtist_ = makeSettingsText(QString(), 11, QFont::Normal, TextTone::secondary, trackRow_);
        trackArtist_->setObjectName(QStringLiteral("trackArtist"));
        for (QLabel* label : {trackTitle_, trackArtist_}) {
            label->setWordWrap(false);
            label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        }
        texts->addWidget(trackTitle_);
        texts->addWidget(trackArtist_);
        playingDot_ = new PlayingDot(trackRow_);
        playingDot_->setObjectName(QStringLiteral("playingDot"));
        row->addWidget(artwork_, 0, Qt::AlignVCenter);
        row->addLayout(texts, 1);
        row->addWidget(playingDot_, 0, Qt::AlignVCenter);
        nowPlayingCard_->addContent(trackRow_);

        emptyRow_ = new PreviewRow(nowPlayingCard_);
        emptyRow_->setObjectName(QStringLiteral("noMusicRow"));
        auto* empty = new QHBoxLayout(emptyRow_);
        empty->setContentsMargins(kRowPadding, kRowPadding, kRowPadding, kRowPadding);
        empty->addWidget(new SymbolView(QStringLiteral("music.note.list"), 13, SymbolView::Tone::secondary, 16, emptyRow_));
        emptyText_ = makeSettingsText(QString(), 12, QFont::Normal, TextTone::secondary, emptyRow_);
        emptyText_->setObjectName(QStringLiteral("noMusicText"));
        emptyText_->setWordWrap(false);
        empty->addWidget(emptyText_);
        empty->addStretch(1);
        nowPlayingCard_->addContent(emptyRow_);
    }
    addCard(nowPlayingCard_);

    refresh();
    subscription_ = model_.changed().sink([this] { refresh(); });
}

void MusicSettingsTab::showEvent(QShowEvent* event) {
    SettingsPage::showEvent(event);
    model_.pageShown();
}

void MusicSettingsTab::refresh() {
    appCard_->setTexts(model_.appCardTitle(), model_.appCardSubtitle());
    const auto path = model_.effectiveAppPath();
    appIcon_->setVisible(path.has_value());
    appName_->setVisible(path.has_value());
    notSelected_->setVisible(!path.has_value());
    clearButton_->setVisible(path.has_value());
    if (path) {
        appIcon_->setPixmap(workspace_.iconForFile(*path).pixmap(kAppIconSize, kAppIconSize));
        appName_->setText(MusicSettingsModel::displayName(*path));
    }
    notSelected_->setText(model_.notSelectedText());
    selectButton_->setText(model_.selectButtonTitle());
    clearButton_->setText(model_.clearButtonTitle());

    detectionCard_->setTexts(model_.detectionCardTitle(), model_.detectionCardSubtitle());
    sourceHeader_->setText(model_.sourceHeader());
    sourcePicker_->setLabel(model_.sourceHeader());
    sourcePicker_->setSegments(model_.sourceChoices());
    sourcePicker_->setSelectedIndex(model_.selectedSourceIndex());
    const auto note = model_.sourceNote();
    sourceNote_->setText(note.value_or(QString()));
    sourceNote_->setVisible(note.has_value());
    const bool notchOn = model_.enableNotchFeatures();
    notchSwitch_->setText(model_.notchFeaturesLabel());
    notchSwitch_->showValue(notchOn);
    notchNote_->setText(model_.notchFeaturesNote());
    miniPlayerSwitch_->setText(model_.miniPlayerLabel());
    miniPlayerSwitch_->showValue(model_.showMiniPlayer());
    miniPlayerSwitch_->setEnabled(notchOn);
    miniPlayerNote_->setText(model_.miniPlayerNote());

    controlsCard_->setTexts(model_.controlsCardTitle(), model_.controlsCardSubtitle());
    colorHeader_->setText(model_.colorHeader());
    colorPicker_->setLabel(model_.colorHeader());
    colorPicker_->setSegments(model_.colorChoices());
    colorPicker_->setSelectedIndex(model_.selectedColorIndex());
    colorPicker_->setEnabled(notchOn);
    hotkeysSwitch_->setText(model_.hotkeysLabel());
    hotkeysSwitch_->showValue(model_.enableMusicHotkeys());
    hotkeysNote_->setText(model_.hotkeysNote());

    nowPlayingCard_->setTexts(model_.nowPlayingCardTitle(), model_.nowPlayingCardSubtitle());
    const auto track = model_.nowPlaying();
    trackRow_->setVisible(track.has_value());
    emptyRow_->setVisible(!track.has_value());
    emptyText_->setText(model_.noMusicText());
    if (track) {
        artwork_->setArtwork(track->artwork);
        trackTitle_->setText(track->title);
        trackArtist_->setText(track->artist);
        playingDot_->setPlaying(track->isPlaying);
    }
}

QWidget* makeMusicSettingsTab(const SettingsEnvironment& environment) { return new MusicSettingsTab(environment); }
