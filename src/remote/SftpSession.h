#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "remote/FtpConnection.h"

typedef void CURL;

// What an SFTP connection (an FTP server text "sftp://host[:port]") needs besides the requests
// FtpConnection makes: the account's SSH key, the host-key check against known_hosts, and the
// reading of the directory listing libcurl hands on.
//
// The files are looked for in the home directory: $HOME when it is an absolute path, otherwise
// the account's home directory from the password database. The key is ~/.ssh/id_ed25519, or
// ~/.ssh/id_rsa when there is none (without a passphrase, its ".pub" beside it); the data link's
// password is tried after the key when one is given with a user name. No user name logs in as
// the account itself, with the key only.

// How the site's host key compared with ~/.ssh/known_hosts; `refusal` is empty while the key
// was accepted (or not yet seen), and holds the reason once it was refused.
struct SftpHostCheck {
    QString hostAndPort;  // "host:port", as the messages name it
    QString refusal;
};

// The home directory as described above; empty when neither source names one.
QString SshHomeDirectory();

// Sets the SSH options of `handle`: the protocol, the user, the key files, the authentication
// methods and the host-key check, which accepts only a key that known_hosts holds for the host
// and records why any other was refused in `check` (which must outlive the handle's requests).
// Nothing is ever added to known_hosts.
void ConfigureSftp(CURL* handle, const FtpServerAddress& address, bool withPassword, bool withUser,
                   SftpHostCheck& check);

// Reads the long listing ("ls -l" lines, as the server words them) of one directory. Links keep
// the name before " -> "; entries that are neither plain files nor links (directories, devices,
// pipes) are marked as directories so that nobody downloads them. False when a line cannot be
// read as an entry.
bool ParseSftpListing(const QByteArray& listing, std::vector<FtpEntry>& entries);
