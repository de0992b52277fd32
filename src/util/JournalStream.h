#pragma once

// Whether standard error is connected to the systemd journal: JOURNAL_STREAM names its device
// and inode ("DEVICE:INODE"), and they are those of descriptor 2. False when the variable is
// unset or malformed, or descriptor 2 is something else (a file, a pipe to cron's mailer).
bool StandardErrorIsJournal();
