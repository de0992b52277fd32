#include "TestFtp.h"

#include <QElapsedTimer>

#include "config/CRegSettings.h"
#include "remote/FtpFuncModule.h"

namespace testsupport {

namespace {
const QString kPython = QStringLiteral("/usr/bin/python3");

QString scriptPath() {
    return QStringLiteral(PENDRILL_SOURCE_DIR "/tests/support/ftp_server.py");
}
}  // namespace

TestFtp::~TestFtp() {
    stop();
}

namespace {
bool imports(const QString& modules) {
    QProcess probe;
    probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import ") + modules});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}
}  // namespace

bool TestFtp::available() {
    return imports(QStringLiteral("pyftpdlib"));
}

bool TestFtp::availableWithTls() {
    return imports(QStringLiteral("pyftpdlib, OpenSSL"));
}

bool TestFtp::start(const QString& root, const FtpServerOptions& options) {
    stop();
    options_ = options;
    QStringList args{scriptPath(), QStringLiteral("--root"), root};
    if (!options.user.isEmpty())
        args << QStringLiteral("--user") << options.user + QLatin1Char(':') + options.password;
    if (!options.readOnlyUser.isEmpty())
        args << QStringLiteral("--read-only") << options.readOnlyUser;
    if (options.anonymous)
        args << QStringLiteral("--anonymous");
    if (options.refuseLogin)
        args << QStringLiteral("--refuse-login");
    for (const QString& name : options.failDownload)
        args << QStringLiteral("--fail-download") << name;
    if (!options.dropDownload.isEmpty())
        args << QStringLiteral("--drop-download")
             << options.dropDownload + QLatin1Char(':') + QString::number(options.dropAfterBytes);
    for (const QString& command : options.stall)
        args << QStringLiteral("--stall") << command;
    if (options.silent)
        args << QStringLiteral("--silent");
    if (!options.statusSequence.isEmpty())
        args << QStringLiteral("--status-sequence=") +
                    options.statusSequence.join(QLatin1Char('|'));

    if (options.refuseEmptyList)
        args << QStringLiteral("--refuse-empty-list");
    for (const QString& line : options.listLines)
        args << QStringLiteral("--list-line=") + line;
    if (!options.tlsCertificate.isEmpty())
        args << QStringLiteral("--tls") << options.tlsCertificate;

    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(kPython, args);
    if (!process_->waitForStarted(10000)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(kPython, process_->errorString());
        process_.reset();
        return false;
    }
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!process_->canReadLine() && !process_->waitForReadyRead(200)) {
            if (process_->state() != QProcess::Running)
                break;
            continue;
        }
        out = process_->readLine().trimmed();
        if (out.startsWith("PORT ")) {
            port_ = out.mid(5).toInt();
            return port_ > 0;
        }
    }
    error_ = QStringLiteral("the FTP server did not come up: %1").arg(QString::fromUtf8(out));
    stop();
    return false;
}

void TestFtp::stop() {
    if (process_) {
        process_->kill();
        process_->waitForFinished(5000);
        process_.reset();
    }
    port_ = 0;
}

QString TestFtp::server() const {
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

void setFtpTimeouts(int connectSeconds, int dataSeconds) {
    WriteRegistryValue(kFtpSettingsKey, QStringLiteral("ConnectTimeout"),
                       QString::number(connectSeconds));
    WriteRegistryValue(kFtpSettingsKey, QStringLiteral("DataTimeout"),
                       QString::number(dataSeconds));
}

}  // namespace testsupport
