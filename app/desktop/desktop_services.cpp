#include "app/desktop/desktop_services.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QPointer>
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
#include "common/regional.h"

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

// Without a window manager nobody gives the keyboard back when a box or a
// dialog closes: the window under it would stay without focus, and its Alt+P
// would do nothing until clicked. This hands the focus back to the window and
// the control that had it before.
class FocusReturn {
 public:
  explicit FocusReturn(QWidget* parent) {
    QWidget* window = parent != nullptr ? parent->window() : QApplication::activeWindow();
    window_ = window;
    focus_ = window != nullptr ? window->focusWidget() : nullptr;
  }
  ~FocusReturn() {
    if (window_ == nullptr || !window_->isVisible()) return;
    window_->activateWindow();
    if (focus_ != nullptr && focus_->window() == window_) focus_->setFocus(Qt::OtherFocusReason);
  }
  FocusReturn(const FocusReturn&) = delete;
  FocusReturn& operator=(const FocusReturn&) = delete;

 private:
  QPointer<QWidget> window_;
  QPointer<QWidget> focus_;
};

void ShowBox(QMessageBox::Icon icon, const OperatorMessage& message) {
  QWidget* parent = BoxParent();
  FocusReturn focusReturn(parent);
  QMessageBox box(icon, ApplicationTitle(), DisplayText(message), QMessageBox::Ok, parent);
  box.setObjectName(icon == QMessageBox::Critical ? QStringLiteral("ErrorReport") : QStringLiteral("Message"));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

// The picker's size and date columns in the program's regional form instead of
// the process locale's.
class RegionalFileColumns final : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || files == nullptr || !index.isValid()) return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    if (index.column() == kSizeColumn && !files->isDir(source)) {
      return QLocale(QLocale::Slovenian, QLocale::Slovenia).formattedDataSize(files->size(source));
    }
    if (index.column() == kDateColumn) {
      const RegionalSettings& regional = Regional();
      const QString format =
          QString::fromStdString(regional.shortDateFormat) + QChar(u' ') + QString::fromStdString(regional.timeFormat);
      return files->lastModified(source).toString(format);
    }
    return QIdentityProxyModel::data(index, role);
  }

 private:
  static constexpr int kSizeColumn = 1;
  static constexpr int kDateColumn = 3;
};

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
  QFileDialog dialog(parent, QString::fromUtf8(kPickerTitle));
  dialog.setObjectName(QStringLiteral("OpenDialog1"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name need not exist, as in any open dialog without a must-exist
  // rule; the default extension is added below, after the dialog.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QString::fromUtf8(kPickerExcelFilter), QString::fromUtf8(kPickerAllFilter)});
  dialog.selectNameFilter(QString::fromUtf8(kPickerExcelFilter));
  dialog.setOption(QFileDialog::DontUseNativeDialog, QApplication::platformName() == QStringLiteral("offscreen"));
  dialog.setProxyModel(new RegionalFileColumns(&dialog));
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
