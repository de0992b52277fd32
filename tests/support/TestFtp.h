#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

namespace testsupport {

// What the test FTP server does wrong, chosen per test (designated initializers name the
// changes). The default is a well-behaved server with one user who has every right on the root.
struct FtpServerOptions {
    QString user = QStringLiteral("pendrill");
    QString password = QStringLiteral("secret");
    QString readOnlyUser{};      // "name:password" of a user who may list and read, nothing else
    bool anonymous = false;      // anonymous logins allowed, with every right
    bool refuseLogin = false;    // every login is answered 530
    QStringList failDownload{};  // names whose download is answered 550
    // The connection drops after `dropAfterBytes` bytes of the file named `dropDownload`.
    QString dropDownload{};
    qint64 dropAfterBytes = 0;
    // Commands the server never answers ("RETR", "LIST", ...; "ALL": every one after the login).
    QStringList stall{};
    bool silent = false;           // the server accepts connections and never greets
    bool refuseEmptyList = false;  // an empty directory's listing is "450 No files found."
    // Lines added to every listing: a name alone is listed as a plain file of that name (the
    // names a hostile site or a man in the middle may send), any other text as it stands.
    QStringList listLines{};
    // A PEM file with a key and its certificate: the server then requires explicit TLS.
    QString tlsCertificate{};
};

// A pyftpdlib server (tests/support/ftp_server.py run by /usr/bin/python3) on 127.0.0.1 and a free
// port, serving a local directory. Stopped with the object.
class TestFtp {
  public:
    TestFtp() = default;
    ~TestFtp();
    TestFtp(const TestFtp&) = delete;
    TestFtp& operator=(const TestFtp&) = delete;

    // Starts serving `root`; false (with the reason in error()) when the server did not come up
    // within 10 seconds. A running server is stopped first.
    bool start(const QString& root, const FtpServerOptions& options = {});
    void stop();

    int port() const { return port_; }
    // "127.0.0.1:<port>", the server text a data source holds.
    QString server() const;
    const FtpServerOptions& options() const { return options_; }
    QString error() const { return error_; }

    // True when python3-pyftpdlib can be imported (tests skip with a message otherwise);
    // availableWithTls() also needs python3-openssl.
    static bool available();
    static bool availableWithTls();

  private:
    std::unique_ptr<QProcess> process_;
    FtpServerOptions options_;
    int port_ = 0;
    QString error_;
};

// Sets the FTP time-outs in the settings store of the current (isolated) home, in seconds.
void setFtpTimeouts(int connectSeconds, int dataSeconds);

}  // namespace testsupport
