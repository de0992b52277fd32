#include "CommandTable.h"
#include "DatalinkParts.h"
#include "DatalinkRequest.h"

namespace {

const char* const kDatalinkUsage =
    "Usage: pendrill-admin datalink init --server S --database D [LOGIN]\n"
    "       pendrill-admin datalink add  --server S --database D --model M --name N --type T\n"
    "                                    [FIELD]... [LOGIN]\n"
    "       pendrill-admin datalink set  --server S --database D --model M --name N FIELD...\n"
    "                                    [LOGIN]\n"
    "       pendrill-admin datalink list --server S --database D --model M [--json]\n"
    "                                    [--show-passwords] [LOGIN]\n"
    "Set up and inspect the data-link catalogue (table dwm_data_link) of a data-warehouse\n"
    "database.\n"
    "  init   create the table (and, on an embedded or PostgreSQL server, the database)\n"
    "  add    add the data link N of model M; fields not given are NULL\n"
    "  set    change fields of the data link N of model M\n"
    "  list   the data links of model M as Pendrill shows them: NULL as empty, 0 or FALSE,\n"
    "         numbers beyond 32767 as 32767, passwords (and a connect string's PWD=) as\n"
    "         ******** unless --show-passwords; rows whose Type is not a number are left\n"
    "         out with a note on standard error\n"
    "Model and data-link names are compared exactly (letter case counts), also on a server\n"
    "whose collation ignores case. add and set refuse an empty model or data-link name;\n"
    "list --model \"\" lists the rows stored with an empty model.\n"
    "LOGIN:  --user U [--password P | --password-file F]   or   --trusted (the default)\n"
    "FIELD:  --type N  --ds-server TEXT  --ds-database TEXT  --ds-trusted-login true|false\n"
    "        --ds-user TEXT  --ds-password TEXT  --ds-password-file F  --ds-file TEXT\n"
    "        --ds-directory TEXT\n"
    "        --ds-connect-string TEXT  --transfer-data N  --ftp-server TEXT  --ftp-user TEXT\n"
    "        --ftp-password TEXT  --ftp-password-file F  --remote-directory TEXT\n"
    "        --poll-interval N  --poll-duration N\n"
    "        --null COLUMN (set a column to NULL; may be repeated)\n"
    "        Numbers (N) are whole numbers from 0 to 32767.\n"
    "        --ftp-server: host[:port], ftps://host[:port] (FTP over TLS) or\n"
    "        sftp://host[:port] (SFTP: the account's ~/.ssh key or --ftp-password, the host\n"
    "        key checked against ~/.ssh/known_hosts)\n"
    "Passwords are given in clear and stored ROT13-rotated, as Pendrill stores them. A\n"
    "password file gives its first line; '-' as a password or file reads standard input;\n"
    "--user without a password takes PENDRILL_PASSWORD from the environment.\n";

}  // namespace

namespace {

template <int (*run)(const DatalinkRequest&, const AdminIo&)>
int withRequest(const AdminInvocation& invocation, const AdminIo& io) {
    return run(DatalinkRequest(invocation), io);
}

}  // namespace

AdminGroup DatalinkGroup() {
    AdminCommand init{"init"}, add{"add"}, set{"set"}, list{"list"};
    init.run = withRequest<DatalinkInit>;
    add.run = withRequest<DatalinkAdd>;
    set.run = withRequest<DatalinkSet>;
    list.run = withRequest<DatalinkList>;
    list.options = {{"--model"}, {"--json", false}, {"--show-passwords", false}};
    list.required = {QStringLiteral("--model")};
    list.mayBeEmpty = {QStringLiteral("--model")};
    for (AdminCommand* c : {&add, &set}) {
        c->options = {{"--model"}, {"--name"}, {"--null", true, true}};
        const std::vector<AdminOption> fields = DatalinkFieldOptions();
        c->options.insert(c->options.end(), fields.begin(), fields.end());
        c->required = {QStringLiteral("--model"), QStringLiteral("--name")};
    }
    for (AdminCommand* c : {&init, &add, &set, &list}) {
        c->connection = AdminConnection::ServerAndDatabase;
        c->required =
            QStringList{QStringLiteral("--server"), QStringLiteral("--database")} + c->required;
    }
    return AdminGroup{"datalink", kDatalinkUsage, {init, add, set, list}};
}
