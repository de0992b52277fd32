#include <gtest/gtest.h>

#include <QDir>

#include "remote/RemoteTestSupport.h"
#include "remote/SftpSession.h"
#include "support/TestSshd.h"
#include "util/FileUtils.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {

// One sshd for the program; HOME holds the key it accepts and the known_hosts each case writes.
class Sftp : public remotetest::RemoteTest {
  protected:
    static void SetUpTestSuite() {
        oldHome = qgetenv("HOME");
        qputenv("HOME", sshHome.path().toLocal8Bit());
        started = testsupport::TestSshd::available() && sshd.start(sshHome.path());
    }
    static void TearDownTestSuite() {
        sshd.stop();
        qputenv("HOME", oldHome);
    }
    static inline QByteArray oldHome;
    static inline QTemporaryDir sshHome;
    static inline testsupport::TestSshd sshd;
    static inline bool started = false;
};

TEST_F(Sftp, FetchWithTheAccountKeyOnlyFromAKnownHost) {
    if (!testsupport::TestSshd::available())
        GTEST_SKIP() << "openssh-server is not installed";
    ASSERT_TRUE(started) << sshd.error().toStdString();
    const QByteArray right = sshd.knownHostsLine().toUtf8() + '\n';
    const QByteArray otherKey = readAll(sshHome.filePath(".ssh/id_ed25519.pub"));
    const struct {
        QByteArray knownHosts;
        QString extraName;  // its newline forges a listing line with an empty name
        QString error;      // expected in the fetch's error; empty: the fetch succeeds
        QStringList localNames;
        QByteArray statusAfter;
    } cases[] = {
        {right, {}, {}, {"a.txt", "status"}, "idle\r\n"},
        {"[127.0.0.2]:22 " + otherKey, {}, "is not in ~/.ssh/known_hosts", {}, "ready"},
        {right.left(right.indexOf(' ') + 1) + otherKey,
         {},
         "does not match ~/.ssh/known_hosts (it may have been replaced, or someone is in the "
         "middle)",
         {},
         "ready"},
        {right, "x\n-rw-r--r-- 1 u g 3 Jan  1 00:00 ", "not plain file names", {}, "ready\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        const QString site = home.file("site"), local = home.file("local");
        QDir(site).removeRecursively();
        QDir(local).removeRecursively();
        QDir().mkpath(site);
        writeAll(site + "/status", "ready");
        writeAll(site + "/a.txt", "one\ntwo\n");
        if (!c.extraName.isEmpty())
            writeAll(site + "/" + c.extraName, "x");
        writeAll(sshHome.filePath(".ssh/known_hosts"), c.knownHosts);
        remotetest::CountingClock clock;
        QString remoteDir = site, localDir = local, error;
        EXPECT_EQ(FetchRemoteData(remoteDir, localDir, 0, 1, sshd.server(), {}, {},
                                  clock.context(notes), nullptr, &error),
                  c.error.isEmpty());
        EXPECT_TRUE(error.contains(c.error)) << error.toStdString();
        EXPECT_EQ(fileNames(local), c.localNames);
        EXPECT_EQ(readAll(local + "/a.txt"), c.error.isEmpty() ? "one\ntwo\n" : "");
        EXPECT_EQ(readAll(site + "/status"), c.statusAfter);
        EXPECT_EQ(readAll(sshHome.filePath(".ssh/known_hosts")), c.knownHosts);  // nothing added
    }
}

}  // namespace

TEST(SftpListing, NamesAreTakenByteForByte) {
    std::vector<FtpEntry> entries;
    ASSERT_TRUE(
        ParseSftpListing("-rw-r--r-- 1 u g 4 Jan  1 00:00 Bestell\xfc.csv\n"
                         "lrwxrwxrwx 1 u g 9 Jan  1 00:00 l\xe9 -> target\n"
                         "drwxr-xr-x 2 u g 4096 Jan  1 00:00 sub dir\n",
                         entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(NameBytes(entries[0].name), "Bestell\xfc.csv");
    EXPECT_TRUE(entries[0].sizeKnown && entries[0].size == 4 && !entries[0].directory);
    EXPECT_EQ(NameBytes(entries[1].name), "l\xe9");
    EXPECT_FALSE(entries[1].directory || entries[1].sizeKnown);
    EXPECT_EQ(entries[2].name, "sub dir");
    EXPECT_TRUE(entries[2].directory);
}
