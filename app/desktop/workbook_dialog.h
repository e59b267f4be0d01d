#pragma once
// The window in which the operator picks a workbook: a folder's files in a
// list of name, size, kind and date, a field for the name, and the kinds of
// file to list. It lists every name the file system holds, also one that is not
// valid UTF-8 (shown, and typed, with "\xHH" for each such byte), and hands
// back the chosen path as the file system names it.
//
// Its members for driving it carry the names that a toolkit file dialog uses.
#include <QDialog>
#include <QString>
#include <QStringList>

#include <string>

class QComboBox;
class QLineEdit;
class QModelIndex;
class QStandardItemModel;
class QTreeView;

namespace ratemover::desktop {

class WorkbookDialog final : public QDialog {
 public:
  WorkbookDialog(QWidget* parent, const QStringList& filters);

  // The folder to list, as the operator reads and types it.
  void setDirectory(const QString& readable);
  // The folder listed, as the file system names it.
  const std::string& Directory() const { return folder_; }
  // A name for the name field; a path with a folder lists that folder too.
  void selectFile(const QString& readable);
  // The full path that the name field names, as the operator reads it; none
  // while the field is empty.
  QStringList selectedFiles() const;
  // The same path as the file system names it.
  std::string ChosenPath() const;

  QStringList nameFilters() const { return filters_; }
  void selectNameFilter(const QString& filter);
  QString selectedNameFilter() const;

  // Opening a folder lists it; opening a file (or a name that is not there yet)
  // ends the dialog.
  void accept() override;

 private:
  void ShowFolder(const std::string& folder);
  void ListFolderEntries();
  void FitColumns();
  void OpenEntry(const QModelIndex& index);
  void TakeCurrentName();
  void AskToDelete();
  std::string EntryName(const QModelIndex& index) const;
  bool EntryIsFolder(const QModelIndex& index) const;

  QStringList filters_;
  std::string folder_;
  bool listing_ = false;
  QComboBox* lookIn_ = nullptr;
  QTreeView* view_ = nullptr;
  QStandardItemModel* entries_ = nullptr;
  QLineEdit* name_ = nullptr;
  QComboBox* kinds_ = nullptr;
};

// The picker's texts.
inline constexpr const char* kPickerLookIn = "Išči v:";
inline constexpr const char* kPickerToParent = "Nadrejena mapa";
inline constexpr const char* kPickerFileName = "&Ime datoteke:";
inline constexpr const char* kPickerFileKinds = "&Vrsta datotek:";
inline constexpr const char* kPickerOpen = "&Odpri";
inline constexpr const char* kPickerCancel = "Prekliči";
inline constexpr const char* kPickerFiles = "Datoteke v mapi";
inline constexpr const char* kPickerColumns[] = {"Ime", "Velikost", "Vrsta", "Datum spremembe"};
inline constexpr const char* kPickerFolderKind = "Mapa";
inline constexpr const char* kPickerDeleteTitle = "Izbriši";
inline constexpr const char* kPickerDeleteQuestion = "Ali res želite izbrisati »%1«?";
inline constexpr const char* kPickerDeleteFailed = "»%1« ni bilo mogoče izbrisati.";
inline constexpr const char* kPickerYes = "&Da";
inline constexpr const char* kPickerNo = "&Ne";
inline constexpr const char* kPickerOk = "V redu";

}  // namespace ratemover::desktop
