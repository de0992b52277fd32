#pragma once

#include <functional>
#include <memory>

#include "dts/DtsPackage.h"

// The package factory the programs hand to a PackageRun (RunSequence::PackageFactory).

// Creates a fresh, empty package object of the package engine.
std::unique_ptr<DtsPackage> CreatePackage2();
