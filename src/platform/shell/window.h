#pragma once

#include <QFlags>
#include <QPointer>
#include <QSize>
#include <QString>

class QWidget;

namespace platform {

class Window;
class WindowRegistry;

enum class WindowStyle : unsigned {
    Titled = 1u << 0,
    Closable = 1u << 1,
    Miniaturizable = 1u << 2,
    Resizable = 1u << 3,
};
Q_DECLARE_FLAGS(WindowStyleMask, WindowStyle)
Q_DECLARE_OPERATORS_FOR_FLAGS(WindowStyleMask)

// How a window stacks against other applications' windows; floating stays above normal ones.
enum class WindowLevel { normal = 0, floating = 3 };

class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    // Called when the window is about to close (its close button or close()), never when it is
    // only hidden.
    virtual void windowWillClose(Window& window) = 0;
};

// A top-level window of the application, hosting one content view. Closing does not destroy it:
// the owner keeps it and may show it again. Every window is known to the registry of the
// application that made it, which keeps the front-to-back order Qt does not expose.
class Window {
public:
    Window(WindowRegistry& registry, QSize contentSize, WindowStyleMask style);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    QString title() const;
    void setTitle(const QString& title);
    WindowStyleMask styleMask() const { return style_; }
    WindowLevel level() const { return level_; }
    void setLevel(WindowLevel level);

    QSize contentSize() const;
    // A resizable window takes the size; a fixed one keeps its width and otherwise follows its
    // content's height.
    void setContentSize(QSize size);
    QSize minSize() const;
    void setMinSize(QSize size);
    // Centres the window on the primary screen's available area.
    void center();

    // Takes ownership of `view`; the previous content is deleted at once (so not from inside one of
    // its own handlers).
    void setContentView(QWidget* view);
    QWidget* contentView() const;

    void setDelegate(WindowDelegate* delegate) { delegate_ = delegate; }
    WindowDelegate* delegate() const { return delegate_; }

    bool isVisible() const;
    // Titled or resizable windows can take the keyboard focus.
    bool canBecomeKey() const;

    // Shows the window in front of the others and gives it the keyboard focus.
    void makeKeyAndOrderFront();
    // Shows the window in front even while another application is active.
    void orderFrontRegardless();
    // Hides the window; no will-close.
    void orderOut();
    // Tells the delegate, then hides the window. Also what the close button does.
    void close();

    // The toolkit window, for screenshots and tests.
    QWidget* widget() const;

private:
    class Host;
    friend class Host;
    void hostWillClose();
    void fitToContent();

    WindowRegistry* registry_;
    WindowStyleMask style_;
    QSize requestedSize_;
    QPointer<Host> host_;
    WindowDelegate* delegate_ = nullptr;
    WindowLevel level_ = WindowLevel::normal;
};

}  // namespace platform
