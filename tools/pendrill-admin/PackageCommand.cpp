#include "PackageCommand.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include "CommandTable.h"
#include "config/ValueChecks.h"
#include "datasources/DataLinkCatalogue.h"
#include "engine/PackageDocument.h"
#include "engine/PackageStore.h"
#include "util/PrivateFiles.h"
#include "util/TextFiles.h"

namespace {

const char* const kPackageUsage =
    "Usage: pendrill-admin package import FILE --server S [LOGIN]\n"
    "       pendrill-admin package export NAME --server S [--version V] [-o FILE] [LOGIN]\n"
    "       pendrill-admin package delete NAME --server S [LOGIN]\n"
    "       pendrill-admin package list-versions NAME --server S [LOGIN]\n"
    "       pendrill-admin package list --server S [--models | --model M] [LOGIN]\n"
    "       pendrill-admin package run NAME --server S [LOGIN] [--set NAME=VALUE]...\n"
    "                                  [--logdir DIR] [--exception-file FILE]\n"
    "Manage the package store (msdb, table sysdtspackages) of server S and run its packages.\n"
    "  import         check the package document FILE and store it as a new version; a\n"
    "                 package with a data-link connection needs a model in its name (a step\n"
    "                 suffix such as _LoadDW, see docs/packages.md)\n"
    "  export         write the newest version (or version V) to standard output or FILE\n"
    "  delete         remove every version of package NAME\n"
    "  list-versions  the versions of NAME, newest first: version id, time, owner, description\n"
    "  list           the packages of the store (see 'package list --help')\n"
    "  run            load package NAME and execute it as a run of Pendrill does\n"
    "Package names are compared without regard to letter case.\n"
    "LOGIN:  --user U [--password P | --password-file F]   or   --trusted (the default);\n"
    "        '-' as P or F reads standard input; without either PENDRILL_PASSWORD is taken\n"
    "\n"
    "run: the package's global variables keep their own values except those the run sets:\n"
    "DTSServer (the server S), the DTS login (LOGIN), ExceptionFilePath (the log directory),\n"
    "JobID, OverwriteGlobalSettings, and every variable named by --set. --set may be repeated;\n"
    "a boolean takes true/false (or 1/0), an integer a number; a --set the package refuses\n"
    "is wrong usage (exit status 2) and nothing is touched. The log directory (by default a\n"
    "temporary one) is emptied when the package is loaded. The package log and the other logs\n"
    "are merged into the exception file; without --exception-file the merged log is printed on\n"
    "standard output. On failure the failed steps are printed on standard error.\n";

// The step suffixes of package names, in the order GetEtlModelName looks for them.
const char* const kStepSuffixes =
    "_CleanUpAll, _CleanUpIntermediate, _Init, _Transformations, _LoadDummies, _LoadDW, "
    "_Overall, _ProcessTransformations, _Upload, _AlterTableDW";

}  // namespace

bool CheckPackageName(const PackageRequest& request, const AdminIo& io) {
    const QString why = NameRefusal(QStringLiteral("package name"), request.name);
    if (!why.isEmpty())
        io.error(why);
    return why.isEmpty();
}

namespace {

// True when a connection of the package document carries a password of its own (not a reference
// to a global variable): a file it is written to must then be its owner's alone.
bool holdsPassword(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView value = reader.attributes().value(QStringLiteral("password"));
        if (!value.isEmpty() && !value.startsWith(QStringLiteral("${")))
            return true;
    }
    return false;
}

bool OpenStore(const PackageRequest& c, bool create, PackageStore& store, const AdminIo& io) {
    QString error;
    if (!store.Open(c.server, c.login.user, c.login.password, c.login.trusted, create, &error)) {
        io.error(QStringLiteral("cannot open the package store of server %1:\n%2")
                     .arg(c.server, error.replace(QLatin1String("\r\n"), QLatin1String("\n"))));
        return false;
    }
    return true;
}

constexpr qint64 kMostPackageBytes = qint64(256) << 20;

int Import(const AdminInvocation& invocation, const AdminIo& io) {
    const PackageRequest c(invocation);
    // A file only, and one of a size the store can take: a pipe or a device would be read for
    // ever.
    QFile file(c.name);
    const QFileInfo info(c.name);
    if (info.exists() && !info.isFile()) {
        io.error(QStringLiteral("cannot read %1: it is not a regular file").arg(c.name));
        return 1;
    }
    if (info.size() > kMostPackageBytes) {
        io.error(QStringLiteral("cannot read %1: a package document may have at most %2 MiB")
                     .arg(c.name)
                     .arg(kMostPackageBytes >> 20));
        return 1;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        io.error(QStringLiteral("cannot read %1: %2").arg(c.name, file.errorString()));
        return 1;
    }
    const QByteArray xml = file.read(kMostPackageBytes + 1);
    if (xml.size() > kMostPackageBytes) {
        io.error(QStringLiteral("cannot read %1: a package document may have at most %2 MiB")
                     .arg(c.name)
                     .arg(kMostPackageBytes >> 20));
        return 1;
    }
    PackageDocument document;
    QStringList errors;
    if (!ParsePackageDocument(xml, &document, &errors)) {
        for (const QString& e : errors)
            io.error(QStringLiteral("%1: %2").arg(c.name, e));
        io.error(QStringLiteral("%1 was not stored").arg(c.name));
        return 1;
    }
    // A data link is read from the rows of the package's model, and the model comes from the
    // package's name: without a step suffix the package would fail when it runs.
    if (GetEtlModelName(document.name).isEmpty()) {
        for (const PackageConnection& connection : document.connections) {
            if (!connection.IsDataLink())
                continue;
            io.error(
                QStringLiteral(
                    "%1: package %2 uses the data-link connection '%3', but its name gives no "
                    "model.\nA package's model is the part of its name before its step suffix, "
                    "looked for in this order, letter case aside: %4.")
                    .arg(c.name, document.name, connection.name, QLatin1String(kStepSuffixes)));
            io.error(QStringLiteral("%1 was not stored").arg(c.name));
            return 1;
        }
    }
    PackageStore store;
    if (!OpenStore(c, true, store, io))
        return 1;
    StoredPackageVersion stored;
    QString error;
    if (!store.Store(document.name, document.description, xml, &stored, &error)) {
        io.error(QStringLiteral("cannot store package %1: %2").arg(document.name, error));
        return 1;
    }
    io.print(QStringLiteral("stored package %1 version %2").arg(stored.name, stored.versionId));
    return 0;
}

int Export(const AdminInvocation& invocation, const AdminIo& io) {
    const PackageRequest c(invocation);
    if (!CheckPackageName(c, io))
        return 2;
    PackageStore store;
    if (!OpenStore(c, false, store, io))
        return 1;
    QByteArray xml;
    QString error;
    if (!store.Load(c.name, c.args.value(QStringLiteral("--version")), &xml, nullptr, &error)) {
        io.error(error);
        return 1;
    }
    const QString output = c.args.value(QStringLiteral("-o"));
    if (output.isEmpty()) {
        io.write(xml);
        return 0;
    }
    QString reason;
    const bool password = holdsPassword(xml);
    if ((password && !RestrictToOwner(output, &reason)) ||
        !WriteFileAtomically(output, xml, password ? kPrivateFileMode : -1, &reason)) {
        io.error(QStringLiteral("cannot write %1: %2").arg(output, reason));
        return 1;
    }
    return 0;
}

int Delete(const AdminInvocation& invocation, const AdminIo& io) {
    const PackageRequest c(invocation);
    if (!CheckPackageName(c, io))
        return 2;
    PackageStore store;
    if (!OpenStore(c, false, store, io))
        return 1;
    int removed = 0;
    QString error;
    if (!store.Remove(c.name, &removed, &error)) {
        io.error(QStringLiteral("cannot delete package %1: %2").arg(c.name, error));
        return 1;
    }
    if (removed == 0) {
        io.error(QStringLiteral("package %1 is not stored on server %2").arg(c.name, c.server));
        return 1;
    }
    io.print(QStringLiteral("deleted package %1 (%2 version%3)")
                 .arg(c.name)
                 .arg(removed)
                 .arg(removed == 1 ? "" : "s"));
    return 0;
}

int ListVersions(const AdminInvocation& invocation, const AdminIo& io) {
    const PackageRequest c(invocation);
    if (!CheckPackageName(c, io))
        return 2;
    PackageStore store;
    if (!OpenStore(c, false, store, io))
        return 1;
    QList<StoredPackageVersion> versions;
    QString error;
    if (!store.Versions(c.name, &versions, &error)) {
        io.error(error);
        return 1;
    }
    if (versions.isEmpty()) {
        io.error(QStringLiteral("package %1 is not stored on server %2").arg(c.name, c.server));
        return 1;
    }
    for (const StoredPackageVersion& v : versions)
        io.print(QStringList{v.versionId,
                             v.createDate.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
                             v.owner, v.description}
                     .join(QLatin1Char('\t')));
    return 0;
}

}  // namespace

// Every command but list takes NAME (FILE for import) and --server; list has its own usage.
AdminGroup PackageGroup() {
    const struct {
        const char* name;
        int (*run)(const AdminInvocation&, const AdminIo&);
        std::vector<AdminOption> options;
        const char* missing;
    } verbs[] = {
        {"import", Import, {}, "package import needs a file (see --help)"},
        {"export",
         Export,
         {{"--version"}, {"-o"}},
         "package export needs a package name (see --help)"},
        {"delete", Delete, {}, "package delete needs a package name (see --help)"},
        {"list-versions",
         ListVersions,
         {},
         "package list-versions needs a package name (see --help)"},
        {"run",
         PackageRunCommand,
         {{"--set", true, true}, {"--logdir"}, {"--exception-file"}},
         "package run needs a package name (see --help)"},
    };
    AdminGroup group{
        "package", kPackageUsage, {}, "unknown package command '%1' (see package --help)"};
    for (const auto& v : verbs) {
        AdminCommand c{v.name};
        c.connection = AdminConnection::Server;
        c.options = v.options;
        c.minArgs = c.maxArgs = 1;
        c.missingArgText = v.missing;
        c.required = {QStringLiteral("--server")};
        c.run = v.run;
        group.commands.push_back(c);
    }
    group.commands.push_back(PackageListCommand());
    return group;
}
