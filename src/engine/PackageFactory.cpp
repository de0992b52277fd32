#include "engine/PackageFactory.h"

#include "engine/PackageEngine.h"

namespace {
Package2Factory& InstalledFactory() {
    static Package2Factory factory;
    return factory;
}
}  // namespace

std::unique_ptr<DtsPackage> CreatePackage2() {
    if (const Package2Factory& factory = InstalledFactory())
        return factory();
    return std::make_unique<EnginePackage>();
}

void SetPackage2Factory(Package2Factory factory) {
    InstalledFactory() = std::move(factory);
}
