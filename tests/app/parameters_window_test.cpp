// The parameters window through its real widgets.
#include "app/desktop/parameters_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "app_test_support.h"

namespace ratemover::desktop {
namespace {

using testing::RecordingMessages;
using testing::WhenModal;

struct Window {
  explicit Window(MessageBoxes* boxes = nullptr) {
    Tecajnica ljse{"LJSE", 2, "A", "B", "D", ""};
    Tecajnica kdd{"KDD", 3, "B", "C", "E", "F"};
    state.table.Slot(1) = ljse;
    state.table.Slot(2) = kdd;
    state.table.count = 2;
    state.table.selected = 2;
    state.current = kdd;
    form = std::make_unique<TForm2>(
        state, boxes != nullptr ? *boxes : messages, [this](const std::string& name) { labels.push_back(name); },
        [this] { ++writes; }, nullptr);
    form->Open();
  }
  QLineEdit* Field(const char* name) { return form->findChild<QLineEdit*>(QString::fromLatin1(name)); }
  QPushButton* Button(const char* name) { return form->findChild<QPushButton*>(QString::fromLatin1(name)); }
  QComboBox* List() { return form->findChild<QComboBox*>(QStringLiteral("cbTecajnice")); }

  ProfileState state;
  RecordingMessages messages;
  std::vector<std::string> labels;
  int writes = 0;
  std::unique_ptr<TForm2> form;
};

TEST(ParametersWindow, ControlsTextsAndOrder) {
  Window w;
  EXPECT_EQ(w.form->windowTitle(), "Nastavitev parametrov");
  EXPECT_TRUE(w.form->isModal());
  QStringList labels;
  for (QLabel* label : w.form->findChildren<QLabel*>()) labels << label->text();
  // The texts as designed, each with the letter that Alt takes to it marked.
  EXPECT_EQ(labels, (QStringList{QStringLiteral("&SEZNAM TEČAJNIC"), QStringLiteral("&TEČAJNICA"),
                                 QStringLiteral("&ZAČETNA  VRSTICA"), QStringLiteral("KOLONE V EXCELU S PODATKI:"),
                                 QStringLiteral("&DATUM"), QStringLiteral("&VP"), QStringLiteral("TEČ&AJ"),
                                 QStringLiteral("&INDEKS")}));
  EXPECT_EQ(w.Button("btnBrisi")->text(), QStringLiteral("&Briši"));
  EXPECT_EQ(w.Button("btnAzuriraj")->text(), "Dodaj &novo");
  EXPECT_EQ(w.Button("btnPotrdi")->text(), QStringLiteral("Za&ključi"));
  EXPECT_FALSE(w.List()->isEditable());

  // Top to bottom, the letter fields side by side in the order date, symbol, price, index.
  const char* column[] = {"cbTecajnice", "eTecajnica", "eZacetnaVrstica", "eDatum", "btnBrisi", "btnPotrdi"};
  for (std::size_t i = 1; i < std::size(column); ++i) {
    EXPECT_LT(w.form->findChild<QWidget*>(column[i - 1])->y(), w.form->findChild<QWidget*>(column[i])->y()) << column[i];
  }
  const char* row[] = {"eDatum", "eSimbol", "eTecaj", "eIndeks"};
  for (std::size_t i = 1; i < std::size(row); ++i) {
    EXPECT_EQ(w.Field(row[i])->y(), w.Field(row[0])->y());
    EXPECT_LT(w.Field(row[i - 1])->x(), w.Field(row[i])->x());
    EXPECT_TRUE(w.Field(row[i])->font().bold());
  }
  EXPECT_LT(w.Button("btnBrisi")->x(), w.Button("btnAzuriraj")->x());

  EXPECT_EQ(w.List()->count(), 2);
  EXPECT_EQ(w.List()->currentText(), "KDD");
  EXPECT_EQ(w.Field("eZacetnaVrstica")->text(), "3");
  EXPECT_EQ(w.Field("eIndeks")->text(), "F");
}

TEST(ParametersWindow, LetterFieldsTakeOneTypedCharacterButKeepLongerStoredText) {
  Window w;
  QLineEdit* datum = w.Field("eDatum");
  datum->clear();
  QTest::keyClicks(datum, "bc");
  EXPECT_EQ(datum->text(), "b");

  w.form->SetFieldText(ParameterField::Simbol, "AB");  // a longer value from the configuration file
  QLineEdit* simbol = w.Field("eSimbol");
  EXPECT_EQ(simbol->text(), "AB");
  simbol->setCursorPosition(2);
  QTest::keyClick(simbol, Qt::Key_Backspace);
  QTest::keyClicks(simbol, "Q");
  EXPECT_EQ(simbol->text(), "A");

  QLineEdit* name = w.Field("eTecajnica");
  name->clear();
  QTest::keyClicks(name, "Dolgo ime brez omejitve");
  EXPECT_EQ(name->text(), "Dolgo ime brez omejitve");
}

TEST(ParametersWindow, ButtonsRunTheHandlersOnTheWidgets) {
  Window w;
  w.Field("eTecajnica")->setText(QStringLiteral("Nova čšž ĆĐ"));
  w.Field("eDatum")->setText("a");
  w.Field("eSimbol")->setText("b");
  w.Field("eTecaj")->setText("c");
  w.Field("eIndeks")->clear();
  w.Button("btnAzuriraj")->click();
  EXPECT_TRUE(w.messages.messages.empty());
  EXPECT_EQ(w.Field("eTecajnica")->text(), "Nova csz CD");
  EXPECT_EQ(w.List()->count(), 3);
  EXPECT_EQ(w.List()->currentText(), "Nova csz CD");
  EXPECT_EQ(w.state.table.count, 3);
  EXPECT_EQ(w.state.table.selected, 3);
  EXPECT_EQ(w.labels, (std::vector<std::string>{"Nova csz CD"}));

  // Choosing with the keyboard makes the chosen profile current.
  w.List()->setFocus();
  QTest::keyClick(w.List(), Qt::Key_Up);
  EXPECT_EQ(w.List()->currentText(), "KDD");
  EXPECT_EQ(w.state.table.selected, 2);
  EXPECT_EQ(w.Field("eTecaj")->text(), "E");

  w.Button("btnBrisi")->click();
  EXPECT_EQ(w.List()->count(), 2);
  EXPECT_EQ(w.List()->currentIndex(), -1);
  EXPECT_EQ(w.state.table.Slot(2).name, "");
  EXPECT_EQ(w.Field("eTecajnica")->text(), "");

  w.Field("eTecajnica")->setText("X");
  w.Button("btnPotrdi")->click();
  EXPECT_EQ(w.messages.messages, (std::vector<std::string>{"Izberi polno te\xE8" "ajnico ali eno dodaj!"}));
  EXPECT_EQ(w.writes, 0);
}

TEST(ParametersWindow, ZakljuciWritesAndClosesTheModalWindow) {
  Window w;
  int result = -1;
  WhenModal([&](QWidget* modal) {
    ASSERT_EQ(modal, w.form.get());
    w.Field("eZacetnaVrstica")->setText("9");
    w.Button("btnPotrdi")->click();
  });
  result = w.form->exec();
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(w.writes, 1);
  EXPECT_EQ(w.state.table.Slot(2).startRow, 9);
}

TEST(ParametersWindow, FailedCheckShowsARealModalBoxOverTheWindow) {
  QtMessageBoxes boxes;
  Window w(&boxes);
  QString text;
  bool stillOpen = false;
  WhenModal([&](QWidget* modal) {
    w.Field("eDatum")->setText("Z");
    WhenModal(
        [&](QWidget* box) {
          auto* message = qobject_cast<QMessageBox*>(box);
          ASSERT_NE(message, nullptr);
          text = message->text();
          message->button(QMessageBox::Ok)->click();
        },
        modal);
    w.Button("btnPotrdi")->click();
    stillOpen = w.form->isVisible();
    w.form->reject();
  });
  w.form->exec();
  EXPECT_EQ(text, "Datum ni v pravilni koloni! (A, B, C, ..)");
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(w.writes, 0);
}

}  // namespace
}  // namespace ratemover::desktop
