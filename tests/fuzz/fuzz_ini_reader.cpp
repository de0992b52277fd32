// libFuzzer target for the private-profile reader and editor. The input supplies a choice byte, a
// value, a key name and the file's bytes. Checked: parsing and writing back untouched gives the
// same bytes; the file-based ReadIniValue agrees with the in-memory reader; an accepted set reads
// back whole (WriteIniValue writing the same bytes, for some inputs), a refused one changes
// nothing; setting or removing a key or a section leaves every other value as it read before.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cstdint>
#include <map>
#include <utility>

#include "FuzzCheck.h"
#include "config/IniDocument.h"
#include "config/IniFiles.h"

namespace {

using Names = std::pair<QString, QString>;
using Snapshot = std::map<Names, QString>;

// Every readable (section, key) pair, keyed by case-folded names.
Snapshot snapshot(const IniDocument& profile) {
    Snapshot values;
    for (const QString& section : profile.sectionNames()) {
        for (const QString& key : profile.keyNames(section)) {
            const auto value = profile.value(section, key);
            FUZZ_CHECK(value.has_value());
            values[{section.toCaseFolded(), key.toCaseFolded()}] = *value;
        }
    }
    return values;
}

// The edited bytes read back every value of `before` except those `touched` selects.
template <typename Touched>
void checkOthersKept(const Snapshot& before, const IniDocument& edited, Touched touched) {
    const Snapshot now = snapshot(IniDocument::fromBytes(edited.toBytes()));
    for (const auto& [names, value] : before) {
        const auto it = now.find(names);
        FUZZ_CHECK(touched(names) || (it != now.end() && it->second == value));
    }
}

// A file of this process in the temporary directory, removed when the process exits.
QFile& scratch() {
    static struct Scratch {
        QFile file{QDir::tempPath() + QStringLiteral("/pendrill-fuzz-ini-%1.ini").arg(::getpid())};
        ~Scratch() { file.remove(); }
    } scratch;
    return scratch.file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint8_t choice = input.ConsumeIntegral<std::uint8_t>();
    const QString value = QString::fromStdString(input.ConsumeRandomLengthString(80));
    QString key = QString::fromStdString(input.ConsumeRandomLengthString(16));
    const std::string fileBytes = input.ConsumeRemainingBytesAsString();
    const QByteArray bytes(fileBytes.data(), static_cast<qsizetype>(fileBytes.size()));

    const IniDocument profile = IniDocument::fromBytes(bytes);
    FUZZ_CHECK(profile.toBytes() == bytes);
    const Snapshot before = snapshot(profile);

    // Names: an existing section and key when the file has them, else names from the input.
    const QStringList sections = profile.sectionNames();
    QString section = QStringLiteral("Fuzz");
    if (!sections.isEmpty() && (choice & 1)) {
        section = sections[choice % sections.size()];
        const QStringList keys = profile.keyNames(section);
        if (!keys.isEmpty() && (choice & 2))
            key = keys[(choice >> 2) % keys.size()];
    }
    const Names folded{TrimProfileBlanks(section).toCaseFolded(),
                       TrimProfileBlanks(key).toCaseFolded()};
    const auto sameKey = [&](const Names& names) { return names == folded; };

    QFile& file = scratch();
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(bytes) == bytes.size());
    file.close();
    const QString read = ReadIniValue(section, key, QStringLiteral("\x01"), file.fileName());
    const auto direct = profile.value(section, key);
    FUZZ_CHECK(
        read == (direct ? direct->left(kIniValueMaxChars) : QStringLiteral("\x01")) ||
        (direct && direct->size() > kIniValueMaxChars && read.size() == kIniValueMaxChars - 1));

    // The writer quotes what the reader would trim or unquote: every accepted value reads back.
    IniDocument edited = profile;
    const bool accepted = edited.setValue(section, key, value);
    if (!accepted) {
        FUZZ_CHECK(edited.toBytes() == bytes);
    } else {
        const IniDocument reread = IniDocument::fromBytes(edited.toBytes());
        FUZZ_CHECK(reread.toBytes() == edited.toBytes() && reread.value(section, key) == value);
        checkOthersKept(before, edited, sameKey);
    }
    // The file write syncs to disk, which is slow: only for one input in sixteen.
    if (choice % 16 == 0) {
        FUZZ_CHECK((WriteIniValue(section, key, value, file.fileName()) != 0) == accepted);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly) && file.readAll() == edited.toBytes());
        file.close();
    }

    IniDocument withoutKey = profile;
    if (withoutKey.removeKey(section, key))
        checkOthersKept(before, withoutKey, sameKey);
    IniDocument withoutSection = profile;
    if (withoutSection.removeSection(section))
        checkOthersKept(before, withoutSection,
                        [&](const Names& names) { return names.first == folded.first; });
    return 0;
}
