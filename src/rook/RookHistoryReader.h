#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// Reads the job-history records back, newest first. Each record is a JSON object with every
// stored field under its property name (null where the property was never set), "Id", "Kind",
// "ApplicationName", "CurrentUserName", "ComputerName", and "Arguments": positions 3 to 28 of
// the closing call as an array. Returns false with `error` set when the repository cannot be read.
bool ReadJobHistory(QList<QJsonObject>& records, QString& error, int limit = -1);
