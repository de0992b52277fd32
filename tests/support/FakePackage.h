#pragma once

#include <QMap>
#include <QStringList>
#include <QVariant>
#include <functional>

#include "dts/DtsPackage.h"
#include "dts/RunVariables.h"

// What a FakePackage saw, kept after the run has released it.
struct FakeRecord {
    QStringList loadArguments;
    int flags = -1;
    QStringList writes;  // names written, in order
    QMap<QString, QVariant> values;
    bool executed = false;
    int uninitialized = 0;
};

// A package that stands in for the engine: it keeps its global variables in a FakeRecord, and its
// Execute reports an error, which must not decide the outcome of a run.
class FakePackage : public DtsPackage {
  public:
    explicit FakePackage(FakeRecord* record) : r_(record) {}
    bool loadSucceeds = true;
    QString name = QStringLiteral("Pkg");
    std::vector<DtsStep> steps;
    int unreadableStep = 0;  // a step number whose state cannot be read
    std::function<void()> onExecute;

    bool LoadFromSQLServer(const QString& server, const QString& user, const QString& password,
                           int flags, const QString& pp, const QString& guid, const QString& vguid,
                           const QString& packageName, QString* error) override {
        r_->loadArguments = {server, user, password, pp, guid, vguid, packageName};
        r_->flags = flags;
        *error = QStringLiteral("login failed");
        return loadSucceeds;
    }
    bool HasGlobalVariable(const QString& n) const override { return r_->values.contains(n); }
    QVariant GlobalVariableValue(const QString& n) const override { return r_->values.value(n); }
    bool SetGlobalVariableValue(const QString& n, const QVariant& v) override {
        if (!r_->values.contains(n))
            return false;
        r_->writes << n;
        r_->values[n] = v;
        return true;
    }
    bool Execute(QString*) override {
        r_->executed = true;
        if (onExecute)
            onExecute();
        return false;  // an execution error must not decide the outcome
    }
    int StepCount() const override { return static_cast<int>(steps.size()); }
    std::optional<DtsStep> StepItem(int i) const override {
        if (i == unreadableStep)
            return std::nullopt;
        return steps.at(static_cast<size_t>(i - 1));
    }
    QString Name() const override { return name; }
    void UnInitialize() override { ++r_->uninitialized; }

  private:
    FakeRecord* r_;
};
