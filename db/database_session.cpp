#include "db/database_session.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

#include <atomic>
#include <stdexcept>

#include "common/cp1250.h"
#include "common/text.h"

namespace ratemover::db {

namespace {

std::string NameOfLine(const std::string& line) {
  const auto equals = line.find('=');
  return equals == std::string::npos ? line : line.substr(0, equals);
}

int IndexOfName(const LoginParams& params, const std::string& name) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (AsciiUpper(NameOfLine(params[i])) == AsciiUpper(name)) return static_cast<int>(i);
  }
  return -1;
}

void SetValue(LoginParams& params, const std::string& name, const std::string& value) {
  const int index = IndexOfName(params, name);
  if (value.empty()) {
    if (index >= 0) params.erase(params.begin() + index);
    return;
  }
  const std::string line = name + "=" + value;
  if (index >= 0) {
    params[static_cast<std::size_t>(index)] = line;
  } else {
    params.push_back(line);
  }
}

QString ToQt(const std::string& cp1250) { return QString::fromStdString(Utf8FromCp1250(cp1250)); }

std::string FromQt(const QString& text) { return Cp1250FromUtf8(text.toStdString()); }

QString UniqueConnectionName(const char* role) {
  static std::atomic<int> counter{0};
  return QStringLiteral("ratemover-%1-%2").arg(QString::fromLatin1(role)).arg(++counter);
}

}  // namespace

void Database1Login(const std::string& userName, const std::string& password, LoginParams& params) {
  SetValue(params, "USER NAME", userName);
  SetValue(params, "PASSWORD", password);
}

std::string LoginValue(const LoginParams& params, const std::string& name) {
  const int index = IndexOfName(params, name);
  if (index < 0) return std::string();
  const std::string& line = params[static_cast<std::size_t>(index)];
  return line.substr(line.find('=') + 1);
}

// The Qt SQL objects. Connections are added only when something opens them,
// each under a name of its own so that several sessions never share one.
struct DatabaseSession::Qt {
  QString database1Connection;  // empty while Database1 has never been opened
  QString q1Connection;         // a connection that Q1 opened for a file name
  std::unique_ptr<QSqlQuery> q1;
};

DatabaseSession::DatabaseSession() : qt_(std::make_unique<Qt>()) {}

DatabaseSession::~DatabaseSession() {
  CloseQ1();
  CloseDatabase1();
}

bool DatabaseSession::OpenDatabase1() {
  if (Database1Connected()) return true;
  if (qt_->database1Connection.isEmpty()) {
    qt_->database1Connection = UniqueConnectionName("Database1");
    QSqlDatabase connection = QSqlDatabase::addDatabase(QString::fromLatin1(kDriver), qt_->database1Connection);
    connection.setDatabaseName(QString::fromLatin1(kAlias));
  }
  QSqlDatabase connection = QSqlDatabase::database(qt_->database1Connection, false);
  if (!connection.isValid()) return false;
  // The login handler stands in for a login dialog.
  lastLogin_.clear();
  Database1Login(userName, password, lastLogin_);
  connection.setUserName(ToQt(LoginValue(lastLogin_, "USER NAME")));
  connection.setPassword(ToQt(LoginValue(lastLogin_, "PASSWORD")));
  connection.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
  return connection.open();
}

void DatabaseSession::CloseDatabase1() {
  if (qt_->database1Connection.isEmpty()) return;
  // A query that runs over Database1 goes before its connection.
  if (qt_->q1 && qt_->q1Connection.isEmpty()) qt_->q1.reset();
  {
    QSqlDatabase connection = QSqlDatabase::database(qt_->database1Connection, false);
    connection.close();
  }
  QSqlDatabase::removeDatabase(qt_->database1Connection);
  qt_->database1Connection.clear();
}

bool DatabaseSession::Database1Connected() const {
  if (qt_->database1Connection.isEmpty()) return false;
  return QSqlDatabase::database(qt_->database1Connection, false).isOpen();
}

bool DatabaseSession::Q1Active() const { return qt_->q1 && qt_->q1->isActive(); }

void DatabaseSession::CloseQ1() {
  qt_->q1.reset();
  if (!qt_->q1Connection.isEmpty()) {
    {
      QSqlDatabase connection = QSqlDatabase::database(qt_->q1Connection, false);
      connection.close();
    }
    QSqlDatabase::removeDatabase(qt_->q1Connection);
    qt_->q1Connection.clear();
  }
}

const Faktor& DatabaseSession::FactorEntry(std::int32_t number) const {
  if (number < 1 || number > kFactorCapacity) throw std::out_of_range("factor number out of range");
  return factors_[static_cast<std::size_t>(number - 1)];
}

void DatabaseSession::Faktorji() {
  factorCount_ = 0;
  CloseQ1();
  q1DatabaseName_ = databaseName;
  CloseQ1();
  q1Sql_ = kFactorQuery;
  LoadRows();  // any failure ends the load silently
}

bool DatabaseSession::LoadRows() {
  QSqlDatabase connection;
  if (q1DatabaseName_ == kDatabase1Name) {
    if (!OpenDatabase1()) return false;
    connection = QSqlDatabase::database(qt_->database1Connection, false);
  } else {
    if (q1DatabaseName_.empty()) return false;
    const QString file = ToQt(q1DatabaseName_);
    if (!QFileInfo(file).isFile()) return false;
    qt_->q1Connection = UniqueConnectionName("Q1");
    connection = QSqlDatabase::addDatabase(QString::fromLatin1(kDriver), qt_->q1Connection);
    if (!connection.isValid()) return false;
    connection.setDatabaseName(file);
    connection.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!connection.open()) return false;
  }

  qt_->q1 = std::make_unique<QSqlQuery>(connection);
  QSqlQuery& query = *qt_->q1;
  query.setForwardOnly(true);
  if (!query.exec(QString::fromLatin1(q1Sql_.c_str()))) return false;
  const int factorColumn = query.record().indexOf(QStringLiteral("KNVFAKTOR"));
  const int codeColumn = query.record().indexOf(QStringLiteral("SFKNV"));
  if (factorColumn < 0 || codeColumn < 0) return false;

  // The table holds kFactorCapacity entries; rows beyond them are not read.
  while (factorCount_ < kFactorCapacity && query.next()) {
    const QVariant code = query.value(codeColumn);
    const QVariant factor = query.value(factorColumn);
    double number = 0.0;  // an empty factor reads as 0
    if (!factor.isNull()) {
      bool ok = false;
      number = factor.toDouble(&ok);
      if (!ok) return false;
    }
    Faktor& entry = factors_[static_cast<std::size_t>(factorCount_)];
    ++factorCount_;
    entry.code = code.isNull() ? std::string() : FromQt(code.toString());
    entry.factor = number;
  }
  return true;
}

}  // namespace ratemover::db
