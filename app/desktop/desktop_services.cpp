#include "app/desktop/desktop_services.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QLibraryInfo>
#include <QLocale>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>
#include <QTranslator>
#include <QWidget>

#include <exception>

#include "app/desktop/widget_kit.h"
#include "app/desktop/workbook_dialog.h"
#include "common/cp1250.h"
#include "common/program_dir.h"

namespace ratemover::desktop {

void MessageBoxes::Guarded(const std::function<void()>& steps) {
  try {
    steps();
  } catch (const NamedFailure& failure) {
    ShowErrorReport(failure.Message());
  } catch (const std::exception& failure) {
    ShowErrorReport(failure.what());
  } catch (...) {
    ShowErrorReport("Nepri\xE8" "akovana napaka.");
  }
}

namespace {

// A box stands over the window that is in use: the modal window if one is
// open, else the active window, else the program's main window (after an
// earlier box, no window may be active yet, and a box without a parent would
// stand in the middle of the screen).
QWidget* BoxParent() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMainWindow*>(window) != nullptr && window->isVisible()) return window;
  }
  return nullptr;
}

void ShowBox(QMessageBox::Icon icon, const OperatorMessage& message) {
  QWidget* parent = BoxParent();
  FocusReturn focusReturn(parent);
  QMessageBox box(icon, ApplicationTitle(), DisplayText(message), QMessageBox::Ok, parent);
  box.setObjectName(icon == QMessageBox::Critical ? QStringLiteral("ErrorReport") : QStringLiteral("Message"));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  // Without a window manager a box that opens is not given the keyboard.
  QMetaObject::invokeMethod(&box, [&box] { box.activateWindow(); }, Qt::QueuedConnection);
  box.exec();
}

}  // namespace

FocusReturn::FocusReturn(QWidget* parent, QWidget* focus) {
  QWidget* window = parent != nullptr ? parent->window() : QApplication::activeWindow();
  window_ = window;
  if (focus == nullptr && window != nullptr) focus = window->focusWidget();
  // the menu bar holds the keyboard only while it is being used
  if (qobject_cast<QMenuBar*>(focus) != nullptr) focus = nullptr;
  focus_ = focus;
}

FocusReturn::~FocusReturn() {
  if (window_ == nullptr || !window_->isVisible()) return;
  window_->activateWindow();
  if (focus_ != nullptr && focus_->window() == window_ && focus_->isVisible() && focus_->isEnabled()) {
    focus_->setFocus(Qt::OtherFocusReason);
  } else {
    window_->setFocus(Qt::OtherFocusReason);
  }
}

QStringList PickerFilters() {
  QStringList patterns;
  QStringList filters;
  for (const PickerForm& form : kPickerForms) {
    patterns << QString::fromUtf8(form.patterns);
    filters << QString::fromUtf8(form.description) + QStringLiteral(" (") + QString::fromUtf8(form.patterns) +
                   QChar(u')');
  }
  filters.prepend(QString::fromUtf8(kPickerEveryForm) + QStringLiteral(" (") + patterns.join(QChar(u' ')) + QChar(u')'));
  filters << QString::fromUtf8(kPickerAllFilter);
  return filters;
}

QString ApplicationTitle() { return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(); }

QString DisplayText(const std::string& cp1250) {
  QString text = FromCp1250(cp1250);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QChar(u'\r'), QChar(u'\n'));
  return text;
}

QString DisplayText(const OperatorMessage& message) {
  QString text;
  for (const auto& piece : message.Pieces()) text += piece.isName ? DisplayPath(piece.bytes) : DisplayText(piece.bytes);
  return text;
}

QString DisplayPath(const std::string& path) { return QString::fromStdString(ReadablePath(path)); }

std::string WithDefaultExtension(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name.find('.') != std::string::npos) return path;
  const std::string upper = path + "." + kDefaultExtension;
  if (IsExistingFile(upper)) return upper;
  const std::string lower = path + ".xls";
  if (IsExistingFile(lower)) return lower;
  return upper;
}

SloveneToolkitTexts::SloveneToolkitTexts()
    : qt_(std::make_unique<QTranslator>()), own_(std::make_unique<QTranslator>()), formerLocale_(QLocale()) {
  // File type names (from the system's MIME database) follow the default locale.
  QLocale::setDefault(QLocale(QLocale::Slovenian, QLocale::Slovenia));
  qtInstalled_ = qt_->load(QLocale(QLocale::Slovenian), QStringLiteral("qt"), QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
                 QCoreApplication::installTranslator(qt_.get());
  // Installed last, so looked up first.
  ownInstalled_ = own_->load(QStringLiteral(":/ratemover/ratemover_sl.qm")) &&
                  QCoreApplication::installTranslator(own_.get());
}

SloveneToolkitTexts::~SloveneToolkitTexts() {
  if (ownInstalled_) QCoreApplication::removeTranslator(own_.get());
  if (qtInstalled_) QCoreApplication::removeTranslator(qt_.get());
  QLocale::setDefault(formerLocale_);
}

void QtMessageBoxes::ShowMessage(const OperatorMessage& message) { ShowBox(QMessageBox::NoIcon, message); }

void QtMessageBoxes::ShowErrorReport(const OperatorMessage& message) { ShowBox(QMessageBox::Critical, message); }

std::optional<std::string> QtWorkbookPicker::PickWorkbook(QWidget* parent) {
  FocusReturn focusReturn(parent);
  // Our own dialog: it lists every name the file system holds, shows names and
  // dates as the program does and takes a name typed with "\xHH".
  WorkbookDialog dialog(parent, PickerFilters());
  dialog.selectNameFilter(lastFilter_);
  if (!lastChosen_.empty()) dialog.selectFile(DisplayPath(lastChosen_));
  const int result = dialog.exec();
  lastFilter_ = dialog.selectedNameFilter();
  if (result != QDialog::Accepted) return std::nullopt;
  // A typed name need not exist, as in any open dialog without a must-exist
  // rule; the default extension is added to one typed without it.
  const std::string chosen = WithDefaultExtension(dialog.ChosenPath());
  if (chosen.empty()) return std::nullopt;
  lastChosen_ = chosen;
  return chosen;
}

void QtApplicationEnd::EndApplication() {
  // Queued, so that the handler that asked finishes first, and so that a request
  // made before the message loop runs is not lost.
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace ratemover::desktop
