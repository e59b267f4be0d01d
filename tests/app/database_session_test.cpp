// The database session against real SQLite files.
#include "db/database_session.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>
#include <string>
#include <vector>

namespace ratemover::db {
namespace {

// Makes a database file with the given statements run in order.
std::string MakeDatabase(const QTemporaryDir& dir, const std::vector<QString>& statements) {
  const QString path = dir.filePath(QStringLiteral("faktorji.sqlite"));
  {
    QSqlDatabase connection = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("maker"));
    connection.setDatabaseName(path);
    EXPECT_TRUE(connection.open());
    QSqlQuery query(connection);
    for (const QString& statement : statements) EXPECT_TRUE(query.exec(statement)) << statement.toStdString();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("maker"));
  return path.toStdString();
}

const QString kCreate = QStringLiteral("CREATE TABLE VLTKNV (SFKNV TEXT, KNVFAKTOR)");

TEST(Faktorji, LoadsRowsInQueryOrder) {
  QTemporaryDir dir;
  const std::string file = MakeDatabase(
      dir, {kCreate, QStringLiteral("INSERT INTO VLTKNV VALUES ('EUR', 1.0), ('USD', 0.9187), ('ČŠŽ', -2.5)"),
            QStringLiteral("INSERT INTO VLTKNV VALUES ('NUL', NULL), (NULL, 3)")});
  DatabaseSession session;
  session.databaseName = file;
  session.Faktorji();
  ASSERT_EQ(session.FactorCount(), 5);
  EXPECT_EQ(session.FactorEntry(1).code, "EUR");
  EXPECT_DOUBLE_EQ(session.FactorEntry(1).factor, 1.0);
  EXPECT_EQ(session.FactorEntry(2).code, "USD");
  EXPECT_DOUBLE_EQ(session.FactorEntry(2).factor, 0.9187);
  EXPECT_EQ(session.FactorEntry(3).code, "\xC8\x8A\x8E");  // Windows-1250
  EXPECT_DOUBLE_EQ(session.FactorEntry(3).factor, -2.5);
  EXPECT_DOUBLE_EQ(session.FactorEntry(4).factor, 0.0);
  EXPECT_EQ(session.FactorEntry(5).code, "");
  EXPECT_EQ(session.Q1Sql(), "SELECT KNVFAKTOR, SFKNV FROM VLTKNV ");
  EXPECT_EQ(session.Q1DatabaseName(), file);
  EXPECT_TRUE(session.Q1Active());  // left open
  EXPECT_FALSE(session.Database1Connected());
}

TEST(Faktorji, StopsAtTheTablesCapacity) {
  QTemporaryDir dir;
  std::vector<QString> statements{kCreate, QStringLiteral("BEGIN")};
  for (int i = 1; i <= 250; ++i) {
    statements.push_back(QStringLiteral("INSERT INTO VLTKNV VALUES ('K%1', %1.5)").arg(i));
  }
  statements.push_back(QStringLiteral("COMMIT"));
  DatabaseSession session;
  session.databaseName = MakeDatabase(dir, statements);
  session.Faktorji();
  ASSERT_EQ(session.FactorCount(), kFactorCapacity);
  EXPECT_EQ(session.FactorEntry(200).code, "K200");
  EXPECT_DOUBLE_EQ(session.FactorEntry(200).factor, 200.5);
  EXPECT_THROW(session.FactorEntry(201), std::out_of_range);
}

TEST(Faktorji, FailuresEndTheLoadSilently) {
  struct Case {
    const char* what;
    std::vector<QString> statements;  // empty: no database file at all
    std::int32_t count;
  };
  const std::vector<Case> cases = {
      {"no rows", {kCreate}, 0},
      {"missing table", {QStringLiteral("CREATE TABLE OTHER (A)")}, 0},
      {"missing column", {QStringLiteral("CREATE TABLE VLTKNV (SFKNV TEXT)")}, 0},
      {"factor that is no number",
       {kCreate, QStringLiteral("INSERT INTO VLTKNV VALUES ('A', 1), ('B', 2), ('C', 'x'), ('D', 4)")},
       2},
      {"no database file", {}, 0},
  };
  for (const Case& c : cases) {
    QTemporaryDir dir;
    DatabaseSession session;
    // An earlier load leaves entries that a failed one does not clear.
    {
      QTemporaryDir earlierDir;
      session.databaseName = MakeDatabase(
          earlierDir, {kCreate, QStringLiteral("INSERT INTO VLTKNV VALUES ('OLD1', 7), ('OLD2', 8), ('OLD3', 9)")});
      session.Faktorji();
      ASSERT_EQ(session.FactorCount(), 3);
    }
    session.databaseName = c.statements.empty() ? dir.filePath(QStringLiteral("none.sqlite")).toStdString()
                                                : MakeDatabase(dir, c.statements);
    session.Faktorji();
    EXPECT_EQ(session.FactorCount(), c.count) << c.what;
    EXPECT_EQ(session.FactorEntry(3).code, "OLD3") << c.what;
    if (c.statements.empty()) {
      EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(session.databaseName))) << "opening created the file";
    }
  }
}

TEST(Faktorji, EmptyDatabaseNameLoadsNothing) {
  DatabaseSession session;
  session.Faktorji();
  EXPECT_EQ(session.FactorCount(), 0);
  EXPECT_EQ(session.Q1DatabaseName(), "");
  EXPECT_FALSE(session.Database1Connected());
}

TEST(Database1, ConstructedClosedWithItsSettings) {
  DatabaseSession session;
  EXPECT_FALSE(session.Database1Connected());
  EXPECT_FALSE(session.Q1Active());
  EXPECT_EQ(session.Q1DatabaseName(), "LB");
  EXPECT_EQ(session.Q1Sql(), "");
  EXPECT_EQ(session.FactorCount(), 0);
  EXPECT_STREQ(DatabaseSession::kAlias, "LB");
  EXPECT_STREQ(DatabaseSession::kSessionName, "Default");
}

TEST(Database1Login, FillsAndRemovesTheCredentialLines) {
  struct Case {
    std::string user;
    std::string password;
    LoginParams before;
    LoginParams after;
  };
  const std::vector<Case> cases = {
      {"", "", {}, {}},
      {"ana", "skrito", {}, {"USER NAME=ana", "PASSWORD=skrito"}},
      {"ana", "", {"USER NAME=old", "PASSWORD=old", "SERVER=x"}, {"USER NAME=ana", "SERVER=x"}},
      {"", "geslo", {"user name=old", "SERVER=x"}, {"SERVER=x", "PASSWORD=geslo"}},
      {"bor", "g", {"SERVER=x", "Password=p"}, {"SERVER=x", "PASSWORD=g", "USER NAME=bor"}},
  };
  for (const Case& c : cases) {
    LoginParams params = c.before;
    Database1Login(c.user, c.password, params);
    EXPECT_EQ(params, c.after) << c.user << "/" << c.password;
  }
}

}  // namespace
}  // namespace ratemover::db
