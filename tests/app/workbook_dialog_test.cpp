// The picker's own dialog, driven as the operator drives it: what a folder
// lists, and what the keyboard opens, leaves and chooses.
#include "app/desktop/workbook_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/desktop/desktop_services.h"
#include "app_test_support.h"

namespace ratemover::desktop {
namespace {

using testing::kPatienceMs;
using testing::ListedNames;
using testing::WriteBytes;

const QString kEveryFile = QStringLiteral("Vse datoteke (*)");
const QString kXlsOnly = QStringLiteral("Excel datoteke (*.xls)");

QTreeView* ListOf(WorkbookDialog& dialog) { return dialog.findChild<QTreeView*>(QStringLiteral("treeView")); }

// The dialog shown and active, with the keyboard in its list standing on the
// row that reads `name`.
void StandOn(WorkbookDialog& dialog, const QString& name) {
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, kPatienceMs));
  QTreeView* view = ListOf(dialog);
  view->setFocus();
  const int row = static_cast<int>(ListedNames(&dialog).indexOf(name));
  ASSERT_GE(row, 0) << name.toStdString();
  view->setCurrentIndex(view->model()->index(row, 0, view->rootIndex()));
}

// A folder of workbooks: two sub-folders (one named with a byte that is not
// UTF-8), hidden entries, and files in several forms.
struct Folder {
  Folder() {
    for (const char* name : {"cene_\xE8.xls", "te\xC4\x8D" "aji.xls", "Zadnji.xls", "alfa.csv", ".skrita.xls"}) {
      WriteBytes(path + "/" + name, "x");
    }
    for (const char* name : {"arhiv", "stare_\xFF", ".skrita_mapa"}) ::mkdir((path + "/" + name).c_str(), 0755);
    WriteBytes(path + "/arhiv/lani.xls", "x");
  }
  // the toolkit cannot remove what it cannot name
  ~Folder() { std::filesystem::remove_all(path); }
  QTemporaryDir dir;
  std::string path = dir.path().toStdString();
};

TEST(WorkbookDialog, ListsFoldersFirstThenTheFilesOfTheFilterButNoHiddenEntries) {
  const struct {
    const QString& filter;
    QStringList expected;
  } cases[] = {
      {kEveryFile,
       {"arhiv", "stare_\\xFF", "alfa.csv", "cene_\\xE8.xls", "te\u010Daji.xls", "Zadnji.xls"}},
      {kXlsOnly, {"arhiv", "stare_\\xFF", "cene_\\xE8.xls", "te\u010Daji.xls", "Zadnji.xls"}},
  };
  Folder folder;
  WorkbookDialog dialog(nullptr, PickerFilters());
  dialog.setDirectory(folder.dir.path());
  for (const auto& c : cases) {
    dialog.selectNameFilter(c.filter);
    EXPECT_EQ(dialog.selectedNameFilter(), c.filter);
    EXPECT_EQ(ListedNames(&dialog), c.expected) << c.filter.toStdString();
  }
}

// Return on a file ends the dialog with the file's name as the file system
// has it; on a folder it lists the folder, and Backspace goes back up.
TEST(WorkbookDialog, ReturnChoosesAFileByItsBytesOrOpensAFolder) {
  const struct {
    const char* row;  // as listed
    std::string name;  // as the file system has it
    bool folder;
  } cases[] = {
      {"cene_\\xE8.xls", "cene_\xE8.xls", false},
      {"te\u010Daji.xls", "te\xC4\x8D" "aji.xls", false},
      {"arhiv", "arhiv", true},
      {"stare_\\xFF", "stare_\xFF", true},
  };
  Folder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    WorkbookDialog dialog(nullptr, PickerFilters());
    dialog.setDirectory(folder.dir.path());
    dialog.selectNameFilter(kEveryFile);
    StandOn(dialog, QString::fromUtf8(c.row));
    QTest::keyClick(ListOf(dialog), Qt::Key_Return);
    if (!c.folder) {
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      EXPECT_FALSE(dialog.isVisible());
      EXPECT_EQ(dialog.ChosenPath(), folder.path + "/" + c.name);
      EXPECT_EQ(dialog.selectedFiles(), QStringList{folder.dir.path() + "/" + QString::fromUtf8(c.row)});
      continue;
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Directory(), folder.path + "/" + c.name);
    EXPECT_EQ(ListedNames(&dialog), c.name == "arhiv" ? QStringList{"lani.xls"} : QStringList{});
    QTest::keyClick(ListOf(dialog), Qt::Key_Backspace);
    EXPECT_EQ(dialog.Directory(), folder.path);
    EXPECT_EQ(ListedNames(&dialog).size(), 6);
    QTest::keyClick(ListOf(dialog), Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
  }
}

// A folder that cannot be listed lists nothing; the dialog stays usable and a
// name typed there is still taken.
TEST(WorkbookDialog, AFolderThatCannotBeListedListsNothing) {
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();
  WriteBytes(base + "/datoteka", "x");
  ::mkdir((base + "/zaprta").c_str(), 0755);
  WriteBytes(base + "/zaprta/cene.xls", "x");
  ::chmod((base + "/zaprta").c_str(), 0);
  const bool rootReadsEverything = ::geteuid() == 0;
  const struct {
    const char* what;
    std::string folder;
    bool listsNothing;
  } cases[] = {
      {"not there", base + "/ni_je", true},
      {"a file, not a folder", base + "/datoteka", true},
      // only an administrator can read a folder that forbids reading
      {"forbidden to read", base + "/zaprta", !rootReadsEverything},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WorkbookDialog dialog(nullptr, PickerFilters());
    dialog.selectNameFilter(kEveryFile);
    dialog.setDirectory(QString::fromStdString(c.folder));
    EXPECT_EQ(dialog.Directory(), c.folder);
    EXPECT_EQ(ListedNames(&dialog).isEmpty(), c.listsNothing);
    dialog.selectFile(QStringLiteral("nova.xls"));
    EXPECT_EQ(dialog.ChosenPath(), c.folder + "/nova.xls");
  }
  ::chmod((base + "/zaprta").c_str(), 0755);
}

}  // namespace
}  // namespace ratemover::desktop
