#include "general_settings_tab.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "core/log.h"
#include "core/notification_records.h"
#include "core/runtime_diagnostics.h"
#include "core/settings_enums.h"
#include "core/wall_clock.h"
#include "platform/shell/alert_presenter.h"
#include "settings_card.h"
#include "settings_style.h"

#include <QBuffer>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QUuid>
#include <QVBoxLayout>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

const QString kDatabase = QStringLiteral("database");
const QString kMainScreen = QStringLiteral("main");
constexpr double kDefaultTimeout = 2.0;
constexpr int kIconSize = 128;

QString allowedBadge(bool allowed) {
    return allowed ? L10n::pick(QStringLiteral("Allowed"), QStringLiteral("許可済み"))
                   : L10n::pick(QStringLiteral("Not Allowed"), QStringLiteral("未許可"));
}

QString openSettingsTitle() { return L10n::pick(QStringLiteral("Open Settings"), QStringLiteral("設定を開く")); }

// The desktop has no pane for these permissions: the button says what the row means here instead.
void explainRow(const QString& row, const QString& message, const QString& informative) {
    Log::shared().info(QStringLiteral("GeneralSettingsTab: ") + row +
                       QStringLiteral(" has no settings pane on Linux; showing where to look"));
    platform::Alert alert;
    alert.messageText = message;
    alert.informativeText = informative;
    alert.buttons = {QStringLiteral("OK")};
    platform::AlertPresenter::shared().present(std::move(alert));
}

// The desktop's icon of the application with this bundle identifier, as image bytes.
std::optional<QByteArray> applicationIconData(platform::Workspace& workspace, const QString& bundleId) {
    const auto path = workspace.urlForApplicationWithBundleIdentifier(bundleId);
    if (!path) return std::nullopt;
    const QIcon icon = workspace.iconForFile(*path);
    const QImage image = icon.pixmap(QSize(kIconSize, kIconSize)).toImage();
    if (image.isNull()) return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return std::nullopt;
    return bytes;
}

}  // namespace

GeneralSettingsModel::GeneralSettingsModel(const SettingsEnvironment& environment)
    : environment_(environment),
      defaults_(environment.resolvedDefaults()),
      isAXTrusted_(environment.resolvedPermissions().isAccessibilityTrusted()),
      calendar_(environment, context, lifetime_.wrap([this] { onGranted(); })),
      watch_(defaults_, {AppSettings::detectionSourceKey, AppSettings::notificationDisplayScreenKey,
                         AppSettings::displayTimeoutKey}) {
    FullDiskAccessManager& fullDiskAccess = environment.resolvedFullDiskAccess();
    const auto snapshot = fullDiskAccess.diagnosticSnapshot();
    fullDiskAccess.logDiagnosticSnapshotIfNeeded(snapshot, QStringLiteral("check"));
    hasFullDiskAccess_ = snapshot.canOpen;

    subscriptions_.insert(defaults_.didChange().sink([this](const QString& key) {
        // The duration follows its key unless the user is typing in the field.
        if (key != AppSettings::displayTimeoutKey || editing_) return;
        timeoutText_ = formattedTimeout(storedTimeout());
        changed_.send();
    }));
    subscriptions_.insert(watch_.changed().sink([this] { changed_.send(); }));
    subscriptions_.insert(calendar_.changed().sink([this] { changed_.send(); }));
}

double GeneralSettingsModel::normalizedTimeout(double value) {
    const double clamped = std::clamp(value, timeoutMin, timeoutMax);
    return std::round(clamped / timeoutStep) * timeoutStep;
}

QString GeneralSettingsModel::formattedTimeout(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", normalizedTimeout(value));
    return QString::fromLatin1(text);
}

std::optional<double> GeneralSettingsModel::parseTimeout(const QString& text) {
    const QByteArray bytes = text.trimmed().toUtf8();
    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    // from_chars takes no plus sign; a decimal number may carry one.
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-' && begin[1] != '+') ++begin;
    if (begin == end) return std::nullopt;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::general);
    // Out of range reads as an infinity or zero, which the normalising brings into range.
    if (error == std::errc::result_out_of_range) {
        value = (*begin == '-') ? -HUGE_VAL : HUGE_VAL;
        const QByteArray mantissa(begin, static_cast<int>(end - begin));
        if (mantissa.toLower().contains("e-")) value = 0;
    } else if (error != std::errc()) {
        return std::nullopt;
    }
    if (stop != end || std::isnan(value)) return std::nullopt;
    return value;
}

QString GeneralSettingsModel::accessTitle() const {
    return L10n::pick(QStringLiteral("Access Status"), QStringLiteral("アクセス状況"));
}
QString GeneralSettingsModel::accessSubtitle() const {
    return L10n::pick(QStringLiteral("Review the permissions needed for notifications and calendar integration."),
                      QStringLiteral("通知検知とカレンダー連携に必要な権限をここで確認できます。"));
}

PermissionRowContent GeneralSettingsModel::accessibilityRow() {
    PermissionRowContent row;
    row.title = L10n::pick(QStringLiteral("Accessibility"), QStringLiteral("アクセシビリティ"));
    row.detail = L10n::pick(QStringLiteral("Required for UI-based detection."), QStringLiteral("UI 検知方式で必要です"));
    row.badge = allowedBadge(isAXTrusted_);
    row.tone = isAXTrusted_ ? PermissionTone::green : PermissionTone::orange;
    row.buttonTitle = openSettingsTitle();
    // Turns the desktop's accessibility on; the row shows the result at its next refresh. No
    // desktop has a pane for it, so where it is still off the alert says what else it needs.
    row.action = [this] {
        PermissionManager& permissions = environment_.resolvedPermissions();
        const bool wasTrusted = permissions.isAccessibilityTrusted();
        permissions.requestAccessibility();
        if (wasTrusted) return;
        explainRow(QStringLiteral("Accessibility"),
                   L10n::pick(QStringLiteral("Accessibility on Linux"), QStringLiteral("Linux でのアクセシビリティ")),
                   L10n::pick(QStringLiteral("Quillvex has turned on the desktop's accessibility (AT-SPI), through which "
                                             "UI detection reads the popups of the notification daemon. This row shows "
                                             "Allowed within a second; if it does not, install at-spi2-core and log in "
                                             "again. A daemon without accessibility support (such as dunst) shows "
                                             "nothing to UI detection: choose Database detection there."),
                              QStringLiteral("Quillvex はデスクトップのアクセシビリティ（AT-SPI）をオンにしました。UI "
                                             "検知方式はこれを通して通知デーモンのポップアップを読み取ります。この行は1秒"
                                             "以内に「許可済み」になります。ならない場合は at-spi2-core をインストールして"
                                             "ログインし直してください。アクセシビリティに対応していない通知デーモン（dunst "
                                             "など）では UI 検知方式は何も検出しません。その場合は「データベース」検知方式を"
                                             "選んでください。")));
    };
    return row;
}

PermissionRowContent GeneralSettingsModel::fullDiskAccessRow() {
    PermissionRowContent row;
    row.title = L10n::pick(QStringLiteral("Full Disk Access"), QStringLiteral("フルディスクアクセス"));
    row.detail = L10n::pick(QStringLiteral("Required for database-based detection."),
                            QStringLiteral("データベース検知方式で必要です"));
    row.badge = allowedBadge(hasFullDiskAccess_);
    if (hasFullDiskAccess_) {
        row.tone = PermissionTone::green;
    } else {
        // Missing access matters only to the detection that needs it.
        const auto source = defaults_.stringValue(AppSettings::detectionSourceKey).value_or(kDatabase);
        row.tone = source == kDatabase ? PermissionTone::orange : PermissionTone::secondary;
    }
    row.buttonTitle = openSettingsTitle();
    row.action = [this] {
        FullDiskAccessManager& fullDiskAccess = environment_.resolvedFullDiskAccess();
        fullDiskAccess.openFullDiskAccessSettings();
        const QString store = fullDiskAccess.diagnosticSnapshot().dbPath;
        explainRow(QStringLiteral("Full Disk Access"),
                   L10n::pick(QStringLiteral("Full Disk Access on Linux"), QStringLiteral("Linux でのフルディスクアクセス")),
                   L10n::pick(QStringLiteral("Linux has no Full Disk Access setting. This row shows whether Quillvex can "
                                             "read its notification store at %1; if it cannot, check that the file "
                                             "exists and that you own it and its folders."),
                              QStringLiteral("Linux にはフルディスクアクセスの設定はありません。この行は、Quillvex が"
                                             "通知ストア %1 を読めるかどうかを示します。読めない場合は、ファイルがあり、"
                                             "ファイルとそのフォルダがあなたの所有であることを確認してください。"))
                       .arg(store));
    };
    return row;
}

PermissionRowContent GeneralSettingsModel::calendarRow() {
    return calendar_.row(L10n::pick(QStringLiteral("Calendar"), QStringLiteral("カレンダー")),
                         L10n::pick(QStringLiteral("Used for Next Up and Meeting Join."),
                                    QStringLiteral("Next Up と Meeting Join 用の予定取得に使います")));
}

QString GeneralSettingsModel::calendarNote() const {
    return L10n::pick(QStringLiteral("Calendar access is not requested during install. Linux asks nothing: the "
                                     "desktop's calendars are read through Evolution Data Server, from here or when "
                                     "you first use Glance."),
                      QStringLiteral("インストール時にはカレンダー許可は出ません。Linux では許可ダイアログは出ず、ここか、"
                                     "Glance を初めて使うときに Evolution Data Server からデスクトップのカレンダーを"
                                     "読みます。"));
}

std::optional<QString> GeneralSettingsModel::unsignedWarning() const {
    if (!calendar_.showsUnsignedWarning()) return std::nullopt;
    return calendar_.warningText();
}

void GeneralSettingsModel::refreshAccessStates() {
    const bool trusted = environment_.resolvedPermissions().isAccessibilityTrusted();
    FullDiskAccessManager& fullDiskAccess = environment_.resolvedFullDiskAccess();
    const auto snapshot = fullDiskAccess.diagnosticSnapshot();
    fullDiskAccess.logDiagnosticSnapshotIfNeeded(snapshot, QStringLiteral("check"));
    const bool changed = trusted != isAXTrusted_ || snapshot.canOpen != hasFullDiskAccess_;
    isAXTrusted_ = trusted;
    hasFullDiskAccess_ = snapshot.canOpen;
    calendar_.refresh();
    if (changed) changed_.send();
}

void GeneralSettingsModel::setPageShown(bool shown) {
    if (shown == pageShown_) return;
    pageShown_ = shown;
    if (!shown) {
        accessTimer_.invalidate();
        return;
    }
    timeoutText_ = formattedTimeout(storedTimeout());
    refreshAccessStates();
    changed_.send();
    accessTimer_ = environment_.resolvedScheduler().every(accessRefreshInterval,
                                                          lifetime_.wrap([this] { refreshAccessStates(); }));
}

void GeneralSettingsModel::onGranted() {
    refreshAccessStates();
    CalendarService& service = environment_.resolvedCalendarService();
    service.stop();
    const AppSettings settings(&defaults_);
    if (settings.enableNotchFeatures() && settings.enableGlance() && settings.showCalendar()) service.start();
    SettingsHost* host = environment_.host;
    environment_.resolvedScheduler().post([host] {
        if (host) host->resumeMonitoringAfterCalendarPermissionFlow();
    });
}

QString GeneralSettingsModel::detectionCardTitle() const {
    return L10n::pick(QStringLiteral("Language & Detection"), QStringLiteral("言語と通知検知"));
}
QString GeneralSettingsModel::detectionCardSubtitle() const {
    return L10n::pick(QStringLiteral("The settings you will actually touch day to day."),
                      QStringLiteral("日常的に触る項目だけをここにまとめています。"));
}
QString GeneralSettingsModel::languageHeader() const { return L10n::pick(QStringLiteral("Language"), QStringLiteral("言語")); }

std::vector<SettingsChoice> GeneralSettingsModel::languageChoices() const {
    return {
        {L10n::languageAuto, L10n::pick(QStringLiteral("Auto (System)"), QStringLiteral("自動（システム設定）")), std::nullopt},
        {L10n::languageEnglish, QStringLiteral("English"), std::nullopt},
        {L10n::languageJapanese, QStringLiteral("日本語"), std::nullopt},
    };
}

std::optional<int> GeneralSettingsModel::indexOf(const QString& key, const QString& fallback,
                                                 const std::vector<SettingsChoice>& choices) const {
    const QString stored = boundText(defaults_, key, fallback);
    for (int i = 0; i < static_cast<int>(choices.size()); ++i) {
        if (choices[i].tag == stored) return i;
    }
    return std::nullopt;
}

void GeneralSettingsModel::choose(const QString& key, const std::vector<SettingsChoice>& choices, int index) {
    if (index < 0 || index >= static_cast<int>(choices.size())) return;
    if (defaults_.stringValue(key) == choices[index].tag) return;
    defaults_.set(key, choices[index].tag);
}

std::optional<int> GeneralSettingsModel::selectedLanguageIndex() const {
    return indexOf(L10n::languageKey, L10n::languageAuto, languageChoices());
}
void GeneralSettingsModel::chooseLanguage(int index) { choose(L10n::languageKey, languageChoices(), index); }

QString GeneralSettingsModel::detectionHeader() const {
    return L10n::pick(QStringLiteral("Detection Method"), QStringLiteral("通知の検出方法"));
}

std::vector<SettingsChoice> GeneralSettingsModel::detectionChoices() const {
    std::vector<SettingsChoice> choices;
    for (const auto& [source, raw] : EnumCases<NotificationDetectionSource>::table) {
        const QString title = source == NotificationDetectionSource::database
                                  ? L10n::pick(QStringLiteral("Database"), QStringLiteral("データベース"))
                                  : QStringLiteral("UI");
        choices.push_back({QString::fromLatin1(raw), title, std::nullopt});
    }
    return choices;
}

std::optional<int> GeneralSettingsModel::selectedDetectionIndex() const {
    return indexOf(AppSettings::detectionSourceKey, kDatabase, detectionChoices());
}
void GeneralSettingsModel::chooseDetection(int index) { choose(AppSettings::detectionSourceKey, detectionChoices(), index); }

QString GeneralSettingsModel::detectionNote() const {
    return L10n::detectionMethodDesc();
}

QString GeneralSettingsModel::displayCardTitle() const {
    return L10n::pick(QStringLiteral("Display & Behavior"), QStringLiteral("表示と挙動"));
}
QString GeneralSettingsModel::displayCardSubtitle() const {
    return L10n::pick(QStringLiteral("Tune how long notifications stay and where they appear."),
                      QStringLiteral("通知の滞在時間と表示先を調整します。"));
}
QString GeneralSettingsModel::durationHeader() const {
    return L10n::pick(QStringLiteral("Display Duration (sec)"), QStringLiteral("表示時間（秒）"));
}
QString GeneralSettingsModel::stepNote() const { return L10n::pick(QStringLiteral("0.1s step"), QStringLiteral("0.1秒刻み")); }

double GeneralSettingsModel::storedTimeout() const {
    return boundDouble(defaults_, AppSettings::displayTimeoutKey, kDefaultTimeout);
}

void GeneralSettingsModel::setTimeout(double value) { defaults_.set(AppSettings::displayTimeoutKey, normalizedTimeout(value)); }

void GeneralSettingsModel::stepTimeout(int steps) {
    // The stepper moves within the range, from the stored value as it stands.
    const double current = std::clamp(storedTimeout(), timeoutMin, timeoutMax);
    setTimeout(current + steps * timeoutStep);
}

void GeneralSettingsModel::setTimeoutFieldEditing(bool editing) {
    if (editing == editing_) return;
    editing_ = editing;
    if (!editing) commitTimeoutText();
}

void GeneralSettingsModel::commitTimeoutText() {
    if (typed_) {
        if (const auto parsed = parseTimeout(timeoutText_)) setTimeout(*parsed);
    }
    typed_ = false;
    // Either way the field shows what is stored: a rejected text falls back to the last valid one.
    timeoutText_ = formattedTimeout(storedTimeout());
    changed_.send();
}

QString GeneralSettingsModel::screenHeader() const {
    return L10n::pick(QStringLiteral("Display Screen"), QStringLiteral("通知の表示先"));
}

std::vector<SettingsChoice> GeneralSettingsModel::screenChoices() const {
    std::vector<SettingsChoice> choices;
    for (const auto& [screen, raw] : EnumCases<NotificationDisplayScreen>::table) {
        QString title;
        switch (screen) {
            case NotificationDisplayScreen::main:
                title = L10n::pick(QStringLiteral("Main Display"), QStringLiteral("メインディスプレイ"));
                break;
            case NotificationDisplayScreen::current:
                title = L10n::pick(QStringLiteral("Current Display"), QStringLiteral("現在のディスプレイ"));
                break;
            case NotificationDisplayScreen::all:
                title = L10n::pick(QStringLiteral("All Displays"), QStringLiteral("すべてのディスプレイ"));
                break;
        }
        choices.push_back({QString::fromLatin1(raw), title, std::nullopt});
    }
    return choices;
}

std::optional<int> GeneralSettingsModel::selectedScreenIndex() const {
    return indexOf(AppSettings::notificationDisplayScreenKey, kMainScreen, screenChoices());
}
void GeneralSettingsModel::chooseScreen(int index) {
    choose(AppSettings::notificationDisplayScreenKey, screenChoices(), index);
}

std::optional<QString> GeneralSettingsModel::screenNote() const {
    const QString stored = boundText(defaults_, AppSettings::notificationDisplayScreenKey, kMainScreen);
    if (stored == QLatin1String("main")) {
        return L10n::pick(QStringLiteral("Always show on built-in display (for laptops)"),
                          QStringLiteral("常に内蔵ディスプレイに表示（ノートPC向け）"));
    }
    if (stored == QLatin1String("current")) {
        return L10n::pick(QStringLiteral("Show on the display where the cursor is"),
                          QStringLiteral("カーソルがあるディスプレイに表示"));
    }
    if (stored == QLatin1String("all")) {
        return L10n::pick(QStringLiteral("Show on all connected displays"),
                          QStringLiteral("接続中のすべてのディスプレイに表示"));
    }
    return std::nullopt;
}

QString GeneralSettingsModel::testCardTitle() const {
    return L10n::pick(QStringLiteral("Test Notification"), QStringLiteral("テスト通知"));
}
QString GeneralSettingsModel::testCardSubtitle() const {
    return L10n::pick(QStringLiteral("Preview the real overlay UI without waiting for a live notification."),
                      QStringLiteral("実際のオーバーレイ UI をその場で確認できます。"));
}
QString GeneralSettingsModel::genericButtonTitle() const { return L10n::pick(QStringLiteral("Generic"), QStringLiteral("汎用")); }
QString GeneralSettingsModel::messageButtonTitle() const {
    return L10n::pick(QStringLiteral("Message"), QStringLiteral("メッセージ"));
}
QString GeneralSettingsModel::faceTimeButtonTitle() const {
    return L10n::pick(QStringLiteral("FaceTime Call"), QStringLiteral("FaceTime着信"));
}

void GeneralSettingsModel::fireGenericTest() {
    NotificationSignal signal{QUuid::createUuid(),
                              wallClockNow(environment_.resolvedScheduler()),
                              SignalConfidence::strong,
                              QStringLiteral("TestApp"),
                              QStringLiteral("This is a test notification from Quillvex"),
                              std::nullopt,
                              std::nullopt,
                              false};
    environment_.resolvedBus().signalSubject.send(signal);
}

void GeneralSettingsModel::fireMessageTest() {
    fireTestNotification(QStringLiteral("Messages"), QStringLiteral("Hey, are you free tonight?"),
                         QStringLiteral("com.apple.MobileSMS"), false);
}

void GeneralSettingsModel::fireFaceTimeTest() {
    fireTestNotification(QStringLiteral("FaceTime"), std::nullopt, QStringLiteral("com.apple.FaceTime"), true);
}

void GeneralSettingsModel::fireTestNotification(const QString& sourceHint, const std::optional<QString>& message,
                                                const std::optional<QString>& bundleId, bool isCallAlert) {
    std::optional<QByteArray> icon;
    if (bundleId) icon = applicationIconData(environment_.resolvedWorkspace(), *bundleId);
    NotificationSignal signal{QUuid::createUuid(),
                              wallClockNow(environment_.resolvedScheduler()),
                              SignalConfidence::strong,
                              sourceHint,
                              message,
                              icon,
                              bundleId,
                              isCallAlert};
    environment_.resolvedBus().signalSubject.send(signal);
}

SettingsStepper::SettingsStepper(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setObjectName(QStringLiteral("stepUp"));
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setObjectName(QStringLiteral("stepDown"));
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {up_, down_}) {
        button->setFixedSize(18, 11);
        button->setAutoRepeat(true);
        layout->addWidget(button);
    }
    connect(up_, &QToolButton::clicked, this, [this] {
        if (onStep) onStep(1);
    });
    connect(down_, &QToolButton::clicked, this, [this] {
        if (onStep) onStep(-1);
    });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

GeneralSettingsTab::GeneralSettingsTab(const SettingsEnvironment& environment, QWidget* parent)
    : SettingsPage(parent), model_(environment) {
    setObjectName(QStringLiteral("GeneralSettingsTab"));

    accessCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("checklist"));
    accessCard_->setObjectName(QStringLiteral("accessCard"));
    {
        auto* content = new QWidget(accessCard_);
        auto* layout = new QVBoxLayout(content);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(12);
        accessibilityRow_ = new PermissionRowSlot(content);
        accessibilityRow_->setObjectName(QStringLiteral("accessibilityRow"));
        fullDiskAccessRow_ = new PermissionRowSlot(content);
        fullDiskAccessRow_->setObjectName(QStringLiteral("fullDiskAccessRow"));
        calendarRow_ = new PermissionRowSlot(content);
        calendarRow_->setObjectName(QStringLiteral("calendarRow"));
        calendarNote_ = makeNote(QString(), content);
        calendarNote_->setObjectName(QStringLiteral("calendarNote"));
        calendarNote_->setContentsMargins(0, 4, 0, 0);
        unsignedWarning_ = makeSettingsText(QString(), 11, QFont::Normal, SettingsStyle::systemOrange(), content);
        unsignedWarning_->setObjectName(QStringLiteral("unsignedWarning"));
        layout->addWidget(accessibilityRow_);
        layout->addWidget(fullDiskAccessRow_);
        layout->addWidget(calendarRow_);
        layout->addWidget(calendarNote_);
        layout->addWidget(unsignedWarning_);
        accessCard_->addContent(content);
    }
    addCard(accessCard_);

    detectionCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("bell.badge"));
    detectionCard_->setObjectName(QStringLiteral("detectionCard"));
    {
        auto* block = new QWidget(detectionCard_);
        auto* layout = makeBlock(block);
        languageHeader_ = makeBlockHeader(QString(), block);
        languagePicker_ = new SegmentedPicker(QString(), block);
        languagePicker_->setObjectName(QStringLiteral("languagePicker"));
        languagePicker_->onChosen = [this](int index) { model_.chooseLanguage(index); };
        layout->addWidget(languageHeader_);
        layout->addWidget(languagePicker_);
        detectionCard_->addContent(block);
    }
    detectionCard_->addContent(makeDivider(detectionCard_));
    {
        auto* block = new QWidget(detectionCard_);
        auto* layout = makeBlock(block);
        detectionHeader_ = makeBlockHeader(QString(), block);
        detectionPicker_ = new SegmentedPicker(QString(), block);
        detectionPicker_->setObjectName(QStringLiteral("detectionPicker"));
        detectionPicker_->onChosen = [this](int index) { model_.chooseDetection(index); };
        detectionNote_ = makeNote(QString(), block);
        detectionNote_->setObjectName(QStringLiteral("detectionNote"));
        layout->addWidget(detectionHeader_);
        layout->addWidget(detectionPicker_);
        layout->addWidget(detectionNote_);
        detectionCard_->addContent(block);
    }
    addCard(detectionCard_);

    displayCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("display"));
    displayCard_->setObjectName(QStringLiteral("displayCard"));
    {
        auto* block = new QWidget(displayCard_);
        auto* layout = makeBlock(block);
        durationHeader_ = makeBlockHeader(QString(), block);
        auto* row = new QHBoxLayout();
        row->setSpacing(10);
        row->setContentsMargins(0, 0, 0, 0);
        timeoutField_ = new QLineEdit(block);
        timeoutField_->setObjectName(QStringLiteral("timeoutField"));
        timeoutField_->setPlaceholderText(QStringLiteral("2.0"));
        timeoutField_->setFixedWidth(70);
        timeoutField_->installEventFilter(this);
        connect(timeoutField_, &QLineEdit::textEdited, this, [this](const QString& text) { model_.setTimeoutText(text); });
        connect(timeoutField_, &QLineEdit::returnPressed, this, [this] { model_.commitTimeoutText(); });
        stepper_ = new SettingsStepper(block);
        stepper_->setObjectName(QStringLiteral("timeoutStepper"));
        stepper_->onStep = [this](int steps) { model_.stepTimeout(steps); };
        stepNote_ = makeNote(QString(), block);
        stepNote_->setWordWrap(false);
        row->addWidget(timeoutField_);
        row->addWidget(stepper_);
        row->addWidget(stepNote_);
        row->addStretch(1);
        layout->addWidget(durationHeader_);
        layout->addLayout(row);
        displayCard_->addContent(block);
    }
    displayCard_->addContent(makeDivider(displayCard_));
    {
        auto* block = new QWidget(displayCard_);
        auto* layout = makeBlock(block);
        screenHeader_ = makeBlockHeader(QString(), block);
        screenPicker_ = new SegmentedPicker(QString(), block);
        screenPicker_->setObjectName(QStringLiteral("screenPicker"));
        screenPicker_->onChosen = [this](int index) { model_.chooseScreen(index); };
        screenNote_ = makeNote(QString(), block);
        screenNote_->setObjectName(QStringLiteral("screenNote"));
        layout->addWidget(screenHeader_);
        layout->addWidget(screenPicker_);
        layout->addWidget(screenNote_);
        displayCard_->addContent(block);
    }
    addCard(displayCard_);

    testCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("bell.and.waves.left.and.right"));
    testCard_->setObjectName(QStringLiteral("testCard"));
    {
        auto* buttons = new QWidget(testCard_);
        auto* row = new QHBoxLayout(buttons);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        genericButton_ = new QPushButton(buttons);
        genericButton_->setObjectName(QStringLiteral("genericTestButton"));
        messageButton_ = new QPushButton(buttons);
        messageButton_->setObjectName(QStringLiteral("messageTestButton"));
        faceTimeButton_ = new QPushButton(buttons);
        faceTimeButton_->setObjectName(QStringLiteral("faceTimeTestButton"));
        connect(genericButton_, &QPushButton::clicked, this, [this] { model_.fireGenericTest(); });
        connect(messageButton_, &QPushButton::clicked, this, [this] { model_.fireMessageTest(); });
        connect(faceTimeButton_, &QPushButton::clicked, this, [this] { model_.fireFaceTimeTest(); });
        for (QPushButton* button : {genericButton_, messageButton_, faceTimeButton_}) {
            row->addWidget(button, 0, Qt::AlignVCenter);
        }
        row->addStretch(1);
        testCard_->addContent(buttons);
    }
    addCard(testCard_);

    refresh();
    subscription_ = model_.changed().sink([this] { refresh(); });
}

void GeneralSettingsTab::showEvent(QShowEvent* event) {
    SettingsPage::showEvent(event);
    model_.setPageShown(true);
}

void GeneralSettingsTab::hideEvent(QHideEvent* event) {
    SettingsPage::hideEvent(event);
    model_.setPageShown(false);
}

bool GeneralSettingsTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched == timeoutField_) {
        if (event->type() == QEvent::FocusIn) model_.setTimeoutFieldEditing(true);
        if (event->type() == QEvent::FocusOut) model_.setTimeoutFieldEditing(false);
    }
    return SettingsPage::eventFilter(watched, event);
}

void GeneralSettingsTab::refresh() {
    accessCard_->setTexts(model_.accessTitle(), model_.accessSubtitle());
    accessibilityRow_->show(model_.accessibilityRow());
    fullDiskAccessRow_->show(model_.fullDiskAccessRow());
    calendarRow_->show(model_.calendarRow());
    calendarNote_->setText(model_.calendarNote());
    const auto warning = model_.unsignedWarning();
    unsignedWarning_->setText(warning.value_or(QString()));
    unsignedWarning_->setVisible(warning.has_value());

    detectionCard_->setTexts(model_.detectionCardTitle(), model_.detectionCardSubtitle());
    languageHeader_->setText(model_.languageHeader());
    languagePicker_->setLabel(model_.languageHeader());
    languagePicker_->setSegments(model_.languageChoices());
    languagePicker_->setSelectedIndex(model_.selectedLanguageIndex());
    detectionHeader_->setText(model_.detectionHeader());
    detectionPicker_->setLabel(model_.detectionHeader());
    detectionPicker_->setSegments(model_.detectionChoices());
    detectionPicker_->setSelectedIndex(model_.selectedDetectionIndex());
    detectionNote_->setText(model_.detectionNote());

    displayCard_->setTexts(model_.displayCardTitle(), model_.displayCardSubtitle());
    durationHeader_->setText(model_.durationHeader());
    if (timeoutField_->text() != model_.timeoutText()) {
        const QSignalBlocker blocker(timeoutField_);
        timeoutField_->setText(model_.timeoutText());
    }
    stepNote_->setText(model_.stepNote());
    screenHeader_->setText(model_.screenHeader());
    screenPicker_->setLabel(model_.screenHeader());
    screenPicker_->setSegments(model_.screenChoices());
    screenPicker_->setSelectedIndex(model_.selectedScreenIndex());
    const auto note = model_.screenNote();
    screenNote_->setText(note.value_or(QString()));
    screenNote_->setVisible(note.has_value());

    testCard_->setTexts(model_.testCardTitle(), model_.testCardSubtitle());
    genericButton_->setText(model_.genericButtonTitle());
    messageButton_->setText(model_.messageButtonTitle());
    faceTimeButton_->setText(model_.faceTimeButtonTitle());
}

QWidget* makeGeneralSettingsTab(const SettingsEnvironment& environment) { return new GeneralSettingsTab(environment); }
