#pragma once

#include <QString>
#include <QStringList>

class ChoiceList;

// The packages stored on a package server and the ETL models their names give, for the model and
// package lists of the main window.
class PackageCatalogue {
  public:
    QString server;
    bool trustedLogin = false;
    QString user;
    QString password;

    // Reads the names of every package in the server's package store (msdb) and adds them, and
    // their models, to the lists. False on any failure, also when the store holds no package;
    // what was read until then stays. LastError() tells why (empty for an empty store).
    bool RetrievePackages();

    // Empties the list and adds every model that is not empty, in order of first appearance.
    void FillComboBoxWithETLModels(ChoiceList& comboBox) const;
    // Empties the list and adds the packages whose model equals `model` exactly (letter case
    // counts), in package order, leaving out names that end in "_base".
    void FillComboBoxWithPackageFromETLModel(ChoiceList& comboBox, const QString& model) const;

    // Every package name read, in the order read.
    const QStringList& Packages() const { return packages_; }
    // Each model once (letter case aside), spelled as first read; may hold the empty model.
    const QStringList& Models() const { return models_; }
    const QString& LastError() const { return lastError_; }

  private:
    void AddETLModel(const QString& packageName);

    QStringList packages_;
    QStringList models_;
    QString lastError_;
};
