#include "PackageCommand.h"
#include "datasources/ChoiceList.h"
#include "datasources/PackageCatalogue.h"

namespace {

const char* const kPackageListUsage =
    "Usage: pendrill-admin package list --server S [--models | --model M]\n"
    "                                   [--user U [--password P | --password-file F] | --trusted]\n"
    "List the packages in the package store of server S, as Pendrill offers them.\n"
    "  (no option)  every package name, in the order the server gives them\n"
    "  --models     the ETL models the package names give, each once\n"
    "  --model M    the packages of model M (letter case counts), without those whose name\n"
    "               ends in _base\n"
    "A store without packages lists nothing.\n";

int list(const AdminInvocation& request, const AdminIo& io) {
    const AdminArgs& options = request.args;
    const AdminLogin& login = request.login;
    if (options.has(QStringLiteral("--models")) && options.has(QStringLiteral("--model"))) {
        io.error(QStringLiteral("--models and --model exclude each other"));
        return 2;
    }
    PackageCatalogue packages;
    packages.server = options.value(QStringLiteral("--server"));
    packages.trustedLogin = login.trusted;
    if (!login.trusted) {
        packages.user = login.user;
        packages.password = login.password;
    }
    if (!packages.RetrievePackages() && !packages.LastError().isEmpty()) {
        io.error(QStringLiteral("cannot read the package store of server %1:\n%2")
                     .arg(packages.server, QString(packages.LastError()).replace("\r\n", "\n")));
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
        io.print(item);
    return 0;
}

}  // namespace

AdminCommand PackageListCommand() {
    AdminCommand c{"list"};
    c.connection = AdminConnection::Server;
    c.options = {{"--model"}, {"--models", false}};
    c.required = {QStringLiteral("--server")};
    c.usage = kPackageListUsage;
    c.run = list;
    return c;
}
