#include <cstdio>

#include "AdminCommands.h"
#include "ServerRequest.h"
#include "datasources/PackageCatalogue.h"
#include "datasources/ChoiceList.h"

namespace {

const char* const kPackageListUsage =
    "Usage: pendrill-admin package list --server S [--models | --model M]\n"
    "                                   [--user U [--password P] | --trusted]\n"
    "List the packages in the package store of server S, as Pendrill offers them.\n"
    "  (no option)  every package name, in the order the server gives them\n"
    "  --models     the ETL models the package names give, each once\n"
    "  --model M    the packages of model M (letter case counts), without those whose name\n"
    "               ends in _base\n"
    "A store without packages lists nothing.\n";

}  // namespace

int PackageListCommand(const QStringList& args) {
    if (args.contains(QStringLiteral("--help"))) {
        std::fputs(kPackageListUsage, stdout);
        return 0;
    }
    ServerOptions spec;
    spec.command = QStringLiteral("package list");
    spec.values = QStringList{QStringLiteral("--model")};
    spec.flags = QStringList{QStringLiteral("--models")};
    spec.required = QStringList{QStringLiteral("--server")};
    ServerRequest request;
    if (!ParseServerRequest(args, 0, spec, request))
        return 2;
    const AdminOptions& options = request.options;
    const AdminLogin& login = request.login;
    if (options.has(QStringLiteral("--models")) && options.has(QStringLiteral("--model"))) {
        AdminError(QStringLiteral("--models and --model exclude each other"));
        return 2;
    }
    PackageCatalogue packages;
    packages.strSQLServer = options.value(QStringLiteral("--server"));
    packages.blnSQLTrustedLogin = login.trusted;
    if (!login.trusted) {
        packages.strSQLUser = login.user;
        packages.strSQLPassword = login.password;
    }
    if (!packages.RetrievePackages() && !packages.LastError().isEmpty()) {
        AdminError(
            QStringLiteral("cannot read the package store of server %1:\n%2")
                .arg(packages.strSQLServer, QString(packages.LastError()).replace("\r\n", "\n")));
        return 1;
    }
    StringChoiceList list;
    if (options.has(QStringLiteral("--models")))
        packages.FillComboBoxWithETLModels(list);
    else if (options.has(QStringLiteral("--model")))
        packages.FillComboBoxWithPackageFromETLModel(list,
                                                     options.value(QStringLiteral("--model")));
    else
        for (const QString& p : packages.Packages())
            list.AddItem(p);
    for (const QString& item : list.Items())
        AdminPrint(item);
    return 0;
}
