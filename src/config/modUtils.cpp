#include "config/modUtils.h"

#include "config/CRegSettings.h"
#include "util/FileUtils.h"

QString GetQuorraAppPath() {
    const QString version =
        ReadRegistryValue(QStringLiteral("SOFTWARE\\Tessaly\\TessalyQuorra\\Version Info"),
                          QStringLiteral("Current Version"));
    QString path = ReadRegistryValue(QStringLiteral("SOFTWARE\\Tessaly\\TessalyQuorra\\") +
                                         version + QStringLiteral("\\Install Info"),
                                     QStringLiteral("Quorra_app_path"));
    return AddBackslash(path);
}
