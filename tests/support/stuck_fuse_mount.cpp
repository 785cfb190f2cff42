#include "support/stuck_fuse_mount.h"

#include "support/service_fixtures.h"

#include <QDir>
#include <QElapsedTimer>

#include <unistd.h>

namespace testsupport {

namespace {

const char* const kServer = R"(
import errno, os, stat, sys, threading
import fuse
fuse.fuse_python_api = (0, 2)

backing = sys.argv[2]

def mirrored(path):
    return path == '/mirror' or path.startswith('/mirror/')

def real(path):
    return backing + path[len('/mirror'):]

class Stuck(fuse.Fuse):
    def fsinit(self):
        print('ready', flush=True)
    def getattr(self, path):
        st = fuse.Stat()
        if path == '/hung' or path.startswith('/hung/'):
            print('stat', flush=True)
            threading.Event().wait()
        if mirrored(path):
            try:
                s = os.lstat(real(path))
            except OSError as e:
                return -e.errno
            for field in ('st_mode', 'st_nlink', 'st_size', 'st_uid', 'st_gid', 'st_atime', 'st_mtime', 'st_ctime'):
                setattr(st, field, getattr(s, field))
        elif path == '/':
            st.st_mode = stat.S_IFDIR | 0o755
            st.st_nlink = 2
        elif path.endswith('.png') and path.count('/') == 1:
            st.st_mode = stat.S_IFREG | 0o644
            st.st_nlink = 1
            st.st_size = 4096
        else:
            return -errno.ENOENT
        return st
    def readdir(self, path, offset):
        names = ['.', '..'] + (os.listdir(real(path)) if mirrored(path) else [])
        for name in names:
            yield fuse.Direntry(name)
    def readlink(self, path):
        return os.readlink(real(path)) if mirrored(path) else -errno.EINVAL
    def open(self, path, flags):
        if mirrored(path):
            return 0 if os.path.isfile(real(path)) else -errno.ENOENT
        if not path.endswith('.png'):
            return -errno.ENOENT
        # Past the page cache: every read of every file reaches the server.
        return fuse.FuseFileInfo(direct_io=True)
    def read(self, path, size, offset):
        if mirrored(path):
            with open(real(path), 'rb') as f:
                f.seek(offset)
                return f.read(size)
        print('read', flush=True)
        threading.Event().wait()

server = Stuck()
server.parse(args=[sys.argv[1], '-f', '-o', 'allow_other'], errex=1)
server.main()
)";

}  // namespace

std::unique_ptr<StuckFuseMount> StuckFuseMount::start(QString* error, bool* noFuse, const QString& point) {
    *noFuse = ::access("/dev/fuse", R_OK | W_OK) != 0;
    if (*noFuse) {
        *error = QStringLiteral("no /dev/fuse for this user");
        return nullptr;
    }
    std::unique_ptr<StuckFuseMount> mount(new StuckFuseMount);
    mount->point_ = point.isEmpty() ? mount->folder_.filePath(QStringLiteral("mount")) : point;
    QDir().mkpath(mount->point_);
    QDir().mkpath(mount->backingFolder());
    dieWithTest(mount->server_);
    mount->server_.setProcessChannelMode(QProcess::SeparateChannels);
    mount->server_.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kServer), mount->point_, mount->backingFolder()});
    if (!mount->waitForLine("ready", 15000)) {
        *error = QStringLiteral("the python3-fuse server did not mount: ") +
                 QString::fromUtf8(mount->server_.readAllStandardError());
        return nullptr;
    }
    mount->mounted_ = true;
    return mount;
}

StuckFuseMount::~StuckFuseMount() { stop(); }

bool StuckFuseMount::waitForRead(int timeoutMs) { return waitForLine("read", timeoutMs); }

bool StuckFuseMount::waitForStat(int timeoutMs) { return waitForLine("stat", timeoutMs); }

bool StuckFuseMount::waitForLine(const QByteArray& line, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qsizetype end = output_.indexOf('\n');
        if (end >= 0) {
            const QByteArray got = output_.left(end);
            output_.remove(0, end + 1);
            if (got == line) return true;
            continue;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || server_.state() == QProcess::NotRunning) return false;
        if (server_.waitForReadyRead(static_cast<int>(left))) output_ += server_.readAllStandardOutput();
    }
}

void StuckFuseMount::stop() {
    if (server_.state() != QProcess::NotRunning) {
        server_.kill();
        server_.waitForFinished(10000);
    }
    if (mounted_) {
        // The server's end already took the mount down; a lazy unmount clears what may be left.
        runTool(QStringLiteral("fusermount"), {QStringLiteral("-u"), QStringLiteral("-z"), point_});
        mounted_ = false;
    }
}

}  // namespace testsupport
