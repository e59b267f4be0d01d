#include "app/desktop/workbook_dialog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMetaObject>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <vector>

#include "app/desktop/desktop_services.h"
#include "app/desktop/folder_listing.h"
#include "app/desktop/widget_kit.h"
#include "common/program_dir.h"
#include "common/regional.h"

namespace ratemover::desktop {

namespace {

constexpr int kNameRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr int kFolderPathRole = Qt::UserRole;

enum Column { kNameColumn, kSizeColumn, kKindColumn, kDateColumn, kColumns };

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// The date and time in the program's regional form, not the process locale's.
QString DateColumnFormat() {
  const RegionalSettings& regional = Regional();
  return QString::fromStdString(regional.shortDateFormat) + QChar(u' ') + QString::fromStdString(regional.timeFormat);
}

// The patterns of a filter "description (pattern pattern)".
std::vector<std::string> FilterPatterns(const QString& filter) {
  const qsizetype open = filter.lastIndexOf(QChar(u'('));
  const qsizetype close = filter.lastIndexOf(QChar(u')'));
  std::vector<std::string> patterns;
  if (open < 0 || close < open) return {"*"};
  for (const QString& pattern : filter.mid(open + 1, close - open - 1).split(QChar(u' '), Qt::SkipEmptyParts)) {
    patterns.push_back(pattern.toStdString());
  }
  return patterns;
}

std::string WorkingFolder() {
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// The list of a folder's entries, with the keys of a file list: Delete asks to
// delete the current entry, Backspace goes to the folder above.
class FolderView final : public QTreeView {
 public:
  FolderView(QWidget* parent, std::function<void()> onDelete, std::function<void()> onUp)
      : QTreeView(parent), onDelete_(std::move(onDelete)), onUp_(std::move(onUp)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
      onDelete_();
      return;
    }
    if (event->key() == Qt::Key_Backspace && event->modifiers() == Qt::NoModifier) {
      onUp_();
      return;
    }
    QTreeView::keyPressEvent(event);
  }

 private:
  std::function<void()> onDelete_;
  std::function<void()> onUp_;
};

}  // namespace

WorkbookDialog::WorkbookDialog(QWidget* parent, const QStringList& filters) : QDialog(parent), filters_(filters) {
  NameListsByTheirOwnNames();
  setWindowTitle(Text(kPickerTitle));
  setObjectName(QStringLiteral("OpenDialog1"));

  auto* lookInLabel = new QLabel(Text(kPickerLookIn), this);
  lookInLabel->setObjectName(QStringLiteral("lookInLabel"));
  lookIn_ = new QComboBox(this);
  lookIn_->setObjectName(QStringLiteral("lookInCombo"));
  lookIn_->setAccessibleName(Text(kPickerLookIn));
  lookInLabel->setBuddy(lookIn_);
  auto* toParent = new QToolButton(this);
  toParent->setObjectName(QStringLiteral("toParentButton"));
  toParent->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent, nullptr, this));
  toParent->setToolTip(Text(kPickerToParent));
  toParent->setAccessibleName(Text(kPickerToParent));

  view_ = new FolderView(
      this, [this] { AskToDelete(); }, [this] { ShowFolder(ParentFolder(folder_)); });
  view_->setObjectName(QStringLiteral("treeView"));
  view_->setAccessibleName(Text(kPickerFiles));
  view_->setRootIsDecorated(false);
  view_->setItemsExpandable(false);
  view_->setUniformRowHeights(true);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  entries_ = new QStandardItemModel(0, kColumns, this);
  QStringList heads;
  for (const char* head : kPickerColumns) heads << Text(head);
  entries_->setHorizontalHeaderLabels(heads);
  view_->setModel(entries_);
  view_->header()->setStretchLastSection(false);
  view_->header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
  view_->header()->setSectionResizeMode(kSizeColumn, QHeaderView::ResizeToContents);
  view_->header()->setSectionResizeMode(kKindColumn, QHeaderView::ResizeToContents);
  view_->header()->setSectionResizeMode(kDateColumn, QHeaderView::ResizeToContents);

  auto* nameLabel = new QLabel(Text(kPickerFileName), this);
  nameLabel->setObjectName(QStringLiteral("fileNameLabel"));
  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("fileNameEdit"));
  name_->setAccessibleName(Text(kPickerFileName).remove(QChar(u'&')).chopped(1));
  nameLabel->setBuddy(name_);
  auto* kindsLabel = new QLabel(Text(kPickerFileKinds), this);
  kindsLabel->setObjectName(QStringLiteral("fileTypeLabel"));
  kinds_ = new QComboBox(this);
  kinds_->setObjectName(QStringLiteral("fileTypeCombo"));
  // named before it holds a value, which would otherwise name it
  kinds_->setAccessibleName(Text(kPickerFileKinds).remove(QChar(u'&')).chopped(1));
  kinds_->addItems(filters_);
  kindsLabel->setBuddy(kinds_);

  auto* buttons = new QDialogButtonBox(this);
  buttons->setObjectName(QStringLiteral("buttonBox"));
  QPushButton* open = buttons->addButton(Text(kPickerOpen), QDialogButtonBox::AcceptRole);
  open->setObjectName(QStringLiteral("openButton"));
  open->setDefault(true);
  QPushButton* cancel = buttons->addButton(Text(kPickerCancel), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cancelButton"));

  auto* grid = new QGridLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(lookIn_, 1);
  top->addWidget(toParent);
  grid->addWidget(lookInLabel, 0, 0);
  grid->addLayout(top, 0, 1);
  grid->addWidget(view_, 1, 0, 1, 2);
  grid->addWidget(nameLabel, 2, 0);
  grid->addWidget(name_, 2, 1);
  grid->addWidget(kindsLabel, 3, 0);
  grid->addWidget(kinds_, 3, 1);
  grid->addWidget(buttons, 4, 0, 1, 2);
  setTabOrder(lookIn_, toParent);
  setTabOrder(toParent, view_);
  setTabOrder(view_, name_);
  setTabOrder(name_, kinds_);
  setTabOrder(kinds_, open);
  setTabOrder(open, cancel);

  connect(buttons, &QDialogButtonBox::accepted, this, [this] { accept(); });
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { reject(); });
  connect(toParent, &QToolButton::clicked, this, [this] { ShowFolder(ParentFolder(folder_)); });
  connect(lookIn_, &QComboBox::activated, this, [this](int index) {
    ShowFolder(lookIn_->itemData(index, kFolderPathRole).toByteArray().toStdString());
  });
  connect(kinds_, &QComboBox::currentIndexChanged, this, [this] { ListFolderEntries(); });
  connect(view_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) { OpenEntry(index); });
  connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { TakeCurrentName(); });

  resize(720, 420);
  ShowFolder(WorkingFolder());
  name_->setFocus(Qt::OtherFocusReason);
}

void WorkbookDialog::setDirectory(const QString& readable) { ShowFolder(PathFromReadable(readable.toStdString())); }

void WorkbookDialog::selectFile(const QString& readable) {
  const std::string path = PathFromReadable(readable.toStdString());
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) {
    name_->setText(readable);
    return;
  }
  ShowFolder(slash == 0 ? std::string("/") : path.substr(0, slash));
  name_->setText(DisplayPath(path.substr(slash + 1)));
}

std::string WorkbookDialog::ChosenPath() const {
  const std::string typed = PathFromReadable(name_->text().toStdString());
  if (typed.empty() || typed.front() == '/') return typed;
  return JoinPath(folder_, typed);
}

QStringList WorkbookDialog::selectedFiles() const {
  if (name_->text().isEmpty()) return {};
  return {DisplayPath(ChosenPath())};
}

void WorkbookDialog::selectNameFilter(const QString& filter) {
  const qsizetype index = filters_.indexOf(filter);
  if (index >= 0) kinds_->setCurrentIndex(static_cast<int>(index));
}

QString WorkbookDialog::selectedNameFilter() const { return kinds_->currentText(); }

void WorkbookDialog::accept() {
  // Enter in the list opens the entry that it stands on.
  if (view_->hasFocus() && view_->currentIndex().isValid()) {
    OpenEntry(view_->currentIndex());
    return;
  }
  if (name_->text().isEmpty()) return;
  const std::string chosen = ChosenPath();
  struct stat status {};
  if (::stat(chosen.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    ShowFolder(chosen);
    name_->clear();
    return;
  }
  QDialog::accept();
}

void WorkbookDialog::OpenEntry(const QModelIndex& index) {
  if (!index.isValid()) return;
  if (EntryIsFolder(index)) {
    ShowFolder(JoinPath(folder_, EntryName(index)));
    name_->clear();
    return;
  }
  name_->setText(DisplayPath(EntryName(index)));
  QDialog::accept();
}

void WorkbookDialog::TakeCurrentName() {
  const QModelIndex current = view_->currentIndex();
  if (!listing_ && current.isValid()) name_->setText(DisplayPath(EntryName(current)));
}

std::string WorkbookDialog::EntryName(const QModelIndex& index) const {
  return entries_->index(index.row(), kNameColumn).data(kNameRole).toByteArray().toStdString();
}

bool WorkbookDialog::EntryIsFolder(const QModelIndex& index) const {
  return entries_->index(index.row(), kNameColumn).data(kFolderRole).toBool();
}

void WorkbookDialog::ShowFolder(const std::string& folder) {
  folder_ = folder.empty() ? std::string("/") : folder;
  lookIn_->clear();
  // the folder, then each folder above it
  for (std::string step = folder_;; step = ParentFolder(step)) {
    lookIn_->addItem(DisplayPath(step), QByteArray::fromStdString(step));
    if (step == "/" || ParentFolder(step) == step) break;
  }
  lookIn_->setCurrentIndex(0);
  ListFolderEntries();
}

void WorkbookDialog::ListFolderEntries() {
  std::vector<FolderEntry> entries = ListFolder(folder_);
  const std::vector<std::string> patterns = FilterPatterns(kinds_->currentText());
  std::erase_if(entries, [&patterns](const FolderEntry& entry) {
    return !entry.isFolder && std::none_of(patterns.begin(), patterns.end(), [&entry](const std::string& pattern) {
      return NameMatches(entry.name, pattern);
    });
  });
  // folders first, then by name as the operator reads it
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    if (a.isFolder != b.isFolder) return a.isFolder;
    const int order = DisplayPath(a.name).compare(DisplayPath(b.name), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a.name < b.name;
  });

  const QMimeDatabase kinds;
  const QLocale slovene(QLocale::Slovenian, QLocale::Slovenia);
  // a new listing leaves the name field as it is
  listing_ = true;
  entries_->removeRows(0, entries_->rowCount());
  for (const FolderEntry& entry : entries) {
    const QString shown = DisplayPath(entry.name);
    auto* name = new QStandardItem(shown);
    name->setData(QByteArray::fromStdString(entry.name), kNameRole);
    name->setData(entry.isFolder, kFolderRole);
    name->setIcon(style()->standardIcon(entry.isFolder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon, nullptr, this));
    auto* size = new QStandardItem(entry.isFolder ? QString() : slovene.formattedDataSize(entry.size));
    size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* kind = new QStandardItem(entry.isFolder ? Text(kPickerFolderKind)
                                                  : kinds.mimeTypeForFile(shown, QMimeDatabase::MatchExtension).comment());
    auto* date = new QStandardItem(QDateTime::fromSecsSinceEpoch(entry.modified).toString(DateColumnFormat()));
    for (QStandardItem* item : {name, size, kind, date}) item->setEditable(false);
    entries_->appendRow({name, size, kind, date});
  }
  listing_ = false;
  FitColumns();
}

// The columns take what their texts need; once shown, the dialog grows as far
// as they need, so that the date is seen without scrolling.
void WorkbookDialog::FitColumns() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        const int missing = view_->header()->length() - view_->viewport()->width();
        if (missing > 0) resize(width() + missing, height());
      },
      Qt::QueuedConnection);
}

void WorkbookDialog::AskToDelete() {
  const QModelIndex current = view_->currentIndex();
  if (!current.isValid()) return;
  const std::string name = EntryName(current);
  QMessageBox box(QMessageBox::Question, Text(kPickerDeleteTitle), Text(kPickerDeleteQuestion).arg(DisplayPath(name)),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setTextFormat(Qt::PlainText);
  box.button(QMessageBox::Yes)->setText(Text(kPickerYes));
  box.button(QMessageBox::No)->setText(Text(kPickerNo));
  box.setDefaultButton(QMessageBox::No);
  if (box.exec() != QMessageBox::Yes) return;
  const std::string path = JoinPath(folder_, name);
  // a folder only when it is empty: nothing is lost that the operator did not see
  const int result = EntryIsFolder(current) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
  if (result != 0) {
    QMessageBox failed(QMessageBox::Warning, Text(kPickerDeleteTitle), Text(kPickerDeleteFailed).arg(DisplayPath(name)),
                       QMessageBox::Ok, this);
    failed.setTextFormat(Qt::PlainText);
    failed.button(QMessageBox::Ok)->setText(Text(kPickerOk));
    failed.exec();
  }
  ListFolderEntries();
}

}  // namespace ratemover::desktop
