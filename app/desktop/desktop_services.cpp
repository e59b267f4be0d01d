#include "app/desktop/desktop_services.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTreeView>
#include <QDateTime>
#include <QIdentityProxyModel>
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

QString DateColumnFormat() {
  const RegionalSettings& regional = Regional();
  return QString::fromStdString(regional.shortDateFormat) + QChar(u' ') + QString::fromStdString(regional.timeFormat);
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
    if (index.column() == kNameColumn) {
      // a name as the operator reads and types it: a byte that is not UTF-8 as "\xHH"
      return DisplayPath(QFile::encodeName(files->fileName(source)).toStdString());
    }
    if (index.column() == kDateColumn) {
      return files->lastModified(source).toString(DateColumnFormat());
    }
    return QIdentityProxyModel::data(index, role);
  }

 private:
  static constexpr int kNameColumn = 0;
  static constexpr int kSizeColumn = 1;
  static constexpr int kDateColumn = 3;
};

constexpr int kDateColumnOfPicker = 3;

// The toolkit sizes the date column for a short American date; the regional
// date and time are wider. The column takes the widest that the format can
// give in the view's font, every digit as wide as the widest digit.
void WidenDateColumn(QFileDialog& dialog) {
  auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (view == nullptr) return;
  const QFontMetrics metrics(view->font());
  QChar widest(u'0');
  for (char16_t digit = u'1'; digit <= u'9'; ++digit) {
    if (metrics.horizontalAdvance(QChar(digit)) > metrics.horizontalAdvance(widest)) widest = QChar(digit);
  }
  QString sample = QDateTime(QDate(2000, 12, 28), QTime(20, 58, 58)).toString(DateColumnFormat());
  for (QChar& c : sample) {
    if (c.isDigit()) c = widest;
  }
  // the item's own margins, and room for the header's sort mark
  const int margins = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
  const int width = metrics.horizontalAdvance(sample) + margins + 8;
  if (view->header()->sectionSize(kDateColumnOfPicker) < width) view->header()->resizeSection(kDateColumnOfPicker, width);
  // Once shown, the dialog grows as far as the columns need, so that the date
  // is seen without scrolling.
  QMetaObject::invokeMethod(
      &dialog,
      [&dialog, view] {
        const int missing = view->header()->length() - view->viewport()->width();
        if (missing > 0) dialog.resize(dialog.width() + missing, dialog.height());
      },
      Qt::QueuedConnection);
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
  QFileDialog dialog(parent, QString::fromUtf8(kPickerTitle));
  dialog.setObjectName(QStringLiteral("OpenDialog1"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name need not exist, as in any open dialog without a must-exist
  // rule; the default extension is added below, after the dialog.
  dialog.setFileMode(QFileDialog::AnyFile);
  const QStringList filters = PickerFilters();
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.contains(lastFilter_) ? lastFilter_ : filters.first());
  // Our own dialog always: only it shows the names and dates as the program
  // does and takes a name typed with "\xHH".
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setProxyModel(new RegionalFileColumns(&dialog));
  WidenDateColumn(dialog);
  if (!lastChosen_.empty()) dialog.selectFile(DisplayPath(lastChosen_));
  const int result = dialog.exec();
  lastFilter_ = dialog.selectedNameFilter();
  if (result != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  // the name as the file system has it, not as Windows-1250 text could spell it
  const std::string chosen =
      WithDefaultExtension(PathFromReadable(QFileInfo(files.first()).absoluteFilePath().toStdString()));
  lastChosen_ = chosen;
  return chosen;
}

void QtApplicationEnd::EndApplication() {
  // Queued, so that the handler that asked finishes first, and so that a request
  // made before the message loop runs is not lost.
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace ratemover::desktop
