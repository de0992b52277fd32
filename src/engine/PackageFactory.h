#pragma once

#include <functional>
#include <memory>

#include "dts/DtsPackage.h"

// The default package factory: what the programs install as RunSettings::PackageFactory.

// Creates a fresh, empty package object: the package engine unless a factory was installed.
std::unique_ptr<DtsPackage> CreatePackage2();

// Installs a replacement factory (tests); an empty function restores the package engine.
using Package2Factory = std::function<std::unique_ptr<DtsPackage>()>;
void SetPackage2Factory(Package2Factory factory);
