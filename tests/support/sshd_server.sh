#!/bin/sh
# An SFTP server for the tests: sshd on 127.0.0.1 and a free port, with a private configuration,
# host key and authorized_keys in DIR; public-key logins only, no PAM. The client key is
# HOME/.ssh/id_ed25519 (made when missing, without a passphrase). Prints "PORT n", then sshd's
# own log ("Server listening on ..." once it listens) until it is stopped.
# Usage: sshd_server.sh DIR HOME
set -e
dir=$1 home=$2
mkdir -p "$home/.ssh"
[ -f "$home/.ssh/id_ed25519" ] || ssh-keygen -q -t ed25519 -N '' -f "$home/.ssh/id_ed25519"
rm -f "$dir/host_key" "$dir/host_key.pub"
ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key"
cp "$home/.ssh/id_ed25519.pub" "$dir/authorized_keys"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$dir/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/host_key
PidFile none
AuthorizedKeysFile $dir/authorized_keys
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
Subsystem sftp internal-sftp
EOF
# As root, sshd needs its privilege-separation directory.
if [ "$(id -u)" = 0 ]; then mkdir -p /run/sshd; fi
echo "PORT $port"
exec /usr/sbin/sshd -D -e -f "$dir/sshd_config"
