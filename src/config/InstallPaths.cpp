#include "config/InstallPaths.h"

#include "config/SettingsStore.h"
#include "util/FileUtils.h"

QString DecisionSupportInstallDir() {
    const QString version =
        ReadRegistryValue(QStringLiteral("SOFTWARE\\Tessaly\\TessalyQuorra\\Version Info"),
                          QStringLiteral("Current Version"));
    QString path = ReadRegistryValue(QStringLiteral("SOFTWARE\\Tessaly\\TessalyQuorra\\") +
                                         version + QStringLiteral("\\Install Info"),
                                     QStringLiteral("Quorra_app_path"));
    return AddBackslash(path);
}
