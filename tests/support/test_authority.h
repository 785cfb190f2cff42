#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace testsupport {

// A throw-away certificate authority made with openssl, and a server certificate it signed for
// 127.0.0.1 and localhost: https on a loopback server that only what a test configures trusts.
// Each one made is a different authority.
class TestAuthority {
public:
    // Null, with the reason, when openssl is missing or fails.
    static std::unique_ptr<TestAuthority> make(QString* error);

    // The authority's certificate as a PEM file, and its PEM text.
    QString caPath() const { return dir_.filePath(QStringLiteral("ca.pem")); }
    QByteArray caPem() const;
    // The server's certificate and key (PEM), for LoopbackHttpServer.
    QByteArray serverCertificatePem() const;
    QByteArray serverKeyPem() const;

private:
    TestAuthority() = default;
    QByteArray read(const char* name) const;

    QTemporaryDir dir_;
};

}  // namespace testsupport
