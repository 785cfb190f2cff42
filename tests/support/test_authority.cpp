#include "support/test_authority.h"

#include <QFile>
#include <QProcess>

namespace testsupport {

std::unique_ptr<TestAuthority> TestAuthority::make(QString* error) {
    auto authority = std::unique_ptr<TestAuthority>(new TestAuthority);
    if (!authority->dir_.isValid()) {
        *error = QStringLiteral("no temporary folder for a test authority");
        return nullptr;
    }
    QProcess openssl;
    openssl.setWorkingDirectory(authority->dir_.path());
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"),
                   QStringLiteral("openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 "
                                  "-subj '/CN=Quillvex Test CA' && "
                                  "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj '/CN=127.0.0.1' && "
                                  "printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > ext.cnf && "
                                  "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem "
                                  "-days 2 -extfile ext.cnf")});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        *error = QStringLiteral("openssl could not make a test authority: ") + QString::fromLocal8Bit(openssl.readAll());
        return nullptr;
    }
    return authority;
}

QByteArray TestAuthority::read(const char* name) const {
    QFile file(dir_.filePath(QString::fromLatin1(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray TestAuthority::caPem() const { return read("ca.pem"); }
QByteArray TestAuthority::serverCertificatePem() const { return read("server.pem"); }
QByteArray TestAuthority::serverKeyPem() const { return read("server.key"); }

}  // namespace testsupport
