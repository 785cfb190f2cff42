// Runs the fuzz target over files and folders without libFuzzer, so the corpus and the known
// hostile records are replayed by every build. Prints the slowest record; any crash fails the run.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) files << it.next();
        } else {
            files << path;
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: %s <file or folder>...\n", argv[0]);
        return 2;
    }
    qint64 slowest = 0;
    QString slowestFile;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        QElapsedTimer timer;
        timer.start();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
        const qint64 elapsed = timer.nsecsElapsed();
        if (elapsed > slowest) {
            slowest = elapsed;
            slowestFile = path;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%lld records replayed; slowest %.3f ms (%s); peak RSS %ld MiB\n", static_cast<long long>(files.size()),
                static_cast<double>(slowest) / 1e6, qPrintable(slowestFile), usage.ru_maxrss / 1024);
    return 0;
}
