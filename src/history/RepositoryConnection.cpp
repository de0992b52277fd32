#include "history/RepositoryConnection.h"

#include "history/Repository.h"

int RepositoryConnection::State() {
    error_.clear();
    const Repository::Location loc = Repository::CurrentLocation();
    if (loc.configured && loc.path.isEmpty()) {
        error_ = QStringLiteral("no repository location is configured");
        return 0;
    }
    Repository::Connection repo;
    if (repo.Open(loc.path, !loc.configured))
        return 3;
    error_ = repo.LastError();
    return 1;
}
