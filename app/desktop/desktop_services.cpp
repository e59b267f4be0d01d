#include "app/desktop/desktop_services.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>
#include <QTranslator>
#include <QWidget>

#include <exception>

#include "app/desktop/widget_kit.h"
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

QWidget* BoxParent() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

void ShowBox(QMessageBox::Icon icon, const OperatorMessage& message) {
  QMessageBox box(icon, ApplicationTitle(), DisplayText(message), QMessageBox::Ok, BoxParent());
  box.setObjectName(icon == QMessageBox::Critical ? QStringLiteral("ErrorReport") : QStringLiteral("Message"));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace

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

bool InstallToolkitTranslations(QTranslator& translator) {
  if (!translator.load(QLocale(QLocale::Slovenian), QStringLiteral("qt"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  return QCoreApplication::installTranslator(&translator);
}

void QtMessageBoxes::ShowMessage(const OperatorMessage& message) { ShowBox(QMessageBox::NoIcon, message); }

void QtMessageBoxes::ShowErrorReport(const OperatorMessage& message) { ShowBox(QMessageBox::Critical, message); }

std::optional<std::string> QtWorkbookPicker::PickWorkbook(QWidget* parent) {
  QFileDialog dialog(parent, QString::fromUtf8(kPickerTitle));
  dialog.setObjectName(QStringLiteral("OpenDialog1"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name need not exist, as in any open dialog without a must-exist
  // rule; the default extension is added below, after the dialog.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QString::fromUtf8(kPickerExcelFilter), QString::fromUtf8(kPickerAllFilter)});
  dialog.selectNameFilter(QString::fromUtf8(kPickerExcelFilter));
  dialog.setOption(QFileDialog::DontUseNativeDialog, QApplication::platformName() == QStringLiteral("offscreen"));
  if (!lastChosen_.empty()) dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(lastChosen_)));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  // the name as the file system has it, not as Windows-1250 text could spell it
  const std::string chosen =
      WithDefaultExtension(QFile::encodeName(QFileInfo(files.first()).absoluteFilePath()).toStdString());
  lastChosen_ = chosen;
  return chosen;
}

void QtApplicationEnd::EndApplication() {
  // Queued, so that the handler that asked finishes first, and so that a request
  // made before the message loop runs is not lost.
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace ratemover::desktop
