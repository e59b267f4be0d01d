#pragma once
// The main window TForm1: the workbook field, the transfer and exit buttons,
// the picker button, the profile label, the progress label and the menu item
// "Parametri". It owns the program's long-lived state: the profiles, the
// spreadsheet session and the database objects.
#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>
#include <vector>

#include "app/desktop/desktop_services.h"
#include "common/operator_view.h"
#include "config/config_file.h"
#include "config/profile_table.h"
#include "db/database_session.h"
#include "spreadsheet/session.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ratemover::desktop {

class TForm2;

// True for an argument whose first two characters, a to z upper-cased, are "-A".
bool IsAutomaticArgument(const std::string& argument);

struct MainWindowSetup {
  MessageBoxes* messages = nullptr;
  WorkbookPicker* picker = nullptr;
  ApplicationEnd* ending = nullptr;
  std::vector<std::string> arguments;  // the program's own path left out
  std::string configPath;              // the configuration file, as the file system names it
  std::string programDir;              // the default workbook lives here (file system's name)
  std::unique_ptr<spreadsheet::Session> session;
};

class TForm1 final : public QMainWindow {
 public:
  explicit TForm1(MainWindowSetup setup);
  ~TForm1() override;

  // Handlers.
  void AppActivate();
  void btnImportClick();
  void btnOdpriClick();
  void btnKonecClick();
  void Parametri1Click();

  // The workbook field: the path as the file system names it. The field shows
  // it readably, each byte of a name that is not UTF-8 as "\xHH", and what the
  // operator types there is read back the same way.
  std::string WorkbookPath() const;
  void SetWorkbookPath(const std::string& path);
  void SetProfileLabel(const std::string& name);  // Windows-1250

  ProfileState& State() { return state_; }
  TForm2& Form2() { return *form2_; }
  db::DatabaseSession& Database() { return database_; }
  bool StartedWithArguments() const { return !arguments_.empty(); }
  bool FirstActivationPending() const { return firstActivation_; }

 private:
  class WindowView;

  void FormCreate();
  void BuildContent();
  void EnterMenuBar();
  void Transfer();
  void ReadConfiguration();
  void SaveConfiguration();

  MessageBoxes& messages_;
  WorkbookPicker& picker_;
  ApplicationEnd& ending_;
  std::vector<std::string> arguments_;
  std::string configPath_;
  std::string programDir_;

  ProfileState state_;
  std::unique_ptr<spreadsheet::Session> session_;
  db::DatabaseSession database_;  // Database1, Q1 and the factor table
  std::unique_ptr<WindowView> view_;

  bool firstActivation_ = true;
  bool transferring_ = false;
  bool configUnread_ = false;    // reading the configuration failed: a save would lose profiles
  std::string workbookPath_;     // what the workbook field names
  std::string unkeptPathShown_;  // the last path the operator was told the configuration cannot keep
  LeftOutProfiles leftOut_;      // entries of the file beyond the table's slots, lost at a save
  bool leftOutShown_ = false;    // the operator has been told of them

  QLabel* lblTecajnica = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* eDatoteka = nullptr;
  QPushButton* btnOdpri = nullptr;
  QPushButton* btnImport = nullptr;
  QPushButton* btnKonec = nullptr;
  QLabel* lblOpozorilo = nullptr;
  QLabel* Label1 = nullptr;
  QAction* Parametri1 = nullptr;
  TForm2* form2_ = nullptr;
  QPointer<QWidget> lastFocus_;
};

}  // namespace ratemover::desktop
