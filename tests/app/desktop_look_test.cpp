// What the desktop shows of the toolkit: the program icon, the toolkit's own
// texts in Slovene, the picker's columns and the visible keyboard focus.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>

#include <map>

#include "app/desktop/desktop_services.h"
#include "app/desktop/workbook_dialog.h"
#include "app/desktop/program_icon.h"
#include "app/desktop/widget_kit.h"
#include "app_test_support.h"

namespace ratemover::desktop {
namespace {

using testing::kPatienceMs;
using testing::ListedNames;
using testing::PathIn;
using testing::WhenModal;
using testing::WriteBytes;

TEST(ProgramIcon, TheBuiltInDrawingGivesEverySize) {
  const QIcon icon = ProgramIcon();
  ASSERT_FALSE(icon.isNull());
  for (const int side : {16, 32, 48, 64}) EXPECT_TRUE(icon.availableSizes().contains(QSize(side, side))) << side;

  // The drawing: a navy tile, a white sheet top left, a yellow arrow bottom middle.
  const QImage image = icon.pixmap(64, 64).toImage();
  const std::pair<QPoint, QColor> probes[] = {
      {{0, 0}, Qt::transparent},     {{20, 60}, QColor(0, 0, 128)}, {{11, 13}, Qt::white},
      {{33, 49}, Qt::yellow},        {{45, 33}, Qt::white},
  };
  for (const auto& [point, colour] : probes) EXPECT_EQ(image.pixelColor(point), colour) << point.x() << "," << point.y();
}

TEST(ProgramIcon, TheInstalledDrawingIsTheBuiltInOne) {
  QFile builtIn(QStringLiteral(":/ratemover/ratemover.svg"));
  QFile source(QStringLiteral(RATEMOVER_SOURCE_DIR "/app/desktop/icons/ratemover.svg"));
  ASSERT_TRUE(builtIn.open(QIODevice::ReadOnly));
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  EXPECT_EQ(builtIn.readAll(), source.readAll());
}

// The toolkit's texts that an operator meets in the program's boxes and picker.
TEST(SloveneToolkit, BoxesAndThePickerReadSlovene) {
  SloveneToolkitTexts texts;
  ASSERT_TRUE(texts.QtTextsInstalled()) << "qt6-translations-l10n is not installed";
  ASSERT_TRUE(texts.OwnTextsInstalled());

  QString okButton;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    okButton = box->button(QMessageBox::Ok)->text();
    box->button(QMessageBox::Ok)->click();
  });
  QtMessageBoxes().ShowMessage("Podatki uspe\x9Ano prepisani!");
  EXPECT_EQ(okButton, QStringLiteral("V redu"));

  QTemporaryDir dir;
  QDir(dir.path()).mkdir(QStringLiteral("arhiv"));
  WriteBytes(PathIn(dir, "cene.xls"), std::string(1536, 'x'));
  QStringList buttons;
  QString lookIn, folderType, size, modified;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    dialog->selectNameFilter(QStringLiteral("Vse datoteke (*)"));
    for (QAbstractButton* button : dialog->findChild<QDialogButtonBox*>()->buttons()) buttons << button->text();
    buttons.sort();
    if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("lookInLabel"))) lookIn = label->text();
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(view, nullptr);
    QAbstractItemModel* model = view->model();
    const QModelIndex root = view->rootIndex();
    // The directory is read in the background.
    (void)QTest::qWaitFor([&] { return model->rowCount(root) == 2; }, kPatienceMs);
    for (int row = 0; row < model->rowCount(root); ++row) {
      const QString name = model->index(row, 0, root).data().toString();
      if (name == QStringLiteral("arhiv")) folderType = model->index(row, 2, root).data().toString();
      if (name == QStringLiteral("cene.xls")) {
        size = model->index(row, 1, root).data().toString();
        modified = model->index(row, 3, root).data().toString();
      }
    }
    dialog->reject();
  });
  QtWorkbookPicker().PickWorkbook(nullptr);
  EXPECT_EQ(buttons, (QStringList{QStringLiteral("&Odpri"), QStringLiteral("Prekliči")}));
  EXPECT_EQ(lookIn, QStringLiteral("Išči v:"));
  EXPECT_EQ(folderType, QStringLiteral("Mapa"));
  EXPECT_EQ(size, QStringLiteral("1,50 KiB"));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{1,2}\\.\\d{1,2}\\.\\d{4} \\d{1,2}:\\d{2}:\\d{2}$"))
                  .match(modified)
                  .hasMatch())
      << modified.toStdString();
}

// The first filter lists every form that the program reads, in either case of
// letters; each form's own filter lists only it.
TEST(Picker, FiltersListEveryFormAndEachOnItsOwn) {
  QTemporaryDir dir;
  const char* files[] = {"a.xls", "B.XLS", "c.xlsx", "d.xlsm", "e.xlsb", "f.ods", "g.xml",
                         "h.htm", "i.html", "j.csv",  "k.txt",  "l.pdf",  "brez"};
  for (const char* name : files) WriteBytes(PathIn(dir, name), "x");
  const QStringList filters = PickerFilters();
  const std::vector<QStringList> expected = {
      {"B.XLS", "a.xls", "c.xlsx", "d.xlsm", "e.xlsb", "f.ods", "g.xml", "h.htm", "i.html", "j.csv", "k.txt"},
      {"B.XLS", "a.xls"}, {"c.xlsx"}, {"d.xlsm"}, {"e.xlsb"}, {"f.ods"}, {"g.xml"}, {"h.htm", "i.html"},
      {"j.csv"}, {"k.txt"},
      {"B.XLS", "a.xls", "brez", "c.xlsx", "d.xlsm", "e.xlsb", "f.ods", "g.xml", "h.htm", "i.html", "j.csv",
       "k.txt", "l.pdf"},
  };
  ASSERT_EQ(static_cast<std::size_t>(filters.size()), expected.size());
  std::vector<QStringList> listed;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    for (qsizetype i = 0; i < filters.size(); ++i) {
      dialog->selectNameFilter(filters[i]);
      QStringList names = ListedNames(dialog);
      names.sort();
      listed.push_back(names);
    }
    dialog->reject();
  });
  QtWorkbookPicker().PickWorkbook(nullptr);
  ASSERT_EQ(listed.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(listed[i], expected[i]) << filters[static_cast<qsizetype>(i)].toStdString();
}

// A widget as the operator sees it, kept when the tests are asked to keep
// pictures (RATEMOVER_SCREENS names the folder).
void KeepPicture(QWidget* widget, const QString& name) {
  const QString folder = qEnvironmentVariable("RATEMOVER_SCREENS");
  if (folder.isEmpty()) return;
  QDir().mkpath(folder);
  widget->grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

// The date column holds the whole date and time, the widest day, month and hour
// too, and the picker is wide enough to show it without scrolling.
TEST(Picker, DateColumnShowsTheWholeDateAndTime) {
  SloveneToolkitTexts texts;
  QTemporaryDir dir;
  const std::string path = PathIn(dir, "cene.xls");
  WriteBytes(path, "x");
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 12, 28), QTime(20, 58, 58)), QFileDevice::FileModificationTime));
  file.close();
  int wanted = 0, width = 0, dateEnd = 0, room = 0;
  QString shown;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 1; }, 3000);
    QTest::qWait(50);
    shown = view->model()->index(0, 3, view->rootIndex()).data().toString();
    dateEnd = view->header()->sectionViewportPosition(3) + view->header()->sectionSize(3);
    room = view->viewport()->width();
    wanted = static_cast<QAbstractItemView*>(view)->sizeHintForColumn(3);
    width = view->header()->sectionSize(3);
    KeepPicture(dialog, QStringLiteral("picker-scale-") + qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")));
    dialog->reject();
  });
  QtWorkbookPicker().PickWorkbook(nullptr);
  EXPECT_EQ(shown, QStringLiteral("28.12.2026 20:58:58"));
  EXPECT_GT(wanted, 0);
  EXPECT_LE(wanted, width);
  EXPECT_LE(dateEnd, room) << "the date column reaches past the visible list";
}

// Deleting a file from the picker (the Delete key in its list) asks in
// Slovene, with Slovene buttons.
TEST(SloveneToolkit, ThePickersDeleteQuestionIsSlovene) {
  SloveneToolkitTexts texts;
  QTemporaryDir dir;
  WriteBytes(PathIn(dir, "cene.xls"), "x");
  QString title, question;
  QStringList buttons;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    QAbstractItemView* list = view;
    (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 1; }, 3000);
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0, list->rootIndex()));
    WhenModal(
        [&](QWidget* box) {
          auto* message = qobject_cast<QMessageBox*>(box);
          ASSERT_NE(message, nullptr);
          title = message->windowTitle();
          question = message->text();
          for (QAbstractButton* button : message->buttons()) buttons << button->text();
          buttons.sort();
          KeepPicture(message, QStringLiteral("picker-delete-question"));
          message->button(QMessageBox::No)->click();
        },
        dialog);
    QTest::keyClick(list, Qt::Key_Delete);
    dialog->reject();
  });
  QtWorkbookPicker().PickWorkbook(nullptr);
  EXPECT_EQ(title, QStringLiteral("Izbriši"));
  EXPECT_EQ(question, QStringLiteral("Ali res želite izbrisati »cene.xls«?"));
  EXPECT_EQ(buttons, (QStringList{QStringLiteral("&Da"), QStringLiteral("&Ne")}));
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(PathIn(dir, "cene.xls"))));
}

// The texts of the picker's labels, buttons, tips, menu and column heads, by
// where they stand.
std::map<QString, QString> PickerTexts() {
  std::map<QString, QString> texts;
  QTemporaryDir dir;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
      const QString where = widget->objectName();
      if (where.isEmpty()) continue;
      if (auto* label = qobject_cast<QLabel*>(widget)) texts[where] = label->text();
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts[where] = button->text();
      if (!widget->toolTip().isEmpty()) texts[where + QStringLiteral(" tip")] = widget->toolTip();
      if (!widget->accessibleName().isEmpty()) texts[where + QStringLiteral(" name")] = widget->accessibleName();
    }
    for (QAction* action : dialog->findChildren<QAction*>()) {
      if (!action->objectName().isEmpty()) texts[action->objectName()] = action->text();
    }
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    for (int column = 0; column < 4; ++column) {
      texts[QStringLiteral("column %1").arg(column)] = view->model()->headerData(column, Qt::Horizontal).toString();
    }
    dialog->reject();
  });
  QtWorkbookPicker().PickWorkbook(nullptr);
  return texts;
}

// Every text that the picker shows of its own is Slovene, whether the
// toolkit's translations are installed or not, and nothing else shows.
TEST(SloveneToolkit, EveryPickerTextIsSlovene) {
  const std::map<QString, QString> expected = {
      {"lookInLabel", "Išči v:"},
      {"lookInCombo name", "Išči v:"},
      {"toParentButton", ""},
      {"toParentButton tip", "Nadrejena mapa"},
      {"toParentButton name", "Nadrejena mapa"},
      {"treeView name", "Datoteke v mapi"},
      {"fileNameLabel", "&Ime datoteke:"},
      {"fileNameEdit name", "Ime datoteke"},
      {"fileTypeLabel", "&Vrsta datotek:"},
      {"fileTypeCombo name", "Vrsta datotek"},
      {"openButton", "&Odpri"},
      {"cancelButton", "Prekliči"},
      {"column 0", "Ime"},
      {"column 1", "Velikost"},
      {"column 2", "Vrsta"},
      {"column 3", "Datum spremembe"},
  };
  EXPECT_EQ(PickerTexts(), expected);
  SloveneToolkitTexts texts;
  EXPECT_EQ(PickerTexts(), expected);
}

TEST(SloveneToolkit, LeavingRestoresTheToolkitsOwnTexts) {
  const QLocale before;
  { SloveneToolkitTexts texts; }
  EXPECT_EQ(QLocale(), before);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("OK"));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
}

int YellowPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == kFocusRing ? 1 : 0;
  }
  return count;
}

TEST(VisibleFocus, TheFocusedButtonWearsARing) {
  QWidget window;
  window.resize(200, 100);
  QPushButton* first = MakeButton(&window, "first", QStringLiteral("&Prepis"), {10, 10, 75, 25});
  QPushButton* second = MakeButton(&window, "second", QStringLiteral("..."), {100, 10, 25, 22});
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window, kPatienceMs));
  for (QPushButton* focused : {first, second}) {
    focused->setFocus();
    QPushButton* other = focused == first ? second : first;
    ASSERT_TRUE(focused->hasFocus());
    const QImage ring = focused->grab().toImage();
    // The whole edge, both sides and both ends, two pixels wide.
    EXPECT_GE(YellowPixels(ring), 2 * (2 * focused->width() + 2 * focused->height()) - 16) << focused->objectName().toStdString();
    EXPECT_EQ(ring.pixelColor(0, focused->height() / 2), kFocusRing);
    EXPECT_EQ(ring.pixelColor(focused->width() / 2, focused->height() - 1), kFocusRing);
    EXPECT_EQ(ring.pixelColor(2, focused->height() / 2), kNavy);
    EXPECT_EQ(YellowPixels(other->grab().toImage()), 0) << other->objectName().toStdString();
  }
}

}  // namespace
}  // namespace ratemover::desktop
