#include "app/frmRunnerMain.h"

// The run of a configured package.

void frmRunnerMain::Run() {}

void frmRunnerMain::RunPackage() {}
