#pragma once

#include <QString>

#include "AdminCommand.h"

// Passwords kept off the command line (where `ps` and the shell's history would show them):
// --password-file FILE, --ds-password-file FILE and --ftp-password-file FILE read the first line
// of FILE (a pipe such as <(pass show x) too), and the value "-" of --password, --ds-password,
// --ftp-password or of a file option reads it from standard input. The password then stands in
// `args` as if --password (--ds-password, --ftp-password) had given it. False with `error` (one
// line) when a password option and its file option are both given, when two of them would read
// standard input, or when the file cannot be read.
bool ResolveSecretOptions(AdminArgs* args, QString* error);

// The login password of --user U when neither --password nor --password-file gave one: the
// environment's PENDRILL_PASSWORD, else empty.
QString PasswordFromEnvironment();
