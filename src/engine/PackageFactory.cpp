#include "engine/PackageFactory.h"

#include "engine/DataLinkResolver.h"
#include "engine/PackageEngine.h"
#include "util/RunLog.h"

std::unique_ptr<DtsPackage> CreatePackage2() {
    return std::make_unique<EnginePackage>();
}

std::unique_ptr<DtsPackage> CreatePackageLoggingTo(const RunLog& log) {
    PackageServices services = DefaultPackageServices();
    services.resolveDataLink = [log](const QString& dataLink,
                                     const PackageServices::Warehouse& warehouse,
                                     ResolvedConnection* connection, QString* error) {
        return ResolveDataLinkFromWarehouse(dataLink, warehouse, log, connection, error);
    };
    return std::make_unique<EnginePackage>(std::move(services));
}
