#include "TestFtp.h"

#include <QElapsedTimer>

#include "config/SettingsStore.h"
#include "remote/FtpTransfer.h"

namespace testsupport {

namespace {
const QString kPython = QStringLiteral("/usr/bin/python3");

bool imports(const QString& modules) {
    QProcess probe;
    probe.start(kPython, {"-c", "import " + modules});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}
}  // namespace

TestFtp::~TestFtp() {
    stop();
}

bool TestFtp::available() {
    return imports("pyftpdlib");
}

bool TestFtp::availableWithTls() {
    return imports("pyftpdlib, OpenSSL");
}

bool TestFtp::start(const QString& root, const FtpServerOptions& options) {
    stop();
    options_ = options;
    QStringList args{PENDRILL_SOURCE_DIR "/tests/support/ftp_server.py", "--root", root};
    const auto add = [&](bool given, const QString& option, const QString& value = {}) {
        if (given)
            args << option + value;
    };
    add(!options.user.isEmpty(), "--user=", options.user + ":" + options.password);
    add(!options.readOnlyUser.isEmpty(), "--read-only=", options.readOnlyUser);
    add(options.anonymous, "--anonymous");
    add(options.refuseLogin, "--refuse-login");
    add(options.silent, "--silent");
    add(options.refuseEmptyList, "--refuse-empty-list");
    add(!options.dropDownload.isEmpty(),
        "--drop-download=", options.dropDownload + ":" + QString::number(options.dropAfterBytes));
    add(!options.tlsCertificate.isEmpty(), "--tls=", options.tlsCertificate);
    for (const QString& name : options.failDownload)
        add(true, "--fail-download=", name);
    for (const QString& command : options.stall)
        add(true, "--stall=", command);
    for (const QString& line : options.listLines)
        add(true, "--list-line=", line);

    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(kPython, args);
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (process_->waitForStarted(10000) && timer.elapsed() < 10000) {
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
    error_ =
        "the FTP server did not come up: " + process_->errorString() + " " + QString::fromUtf8(out);
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
    WriteRegistryValue(kFtpSettingsKey, "ConnectTimeout", QString::number(connectSeconds));
    WriteRegistryValue(kFtpSettingsKey, "DataTimeout", QString::number(dataSeconds));
}

}  // namespace testsupport
