#pragma once

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <filesystem>
#include <string>
#include <vector>

#include "history/history_store.h"

namespace k9::test {

// A run of a unit as the run's record gives it.
inline RunRecord unitRun(const std::string& serial, RunEnd end, std::time_t ended,
                         std::time_t fileTime = 0, std::int64_t fileSize = 4800) {
    RunRecord r;
    r.serialNumber = serial;
    r.end = end;
    r.locations = end == RunEnd::Updated ? LocationsFate::Uploaded : LocationsFate::NotOffered;
    r.edition = 0;
    r.remoteFile = "LocationsLite.txt";
    r.started = ended - 70;
    r.ended = ended;
    r.serverFileSize = fileSize;
    r.serverFileTime = fileTime;
    r.lineCount = 120;
    r.linesSent = end == RunEnd::Updated ? 120 : 0;
    return r;
}

// A scratch folder with the history in a state folder that does not exist yet, and every
// line the history notes.
class HistoryTest : public ::testing::Test {
  protected:
    HistoryStore::Note noter() {
        return [this](const std::string& line) { notes_.push_back(line); };
    }

    QTemporaryDir scratch_;
    std::string dir_ = scratch_.path().toStdString();
    std::string path_ = dir_ + "/state/k9updater/history.db";
    std::vector<std::string> notes_;
};

// A second connection to a history, as another program would hold it.
class OtherConnection final {
  public:
    explicit OtherConnection(const std::string& path) {
        static int n = 0;
        name_ = QStringLiteral("other-%1").arg(++n);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(QString::fromStdString(path));
        EXPECT_TRUE(db.open());
    }
    ~OtherConnection() {
        QSqlDatabase::database(name_).close();
        QSqlDatabase::removeDatabase(name_);
    }
    // The first column of the first row, as text.
    std::string run(const char* sql) {
        QSqlQuery q(QSqlDatabase::database(name_));
        EXPECT_TRUE(q.exec(QString::fromLatin1(sql))) << sql;
        return q.next() ? q.value(0).toString().toStdString() : std::string();
    }

  private:
    QString name_;
};

}  // namespace k9::test
