#include "TestSshd.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include "TestSupport.h"

namespace testsupport {

bool TestSshd::available() {
    return QFile::exists("/usr/sbin/sshd") && QFile::exists("/usr/bin/ssh-keygen");
}

bool TestSshd::start(const QString& home) {
    stop();
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->start("/bin/sh",
                    {PENDRILL_SOURCE_DIR "/tests/support/sshd_server.sh", dir_.path(), home});
    QByteArray said;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && process_->state() != QProcess::NotRunning) {
        process_->waitForReadyRead(200);
        said += process_->readAll();
        if (said.contains("Server listening on")) {
            port_ = QRegularExpression("PORT (\\d+)").match(said).captured(1).toInt();
            return true;
        }
    }
    error_ = "sshd did not come up: " + QString::fromUtf8(said);
    stop();
    return false;
}

void TestSshd::stop() {
    if (process_) {
        process_->terminate();
        process_->waitForFinished(5000);
        process_.reset();
    }
}

QString TestSshd::knownHostsLine() const {
    const QList<QByteArray> key = readAll(dir_.filePath("host_key.pub")).split(' ');
    return QStringLiteral("[127.0.0.1]:%1 %2 %3")
        .arg(port_)
        .arg(QString::fromUtf8(key.value(0)), QString::fromUtf8(key.value(1)));
}

}  // namespace testsupport
