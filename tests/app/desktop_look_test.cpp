// What the desktop shows of the toolkit: the program icon, the toolkit's own
// texts in Slovene, the picker's columns and the visible keyboard focus.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>

#include "app/desktop/desktop_services.h"
#include "app/desktop/program_icon.h"
#include "app/desktop/widget_kit.h"
#include "app_test_support.h"

namespace ratemover::desktop {
namespace {

using testing::kPatienceMs;
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
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    dialog->setNameFilter(QStringLiteral("Vse datoteke (*)"));
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
