// libFuzzer target for the reader of package documents, which may come from files someone else
// wrote. The input is the document's bytes. Checked: reading never fails without saying why, and
// every error names its line; a document that is read validates without errors, and every name
// it defines is found again by the lookups the engine uses; expanding its texts with every global
// variable known leaves no reference unknown.

#include <QSet>
#include <cstdint>
#include <optional>

#include "FuzzCheck.h"
#include "engine/PackageDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray xml(reinterpret_cast<const char*>(data), qsizetype(size));
    PackageDocument document;
    QStringList errors;
    const bool read = ParsePackageDocument(xml, &document, &errors);
    FUZZ_CHECK(read == errors.isEmpty());
    for (const QString& error : errors)
        FUZZ_CHECK(error.startsWith(QLatin1String("line ")));
    if (!read)
        return 0;

    FUZZ_CHECK(ValidatePackageDocument(document).isEmpty());
    for (const PackageStep& step : document.steps) {
        const int index = document.StepIndex(step.name);
        FUZZ_CHECK(index >= 0 &&
                   document.steps[index].name.compare(step.name, Qt::CaseInsensitive) == 0);
        for (const PrecedenceConstraint& p : step.precedence)
            FUZZ_CHECK(document.StepIndex(p.step) >= 0);
    }
    for (const PackageConnection& c : document.connections)
        FUZZ_CHECK(document.ConnectionIndex(c.name) >= 0);

    const auto known = [&](const QString& name) -> std::optional<QString> {
        if (document.VariableIndex(name) < 0)
            return std::nullopt;
        return QStringLiteral("v");
    };
    for (const PackageConnection& c : document.connections) {
        for (const QString* text : {&c.server, &c.database, &c.user, &c.directory}) {
            QStringList unknown;
            ExpandVariables(*text, known, &unknown);
            FUZZ_CHECK(unknown.isEmpty());
        }
    }
    return 0;
}
