#pragma once

#include <QString>

// The installation directory of the decision-support product Quorra, as recorded in the settings
// store: the value "Current Version" of "SOFTWARE\Tessaly\TessalyQuorra\Version Info" names the
// version, and "Quorra_app_path" of "SOFTWARE\Tessaly\TessalyQuorra\<version>\Install Info" the
// directory. The result ends in a separator ('/' appended unless it ends in '/' or '\'); it is
// "/" when nothing is recorded.
QString DecisionSupportInstallDir();
