#pragma once
// The desktop's links to the operator and the platform: message boxes, the
// workbook picker and ending the application. Each is a small interface so that
// the windows can be driven without a person in front of them.
#include <QLocale>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/operator_view.h"

class QString;
class QTranslator;

namespace ratemover::desktop {

// The message boxes of the program (a lone CR is a line break; a file name in a
// message shows as the file system has it). Both are modal and return when the
// operator has pressed OK.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void ShowMessage(const OperatorMessage& message) = 0;
  // The general error report: a failure that a handler did not catch.
  virtual void ShowErrorReport(const OperatorMessage& message) = 0;

  // Runs a handler's steps; a failure that they do not catch ends the handler
  // and goes to the general error report, and the program goes on.
  void Guarded(const std::function<void()>& steps);
};

// Asks the operator for a workbook; the chosen file's full path as the file
// system names it, or nothing when the operator cancels.
class WorkbookPicker {
 public:
  virtual ~WorkbookPicker() = default;
  virtual std::optional<std::string> PickWorkbook(QWidget* parent) = 0;
};

// Asks the application to end: the current handler finishes, then the message
// loop is left.
class ApplicationEnd {
 public:
  virtual ~ApplicationEnd() = default;
  virtual void EndApplication() = 0;
};

// Without a window manager nobody gives the keyboard back when a box or a
// dialog closes: the window under it would stay without focus, and its Alt+P
// would do nothing until clicked. With one, the focus may come back to the menu
// bar, where nothing shows it. While it lives, this remembers the window of
// `parent` and the control that has the focus there (or `focus`); when it ends,
// it activates the window and gives the control the focus again.
class FocusReturn {
 public:
  explicit FocusReturn(QWidget* parent, QWidget* focus = nullptr);
  ~FocusReturn();
  FocusReturn(const FocusReturn&) = delete;
  FocusReturn& operator=(const FocusReturn&) = delete;

 private:
  QPointer<QWidget> window_;
  QPointer<QWidget> focus_;
};

// The title of every message box: the executable's file name without its
// extension.
QString ApplicationTitle();

// A stored text as the operator sees it: Windows-1250 to Unicode, each CR a
// line break.
QString DisplayText(const std::string& cp1250);

// A message as the operator sees it: its texts as DisplayText, each file name
// as DisplayPath.
QString DisplayText(const OperatorMessage& message);

// A path as the operator sees it: a name that is valid UTF-8 as it is, each
// byte of one that is not as "\xHH".
QString DisplayPath(const std::string& path);

// A path typed without an extension gets the default one, "XLS"; on a file
// system that tells case apart, whichever of "name.XLS" and "name.xls" exists
// is taken.
std::string WithDefaultExtension(const std::string& path);

// The toolkit's own texts (dialog buttons, a text field's menu, file types) in
// Slovene while the object lives: Qt's own translations where they are
// installed, then the program's, which complete what Qt's lack and are looked
// up first.
class SloveneToolkitTexts {
 public:
  SloveneToolkitTexts();
  ~SloveneToolkitTexts();
  SloveneToolkitTexts(const SloveneToolkitTexts&) = delete;
  SloveneToolkitTexts& operator=(const SloveneToolkitTexts&) = delete;

  bool QtTextsInstalled() const { return qtInstalled_; }
  bool OwnTextsInstalled() const { return ownInstalled_; }

 private:
  std::unique_ptr<QTranslator> qt_;
  std::unique_ptr<QTranslator> own_;
  QLocale formerLocale_;
  bool qtInstalled_ = false;
  bool ownInstalled_ = false;
};

class QtMessageBoxes final : public MessageBoxes {
 public:
  void ShowMessage(const OperatorMessage& message) override;
  void ShowErrorReport(const OperatorMessage& message) override;
};

class QtWorkbookPicker final : public WorkbookPicker {
 public:
  std::optional<std::string> PickWorkbook(QWidget* parent) override;

 private:
  std::string lastChosen_;  // offered again within one program run
  QString lastFilter_;      // likewise the kind of file the operator looked for last
};

class QtApplicationEnd final : public ApplicationEnd {
 public:
  void EndApplication() override;
};

// The workbook picker's texts.
inline constexpr const char* kPickerTitle = "Izberi excel datoteko";
inline constexpr const char* kDefaultExtension = "XLS";

// The kinds of file that the readers take, as such files are usually named.
// The picker offers them all together first, then each on its own, then every
// file.
struct PickerForm {
  const char* description;
  const char* patterns;
};
inline constexpr PickerForm kPickerForms[] = {
    {"Excel datoteke", "*.xls"},
    {"Excel delovni zvezki", "*.xlsx"},
    {"Excel delovni zvezki z makri", "*.xlsm"},
    {"Binarni Excel delovni zvezki", "*.xlsb"},
    {"Preglednice OpenDocument", "*.ods"},
    {"Preglednice XML", "*.xml"},
    {"Spletne strani", "*.htm *.html"},
    {"Besedilo CSV", "*.csv"},
    {"Besedilne datoteke", "*.txt"},
};
inline constexpr const char* kPickerEveryForm = "Vse preglednice";
// Every file, also one without a dot in its name.
inline constexpr const char* kPickerAllFilter = "Vse datoteke (*)";

// The picker's filters in the order it offers them: "description (patterns)".
QStringList PickerFilters();

}  // namespace ratemover::desktop
