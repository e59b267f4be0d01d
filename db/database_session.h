#pragma once
// The database objects that the main window carries: the connection Database1
// for the alias "LB", its login handler, the query Q1 and the factor table that
// Faktorji loads from VLTKNV. Nothing in either run mode opens the connection or
// loads the factors; constructing the objects touches no database.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ratemover::db {

// The login parameter list: "NAME=value" lines (Windows-1250).
using LoginParams = std::vector<std::string>;

// Fills "USER NAME" and "PASSWORD" with the given texts, adding a line that is
// missing; an empty text removes that name's line instead.
void Database1Login(const std::string& userName, const std::string& password, LoginParams& params);

// The value of a name in the list (names compare without regard to ASCII case),
// empty when the name has no line.
std::string LoginValue(const LoginParams& params, const std::string& name);

struct Faktor {
  std::string code;     // SFKNV
  double factor = 0.0;  // KNVFAKTOR
};

inline constexpr std::int32_t kFactorCapacity = 200;
inline constexpr const char* kFactorQuery = "SELECT KNVFAKTOR, SFKNV FROM VLTKNV ";

class DatabaseSession {
 public:
  DatabaseSession();
  ~DatabaseSession();
  DatabaseSession(const DatabaseSession&) = delete;
  DatabaseSession& operator=(const DatabaseSession&) = delete;

  // Database1: alias "LB", database name "LB", session "Default", closed.
  static constexpr const char* kAlias = "LB";
  static constexpr const char* kDatabase1Name = "LB";
  static constexpr const char* kSessionName = "Default";
  // Through the embedded default driver the alias names an SQLite database
  // file; it is only ever opened for reading, so opening never creates one.
  static constexpr const char* kDriver = "QSQLITE";

  // Opens Database1, asking Database1Login for the credentials; false when the
  // connection cannot be opened. Nothing in the program calls it on its own.
  bool OpenDatabase1();
  void CloseDatabase1();
  bool Database1Connected() const;
  // The credentials that the last opening handed to the driver.
  const LoginParams& LastLoginParams() const { return lastLogin_; }

  // Q1
  bool Q1Active() const;
  const std::string& Q1DatabaseName() const { return q1DatabaseName_; }
  const std::string& Q1Sql() const { return q1Sql_; }

  // Replaces the factor table with the rows of the factor query, at most
  // kFactorCapacity of them. Silent on every failure: the count then tells how
  // many rows were stored before it; entries beyond it keep older content.
  void Faktorji();

  std::int32_t FactorCount() const { return factorCount_; }
  const Faktor& FactorEntry(std::int32_t number) const;  // 1 to kFactorCapacity

  // The module texts; the program never gives them a value. A database name
  // equal to "LB" goes through Database1; any other non-empty name is taken as
  // an SQLite database file, opened for reading.
  std::string databaseName;
  std::string userName;
  std::string password;

 private:
  void CloseQ1();
  bool LoadRows();

  struct Qt;
  std::unique_ptr<Qt> qt_;
  LoginParams lastLogin_;
  std::string q1DatabaseName_ = kDatabase1Name;
  std::string q1Sql_;
  std::int32_t factorCount_ = 0;
  std::array<Faktor, kFactorCapacity> factors_{};
};

}  // namespace ratemover::db
