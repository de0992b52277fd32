#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include "config/RunSettings.h"

// A run of one package from the command line. The run's settings that a configuration file would
// give (warehouse server, database and login, JobID, completion event) start from the package's
// own values, so that a package run without --set receives what it already holds; each
// "Name=Value" then changes the run setting that feeds that global variable, or, for a variable
// of the package's own, the variable itself. The run writes its settings as every run does, so
// OverwriteGlobalSettings tells whether anything differed.
class DtsPackage;

class PackageRunRequest : public RunSettings {
  public:
    // Takes one "Name=Value". False with `error` for a malformed assignment, a variable the run
    // sets from the command line (DTSServer, ExceptionFilePath) or computes
    // (OverwriteGlobalSettings), or a boolean that is neither true/false nor 1/0.
    bool AddSetting(const QString& assignment, QString* error);
    bool HasSettings() const { return !settings_.isEmpty(); }
    // False with `error` when a --set names a variable `package` does not have (the run's own
    // variables excepted: their absence fails the execution) or gives a value of the wrong kind.
    // Changes nothing, so that a run can be refused before its log directory is emptied.
    bool CheckSettings(const DtsPackage& package, QString* error) const;
    // After the package was loaded: CheckSettings on it, then the settings are applied (to these
    // run settings and to the package's own variables). False with `error` for no package.
    bool ApplySettings(DtsPackage* package, QString* error);

  private:
    QList<QPair<QString, QString>> settings_;
};
