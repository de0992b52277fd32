#include "engine/PackageFactory.h"

#include "engine/PackageEngine.h"

std::unique_ptr<DtsPackage> CreatePackage2() {
    return std::make_unique<EnginePackage>();
}
