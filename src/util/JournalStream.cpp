#include "util/JournalStream.h"

#include <sys/stat.h>

#include <QByteArray>
#include <QList>

bool StandardErrorIsJournal() {
    const QList<QByteArray> parts = qgetenv("JOURNAL_STREAM").split(':');
    if (parts.size() != 2)
        return false;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = parts.at(0).toULongLong(&deviceOk);
    const qulonglong inode = parts.at(1).toULongLong(&inodeOk);
    struct stat status {};
    if (!deviceOk || !inodeOk || fstat(2, &status) != 0)
        return false;
    return static_cast<qulonglong>(status.st_dev) == device &&
           static_cast<qulonglong>(status.st_ino) == inode;
}
