#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace testsupport {

// An sshd serving SFTP on 127.0.0.1 (tests/support/sshd_server.sh) to the account running the
// tests, which logs in with HOME/.ssh/id_ed25519. Stopped with the object.
class TestSshd {
  public:
    ~TestSshd() { stop(); }
    // False (with the reason in error()) when it did not come up within 10 seconds.
    bool start(const QString& home);
    void stop();
    // "sftp://127.0.0.1:<port>", the server text a data link holds.
    QString server() const { return QStringLiteral("sftp://127.0.0.1:%1").arg(port_); }
    // The known_hosts line of the server's host key.
    QString knownHostsLine() const;
    QString error() const { return error_; }
    static bool available();  // sshd and ssh-keygen are installed

  private:
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    QString error_;
};

}  // namespace testsupport
