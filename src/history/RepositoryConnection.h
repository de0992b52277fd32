#pragma once

#include <QString>

// Tells whether the job-history repository can be reached.
class RepositoryConnection {
  public:
    // 3: the repository opens (it is created at the default place on first use);
    // 1: the location configured in the settings store cannot be opened;
    // 0: the settings store names an empty location, so there is no repository.
    int State();
    // Why the last State() was not 3.
    const QString& LastError() const { return error_; }

  private:
    QString error_;
};
