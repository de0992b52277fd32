#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "config/InstallPaths.h"
#include "config/SettingsStore.h"
#include "support/TestSupport.h"

using testsupport::IsolatedHome;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

const QString kPendrillKey = "Software\\Tessaly\\Pendrill\\Pendrill";

SettingsStore mainWindowStore() {
    SettingsStore store;
    store.SetCompany("Tessaly");
    store.SetAppName("Pendrill");
    return store;
}

}  // namespace

TEST(RegistryStore, FileFollowsXdgConfigHome) {
    IsolatedHome home;
    EXPECT_EQ(RegistryFilePath(), home.configHome() + "/pendrill/registry.ini");
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    EXPECT_EQ(RegistryFilePath(), QDir::homePath() + "/.config/pendrill/registry.ini");
}

TEST(RegistryStore, SaveSettingWritesTheKeyLayout) {
    IsolatedHome home;
    SettingsStore store = mainWindowStore();
    EXPECT_TRUE(store.SaveSetting("Pendrill", "LastUsedConfigFile", "/runs/nightly.etl"));
    EXPECT_TRUE(store.SaveSetting("Pendrill", "*", "default"));
    EXPECT_EQ(readAll(RegistryFilePath()),
              "[Software\\Tessaly\\Pendrill\\Pendrill]\r\n"
              "LastUsedConfigFile=/runs/nightly.etl\r\n*=default\r\n");
    EXPECT_EQ(testsupport::modeOf(RegistryFilePath()), 0600u);

    // Key paths and value names ignore case; the default value is also the empty name.
    EXPECT_EQ(ReadRegistryValue("SOFTWARE\\tessaly\\PENDRILL\\pendrill", "lastusedconfigfile"),
              "/runs/nightly.etl");
    EXPECT_EQ(ReadRegistryValue(kPendrillKey, ""), "default");
    EXPECT_EQ(RegistryValueNames(kPendrillKey), QStringList({"LastUsedConfigFile", "*"}));
}

TEST(RegistryStore, GetSettingFallsBackToDefault) {
    IsolatedHome home;
    SettingsStore store = mainWindowStore();
    EXPECT_EQ(store.GetSetting("Pendrill", "Missing", "def"), "def");  // no store file at all
    // Values are not cut like those of configuration files; line breaks are refused.
    ASSERT_TRUE(store.SaveSetting("Round", "v", QString(5000, 'z')));
    EXPECT_FALSE(store.SaveSetting("Round", "v", "two\nlines"));
    EXPECT_EQ(store.GetSetting("Round", "v"), QString(5000, 'z'));
    ASSERT_TRUE(
        writeAll(RegistryFilePath(), "[" + kPendrillKey.toUtf8() + "]\r\nEmpty=\r\nBare\r\n"));
    EXPECT_EQ(store.GetSetting("Other", "Empty", "def"), "def");
    EXPECT_EQ(store.GetSetting("Pendrill", "Empty", "def"), "");
    EXPECT_EQ(store.GetSetting("Pendrill", "Bare", "def"), "def");
}

TEST(RegistryStore, DeleteSettingOfValueAndSection) {
    IsolatedHome home;
    SettingsStore store = mainWindowStore();
    EXPECT_FALSE(store.DeleteSetting("Pendrill", "A"));  // no store yet
    EXPECT_FALSE(QFile::exists(RegistryFilePath()));

    ASSERT_TRUE(store.SaveSetting("Pendrill", "A", "1"));
    ASSERT_TRUE(store.SaveSetting("Pendrill", "B", "2"));
    ASSERT_TRUE(store.SaveSetting("Pendrill\\Sub", "C", "3"));
    ASSERT_TRUE(WriteRegistryValue("Software\\Other", "D", "4"));
    EXPECT_TRUE(store.DeleteSetting("pendrill", "a"));
    EXPECT_FALSE(store.DeleteSetting("Pendrill", "A"));
    EXPECT_EQ(store.GetSetting("Pendrill", "B"), "2");

    EXPECT_TRUE(store.DeleteSetting("Pendrill"));  // the key with its subkeys
    EXPECT_FALSE(store.DeleteSetting("Pendrill", ""));
    EXPECT_EQ(readAll(RegistryFilePath()), "[Software\\Other]\r\nD=4\r\n");

    // Keys exist through their subkeys.
    ASSERT_TRUE(WriteRegistryValue("Software\\Tessaly\\Pendrill\\Servers", "Local", "sqlite:/x"));
    EXPECT_TRUE(RegistryKeyExists("software\\tessaly"));
    EXPECT_FALSE(RegistryKeyExists("Software\\Tess"));
    EXPECT_TRUE(DeleteRegistryKey("Software\\Tessaly"));
    EXPECT_FALSE(DeleteRegistryKey("Software\\Tessaly"));
    EXPECT_FALSE(WriteRegistryValue("  ", "x", "y"));
}

TEST(RegistryStore, CompanyAndAppNameRules) {
    IsolatedHome home;
    SettingsStore store;
    store.SetCompany("  Acme ");
    store.SetAppName(" Tool  ");
    ASSERT_TRUE(store.SaveSetting("S", "k", "v"));
    EXPECT_EQ(ReadRegistryValue("Software\\Acme\\Tool\\S", "k"), "v");
    ASSERT_TRUE(store.SaveSetting("", "top", "t"));
    EXPECT_EQ(ReadRegistryValue("Software\\Acme\\Tool", "top"), "t");

    store.SetCompany("   ");  // blanks only: an empty company, not the default
    EXPECT_EQ(store.Company(), "");
    store.SetCompany("");
    EXPECT_EQ(store.Company(), SettingsStore::kDefaultCompany);
}

TEST(RegistryStore, DecisionSupportInstallDir) {
    IsolatedHome home;
    EXPECT_EQ(DecisionSupportInstallDir(), "/");
    ASSERT_TRUE(WriteRegistryValue("SOFTWARE\\Tessaly\\TessalyQuorra\\Version Info",
                                   "Current Version", "7.2"));
    const QString install = "SOFTWARE\\Tessaly\\TessalyQuorra\\7.2\\Install Info";
    ASSERT_TRUE(WriteRegistryValue(install, "Quorra_app_path", "/opt/quorra"));
    EXPECT_EQ(DecisionSupportInstallDir(), "/opt/quorra/");
    ASSERT_TRUE(WriteRegistryValue(install, "Quorra_app_path", "C:\\Quorra\\"));
    EXPECT_EQ(DecisionSupportInstallDir(), "C:\\Quorra\\");
}
