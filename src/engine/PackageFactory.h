#pragma once

#include <functional>
#include <memory>

#include "dts/DtsPackage.h"

class RunLog;

// The package factory the programs hand to a PackageRun (RunSequence::PackageFactory).

// Creates a fresh, empty package object of the package engine.
std::unique_ptr<DtsPackage> CreatePackage2();
// The same, with the notes of its execution (data-link rows left out of the catalogue's load) in
// `log`, the run log of the run executing it (copied: a copy writes to the same places).
std::unique_ptr<DtsPackage> CreatePackageLoggingTo(const RunLog& log);
