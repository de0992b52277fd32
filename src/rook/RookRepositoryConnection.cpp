#include "rook/RookRepositoryConnection.h"

#include "rook/RookRepository.h"

int RookRepositoryConnection::State() {
    error_.clear();
    const RookRepository::Location loc = RookRepository::CurrentLocation();
    if (loc.configured && loc.path.isEmpty()) {
        error_ = QStringLiteral("no repository location is configured");
        return 0;
    }
    RookRepository::Connection repo;
    if (repo.Open(loc.path, !loc.configured))
        return 3;
    error_ = repo.LastError();
    return 1;
}
