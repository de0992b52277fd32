// libFuzzer target for the private-profile reader and editor.
//
// The input supplies a choice byte, a value, a key name and the file's bytes. Checked:
// - parsing and writing back untouched gives the same bytes;
// - every listed section and key reads a value, and the file-based ReadIniValue agrees with the
//   in-memory reader;
// - setting a value, then reading the written bytes, gives that value (leading and trailing blanks
//   and one quote pair dropped) and leaves every other section and key as it read before;
//   WriteIniValue on the file writes exactly the same bytes (checked for some inputs);
// - a refused edit changes nothing; removing a key or a section leaves the others alone.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "config/PrivateProfile.h"
#include "config/modIniFilesUtils.h"

namespace {

#define check(condition) checkAt((condition), #condition, __LINE__)

void checkAt(bool condition, const char* text, int line) {
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_ini_reader.cpp:%d: check failed: %s\n", line, text);
    std::abort();
}

using Snapshot = std::map<std::pair<QString, QString>, QString>;

// Every readable (section, key) pair, keyed by case-folded names.
Snapshot snapshot(const PrivateProfile& profile) {
    Snapshot values;
    for (const QString& section : profile.sectionNames()) {
        for (const QString& key : profile.keyNames(section)) {
            const auto value = profile.value(section, key);
            check(value.has_value());
            values[{section.toCaseFolded(), key.toCaseFolded()}] = *value;
        }
    }
    return values;
}

// The values of `after` equal those of `before` except for entries that `touched` selects.
template <typename Touched>
void checkOthersKept(const Snapshot& before, const PrivateProfile& after, Touched touched) {
    const Snapshot now = snapshot(after);
    for (const auto& [names, value] : before) {
        if (touched(names))
            continue;
        const auto it = now.find(names);
        check(it != now.end() && it->second == value);
    }
}

// A file of this process in the temporary directory, removed when the process exits.
QString scratchFile() {
    struct Scratch {
        QString path =
            QDir::tempPath() + QStringLiteral("/pendrill-fuzz-ini-%1.ini").arg(::getpid());
        ~Scratch() { QFile::remove(path); }
    };
    static const Scratch scratch;
    return scratch.path;
}

bool putFile(const QByteArray& bytes) {
    QFile file(scratchFile());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray getFile() {
    QFile file(scratchFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint8_t choice = input.ConsumeIntegral<std::uint8_t>();
    const std::string valueBytes = input.ConsumeRandomLengthString(80);
    const std::string keyBytes = input.ConsumeRandomLengthString(16);
    const std::string fileBytes = input.ConsumeRemainingBytesAsString();
    const QByteArray bytes(fileBytes.data(), static_cast<qsizetype>(fileBytes.size()));
    const QString value = QString::fromUtf8(valueBytes.data(), qsizetype(valueBytes.size()));

    const PrivateProfile profile = PrivateProfile::fromBytes(bytes);
    check(profile.toBytes() == bytes);
    const Snapshot before = snapshot(profile);

    // Names: an existing section and key when the file has them, else names from the input.
    const QStringList sections = profile.sectionNames();
    QString section = QStringLiteral("Fuzz");
    QString key = QString::fromUtf8(keyBytes.data(), qsizetype(keyBytes.size()));
    if (!sections.isEmpty() && (choice & 1)) {
        section = sections[choice % sections.size()];
        const QStringList keys = profile.keyNames(section);
        if (!keys.isEmpty() && (choice & 2))
            key = keys[(choice >> 2) % keys.size()];
    }
    const QString sectionFolded = TrimProfileBlanks(section).toCaseFolded();
    const QString keyFolded = TrimProfileBlanks(key).toCaseFolded();

    check(putFile(bytes));
    const QString read = ReadIniValue(section, key, QStringLiteral("\x01"), scratchFile());
    const auto direct = profile.value(section, key);
    check(read == (direct ? direct->left(kIniValueMaxChars) : QStringLiteral("\x01")) ||
          (direct && direct->size() > kIniValueMaxChars && read.size() == kIniValueMaxChars - 1));

    // Set, then read the written bytes back.
    PrivateProfile edited = profile;
    const bool accepted = edited.setValue(section, key, value);
    if (!accepted) {
        check(edited.toBytes() == bytes);
    } else {
        const PrivateProfile reread = PrivateProfile::fromBytes(edited.toBytes());
        check(reread.toBytes() == edited.toBytes());
        // The writer quotes what the reader would trim or unquote: every accepted value reads back
        // whole.
        check(reread.value(section, key) == value);
        checkOthersKept(before, reread, [&](const auto& names) {
            return names.first == sectionFolded && names.second == keyFolded;
        });
    }
    // The file write syncs to disk, which is slow: only for one input in sixteen.
    if (choice % 16 == 0) {
        check((WriteIniValue(section, key, value, scratchFile()) != 0) == accepted);
        check(getFile() == edited.toBytes());
    }

    PrivateProfile withoutKey = profile;
    if (withoutKey.removeKey(section, key)) {
        checkOthersKept(before, PrivateProfile::fromBytes(withoutKey.toBytes()),
                        [&](const auto& names) {
                            return names.first == sectionFolded && names.second == keyFolded;
                        });
    }
    PrivateProfile withoutSection = profile;
    if (withoutSection.removeSection(section)) {
        checkOthersKept(before, PrivateProfile::fromBytes(withoutSection.toBytes()),
                        [&](const auto& names) { return names.first == sectionFolded; });
    }
    return 0;
}
