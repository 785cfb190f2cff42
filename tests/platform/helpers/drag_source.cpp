// A drag source for tests on a private X server: a 200 x 200 window at the top-left corner that
// starts a drag when pressed, carrying the arguments as URLs, or as plain text when an argument
// starts with "text:". Prints "ready" once shown, and "accepted" when a target accepts the drag.
#include "support/ready_when_exposed.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class Source : public QWidget {
public:
    QList<QUrl> urls;
    QString text;

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* mime = new QMimeData;
        if (!urls.isEmpty()) mime->setUrls(urls);
        if (!text.isEmpty()) mime->setText(text);
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        // A target's acceptance, read before the release: released earlier the drag is cancelled.
        connect(drag, &QDrag::actionChanged, [](Qt::DropAction action) {
            if (action == Qt::IgnoreAction) return;
            std::printf("accepted\n");
            std::fflush(stdout);
        });
        drag->exec(Qt::CopyAction);
        std::printf("finished\n");
        std::fflush(stdout);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Source source;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(QLatin1String("text:"))) {
            source.text = argument.mid(5);
        } else {
            source.urls << QUrl(argument);
        }
    }
    source.setGeometry(0, 0, 200, 200);
    testsupport::announceReadyWhenExposed(source);
    source.show();
    return app.exec();
}
