#include "permissions/permission_setup_view.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QColor kGreen(52, 199, 89);
const QColor kOrange(255, 149, 0);

QFont systemFont(int size, QFont::Weight weight = QFont::Normal) {
    QFont font = QApplication::font();
    font.setPixelSize(size);
    font.setWeight(weight);
    return font;
}

QColor secondaryColor(const QWidget* widget, double opacity = 0.55) {
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QColor accentColor(const QWidget* widget, double opacity = 1.0) {
    QColor color = widget->palette().color(QPalette::Highlight);
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

constexpr int kBodyPadding = 22;
constexpr int kRowSpacing = 10;

// Children take the column's full width, so wrapped texts use all of it.
QVBoxLayout* column(QWidget* widget, int spacing, int padding = 0) {
    auto* layout = new QVBoxLayout(widget);
    layout->setSpacing(spacing);
    layout->setContentsMargins(padding, padding, padding, padding);
    return layout;
}

QHBoxLayout* row(QWidget* widget = nullptr) {
    auto* layout = new QHBoxLayout(widget);
    layout->setSpacing(kRowSpacing);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

// A capsule with a status dot and a title.
class StepChip final : public QWidget {
public:
    StepChip(const PermissionSetupModel::Chip& chip, QWidget* parent) : QWidget(parent), chip_(chip) {
        setFont(systemFont(12, QFont::Medium));
        const QFontMetrics metrics(font());
        setFixedSize(10 + 8 + 8 + metrics.horizontalAdvance(chip_.title) + 10, std::max(8, metrics.height()) + 14);
        setAccessibleName(chip_.title);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = rect();
        painter.setPen(Qt::NoPen);
        painter.setBrush(chip_.isCurrent ? accentColor(this, 0.12) : secondaryColor(this, 0.08));
        painter.drawRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
        // Complete wins over current.
        painter.setBrush(chip_.isComplete  ? kGreen
                         : chip_.isCurrent ? accentColor(this)
                                           : secondaryColor(this, 0.3));
        painter.drawEllipse(QRectF(10, bounds.center().y() - 4, 8, 8));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRectF(26, 0, bounds.width() - 36, bounds.height()), Qt::AlignVCenter | Qt::AlignLeft,
                         chip_.title);
    }

private:
    PermissionSetupModel::Chip chip_;
};

// The card behind the step's content: control background, radius 16, a faint outline.
class Card final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setBrush(palette().color(QPalette::Base));
        painter.setPen(QPen(QColor(0, 0, 0, static_cast<int>(0.06 * 255)), 1));
        painter.drawRoundedRect(bounds, 16, 16);
    }
};

// A status value: selectable, wraps anywhere, at most three lines.
class StatusValue final : public QPlainTextEdit {
public:
    StatusValue(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
        : QPlainTextEdit(text, parent) {
        setReadOnly(true);
        // Selectable and copyable, but it never takes the focus from the default button.
        setTextInteractionFlags(Qt::TextSelectableByMouse);
        setFocusPolicy(Qt::ClickFocus);
        setFrameShape(QFrame::NoFrame);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFont(font);
        document()->setDocumentMargin(0);
        QPalette palette = this->palette();
        palette.setColor(QPalette::Base, Qt::transparent);
        palette.setColor(QPalette::Text, color);
        setPalette(palette);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        QSizePolicy policy = sizePolicy();
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        // Laid out as the editor lays it out, then cut to three lines.
        QTextDocument document;
        document.setDefaultFont(font());
        document.setDocumentMargin(0);
        QTextOption option = document.defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        document.setDefaultTextOption(option);
        document.setPlainText(toPlainText());
        document.setTextWidth(std::max(1, width - 4));
        const int lineHeight = std::max(1, QFontMetrics(font()).lineSpacing());
        const int lines = std::clamp(static_cast<int>(std::ceil(document.size().height() / lineHeight)), 1, 3);
        return lines * lineHeight + 2;
    }
    QSize sizeHint() const override { return {200, heightForWidth(PermissionSetupView::columnWidth - 80)}; }
    // A scroll area's own minimum is several lines high; one line is enough here, or the setup
    // window grows taller than its content and spreads the slack between its pieces.
    QSize minimumSizeHint() const override { return {50, QFontMetrics(font()).lineSpacing() + 2}; }
};

}  // namespace

PermissionSetupView::PermissionSetupView(bool requiresAccessibility, bool requiresFullDiskAccess,
                                         PermissionSetupModel::Actions actions,
                                         PermissionSetupModel::Environment environment, QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<PermissionSetupModel>(requiresAccessibility, requiresFullDiskAccess, std::move(actions),
                                                    std::move(environment))) {
    setFixedWidth(columnWidth);
    body_ = column(this, 18, kBodyPadding);
    changedSubscription_ = model_->changed().sink([this] { rebuild(); });
    rebuild();
}

PermissionSetupView::~PermissionSetupView() = default;

void PermissionSetupView::rebuild() {
    // The old content may hold the button whose click led here: it goes once the event is done.
    while (QLayoutItem* item = body_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    body_->addWidget(makeHeader());
    body_->addWidget(makeProgress());
    body_->addWidget(makeCard());
    body_->addWidget(makeFooter());
}

QWidget* PermissionSetupView::makeHeader() {
    auto* header = new QWidget(this);
    auto* layout = column(header, 6);
    layout->addWidget(makeLabel(QStringLiteral("Finish Setup"), systemFont(20, QFont::DemiBold),
                                palette().color(QPalette::WindowText), header));
    layout->addWidget(makeLabel(
        QStringLiteral("Linux asks for no permissions, but Quillvex needs a few things in place before the "
                       "notification overlay works reliably."),
        systemFont(13), secondaryColor(this), header));
    return header;
}

QWidget* PermissionSetupView::makeProgress() {
    auto* progress = new QWidget(this);
    auto* layout = row(progress);
    for (const auto& chip : model_->chips()) layout->addWidget(new StepChip(chip, progress), 0, Qt::AlignVCenter);
    layout->addStretch(1);
    return progress;
}

QWidget* PermissionSetupView::makeCard() {
    auto* card = new Card(this);
    auto* cardLayout = column(card, 14, 18);
    auto* content = new QWidget(card);
    auto* layout = column(content, 12);
    cardLayout->addWidget(content);

    layout->addWidget(makeLabel(model_->heading(), systemFont(16, QFont::DemiBold),
                                palette().color(QPalette::WindowText), content));
    layout->addWidget(makeLabel(model_->explanation(), systemFont(13), secondaryColor(this), content));

    const QStringList instructions = model_->instructions();
    if (!instructions.isEmpty()) {
        auto* list = new QWidget(content);
        auto* listLayout = column(list, 4);
        for (const QString& line : instructions) {
            listLayout->addWidget(makeLabel(line, systemFont(12), secondaryColor(this), list));
        }
        layout->addWidget(list);
    }
    if (const auto warning = model_->warning()) layout->addWidget(makeLabel(*warning, systemFont(12), kOrange, content));

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(11);
    for (const auto& line : model_->statusLines()) {
        auto* status = new QWidget(content);
        auto* statusLayout = column(status, 3);
        statusLayout->addWidget(makeLabel(line.title, systemFont(11, QFont::DemiBold), secondaryColor(this), status));
        auto* value = new StatusValue(line.value, line.monospace ? mono : systemFont(12), secondaryColor(this), status);
        value->setAccessibleName(line.title);
        statusLayout->addWidget(value);
        layout->addWidget(status);
    }
    return card;
}

QWidget* PermissionSetupView::makeFooter() {
    auto* footer = new QWidget(this);
    auto* rows = column(footer, kRowSpacing);
    auto buttons = model_->buttons();
    buttons.push_back(model_->quitButton());
    // Every title shows in full: a button that does not fit beside the ones before it starts a
    // new row, and "Quit" keeps the right end of the last row.
    const int room = columnWidth - 2 * kBodyPadding;
    QHBoxLayout* current = nullptr;
    int used = 0;
    footerButtons_.clear();
    for (size_t i = 0; i < buttons.size(); ++i) {
        auto* widget = new QPushButton(buttons[i].title, footer);
        widget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        widget->setDefault(buttons[i].isDefault);
        connect(widget, &QPushButton::clicked, widget, [action = buttons[i].action] {
            if (action) action();
        });
        const int width = widget->sizeHint().width();
        if (!current || used + kRowSpacing + width > room) {
            if (current) current->addStretch(1);  // a full row stays packed to the left
            current = row();
            rows->addLayout(current);
            used = width;
        } else {
            used += kRowSpacing + width;
        }
        if (i + 1 == buttons.size()) current->addStretch(1);
        current->addWidget(widget);
        footerButtons_.append(widget);
    }
    return footer;
}

void PermissionSetupView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) model_->appear();
}

void PermissionSetupView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) model_->disappear();
}

void PermissionSetupView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && model_->performDefaultAction()) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
