#include "platform/shell/window.h"

#include "platform/shell/window_registry.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

namespace platform {

class Window::Host final : public QWidget {
public:
    explicit Host(Window* owner) : owner_(owner) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }

    Window* owner_;
    bool handlingClose_ = false;
    QPointer<QWidget> content_;

protected:
    void closeEvent(QCloseEvent* event) override {
        // The owner may drop the window from inside its will-close; it then waits for this
        // handler to return before the toolkit window goes.
        handlingClose_ = true;
        if (owner_) owner_->hostWillClose();
        handlingClose_ = false;
        event->accept();
    }

    bool event(QEvent* event) override {
        // A fixed window follows its content when the content's size changes.
        if (owner_ && event->type() == QEvent::LayoutRequest) owner_->fitToContent();
        // The user bringing a window forward changes the order too.
        if (owner_ && event->type() == QEvent::WindowActivate) owner_->registry_->orderFront(owner_);
        return QWidget::event(event);
    }
};

namespace {

Qt::WindowFlags flagsFor(WindowStyleMask style) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if (style & WindowStyle::Titled) flags |= Qt::WindowTitleHint;
    if (style & WindowStyle::Closable) flags |= Qt::WindowCloseButtonHint;
    if (style & WindowStyle::Miniaturizable) flags |= Qt::WindowMinimizeButtonHint;
    if (style & WindowStyle::Resizable) flags |= Qt::WindowMaximizeButtonHint;
    return flags;
}

}  // namespace

Window::Window(WindowRegistry& registry, QSize contentSize, WindowStyleMask style)
    : registry_(&registry), style_(style), host_(new Host(this)) {
    host_->setWindowFlags(flagsFor(style));
    host_->setAttribute(Qt::WA_DeleteOnClose, false);
    setContentSize(contentSize);
    registry_->add(this);
}

Window::~Window() {
    registry_->remove(this);
    if (!host_) return;
    host_->owner_ = nullptr;
    if (host_->handlingClose_) {
        host_->deleteLater();
    } else {
        delete host_.data();
    }
}

QString Window::title() const { return host_->windowTitle(); }
void Window::setTitle(const QString& title) { host_->setWindowTitle(title); }

void Window::setLevel(WindowLevel level) {
    level_ = level;
    host_->setWindowFlag(Qt::WindowStaysOnTopHint, level == WindowLevel::floating);
}

QSize Window::contentSize() const { return host_->size(); }

void Window::setContentSize(QSize size) {
    requestedSize_ = size;
    if (style_ & WindowStyle::Resizable) {
        host_->resize(size);
    } else {
        fitToContent();
    }
}

void Window::fitToContent() {
    if (style_ & WindowStyle::Resizable) return;
    QWidget* content = host_->content_.data();
    if (!content) {
        host_->setFixedSize(requestedSize_);
        return;
    }
    // The content decides the height for the window's width, as a hosted view does.
    const int width = std::max(requestedSize_.width(), content->minimumSizeHint().width());
    // (A wrapping text's minimum height is measured at its narrowest, so only the height for the
    // actual width counts.)
    int height = content->hasHeightForWidth() ? content->heightForWidth(width)
                                              : std::max(content->sizeHint().height(), content->minimumSizeHint().height());
    if (height <= 0) height = requestedSize_.height();
    if (host_->size() != QSize(width, height)) host_->setFixedSize(width, height);
}

QSize Window::minSize() const { return host_->minimumSize(); }
void Window::setMinSize(QSize size) { host_->setMinimumSize(size); }

void Window::center() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = host_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    host_->move(frame.topLeft());
}

void Window::setContentView(QWidget* view) {
    if (host_->content_) delete host_->content_.data();
    host_->content_ = view;
    if (view) host_->layout()->addWidget(view);
    fitToContent();
}

QWidget* Window::contentView() const { return host_->content_.data(); }

bool Window::isVisible() const { return host_->isVisible(); }
bool Window::canBecomeKey() const { return (style_ & WindowStyle::Titled) || (style_ & WindowStyle::Resizable); }

void Window::makeKeyAndOrderFront() {
    host_->show();
    host_->raise();
    host_->activateWindow();
    registry_->orderFront(this);
}

void Window::orderFrontRegardless() {
    host_->show();
    host_->raise();
    registry_->orderFront(this);
}

void Window::orderOut() { host_->hide(); }

void Window::close() { host_->close(); }

QWidget* Window::widget() const { return host_.data(); }

void Window::hostWillClose() {
    if (delegate_) delegate_->windowWillClose(*this);
}

}  // namespace platform
