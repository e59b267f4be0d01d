#include "app/desktop/parameters_window.h"

#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include <algorithm>
#include <exception>
#include <utility>

#include "app/desktop/widget_kit.h"

namespace ratemover::desktop {

namespace {

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top, int width, const QColor& colour) {
  auto* label = new QLabel(text, parent);
  Colour(label, colour);
  QFont font = parent->font();
  font.setBold(true);
  label->setFont(font);
  label->setGeometry(left, top, std::max(width, label->sizeHint().width()), label->sizeHint().height());
  return label;
}

QLineEdit* MakeField(QWidget* parent, const char* name, QRect geometry) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setGeometry(geometry);
  return field;
}

// The operator types at most one character into a letter field; a longer text
// that the program put there (a configuration file may hold one) stays whole
// until the operator shortens it.
QLineEdit* MakeLetterField(QWidget* parent, const char* name, QRect geometry) {
  QLineEdit* field = MakeField(parent, name, geometry);
  QFont font = field->font();
  font.setBold(true);
  field->setFont(font);
  field->setMaxLength(1);
  QObject::connect(field, &QLineEdit::textEdited, field,
                   [field](const QString& text) { field->setMaxLength(std::max<qsizetype>(1, text.size())); });
  return field;
}

// The label's marked letter leads to the control, and the control carries a
// name for a screen reader (a list would otherwise be named by its value).
void Name(QLabel* label, QWidget* control, const char* name) {
  label->setBuddy(control);
  control->setAccessibleName(QString::fromUtf8(name));
}

}  // namespace

TForm2::TForm2(ProfileState& state, MessageBoxes& messages, std::function<void(const std::string&)> setProfileLabel,
               std::function<void()> writeConfig, QWidget* parent)
    : QDialog(parent),
      messages_(messages),
      setProfileLabel_(std::move(setProfileLabel)),
      form_(state, *this, std::move(writeConfig)) {
  NameListsByTheirOwnNames();
  setObjectName(QStringLiteral("TForm2"));
  setWindowTitle(QStringLiteral("Nastavitev parametrov"));
  setModal(true);
  resize(259, 348);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kNavy);
  setPalette(palette);

  // Each field is reached with Alt and the marked letter of its label, and a
  // screen reader names it by its label.
  const QColor white(Qt::white);
  QLabel* listLabel = MakeLabel(this, QStringLiteral("&SEZNAM TEČAJNIC"), 16, 8, 227, white);
  cbTecajnice = new QComboBox(this);
  cbTecajnice->setObjectName(QStringLiteral("cbTecajnice"));
  cbTecajnice->setEditable(false);
  cbTecajnice->setGeometry(16, 26, 227, 22);
  Name(listLabel, cbTecajnice, "Seznam tečajnic");

  QLabel* nameLabel = MakeLabel(this, QStringLiteral("&TEČAJNICA"), 16, 56, 227, white);
  eTecajnica = MakeField(this, "eTecajnica", {16, 74, 227, 21});
  Name(nameLabel, eTecajnica, "Tečajnica");

  QLabel* rowLabel = MakeLabel(this, QStringLiteral("&ZAČETNA  VRSTICA"), 16, 104, 227, white);
  eZacetnaVrstica = MakeField(this, "eZacetnaVrstica", {16, 122, 80, 21});
  Name(rowLabel, eZacetnaVrstica, "Začetna vrstica");

  MakeLabel(this, QStringLiteral("KOLONE V EXCELU S PODATKI:"), 16, 154, 227, QColor(Qt::yellow));
  // The letter fields side by side, in the order of the column table.
  for (std::size_t i = 0; i < kProfileColumns.size(); ++i) {
    const ProfileColumn& column = kProfileColumns[i];
    const int left = 16 + 58 * static_cast<int>(i);
    letterFields_[i] = MakeLetterField(this, column.fieldName, {left, 194, 40, 24});
    QLabel* label = MakeLabel(this, FromCp1250(column.label), left, 176, 52, white);
    label->setBuddy(letterFields_[i]);
    letterFields_[i]->setAccessibleName(FromCp1250(column.spokenName));
  }

  btnBrisi = MakeButton(this, "btnBrisi", QStringLiteral("&Briši"), {16, 236, 108, 28});
  btnAzuriraj = MakeButton(this, "btnAzuriraj", QStringLiteral("Dodaj &novo"), {135, 236, 108, 28});
  btnPotrdi = MakeButton(this, "btnPotrdi", QStringLiteral("Za&ključi"), {16, 280, 227, 32});

  connect(cbTecajnice, &QComboBox::activated, this, [this](int) { cbTecajniceSelect(); });
  connect(btnAzuriraj, &QPushButton::clicked, this, [this] { btnAzurirajClick(); });
  connect(btnBrisi, &QPushButton::clicked, this, [this] { btnBrisiClick(); });
  connect(btnPotrdi, &QPushButton::clicked, this, [this] { btnPotrdiClick(); });
}


void TForm2::Open() { form_.Open(); }

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Without a window manager a window that opens is not given the keyboard.
  activateWindow();
}

void TForm2::cbTecajniceSelect() {
  messages_.Guarded([this] { form_.cbTecajniceSelect(); });
}

void TForm2::btnAzurirajClick() {
  messages_.Guarded([this] { form_.btnAzurirajClick(); });
}

void TForm2::btnBrisiClick() {
  messages_.Guarded([this] { form_.btnBrisiClick(); });
}

void TForm2::btnPotrdiClick() {
  messages_.Guarded([this] { form_.btnPotrdiClick(); });
}

QLineEdit* TForm2::Field(ParameterField field) const {
  if (field == ParameterField::Tecajnica) return eTecajnica;
  if (field == ParameterField::ZacetnaVrstica) return eZacetnaVrstica;
  return letterFields_[static_cast<std::size_t>(field) - static_cast<std::size_t>(ParameterField::Datum)];
}

std::string TForm2::FieldText(ParameterField field) const { return ToCp1250(Field(field)->text()); }

void TForm2::SetFieldText(ParameterField field, const std::string& text) {
  QLineEdit* edit = Field(field);
  const QString value = FromCp1250(text);
  if (edit->maxLength() < 32767) edit->setMaxLength(std::max<qsizetype>(1, value.size()));
  edit->setText(value);
}

void TForm2::ClearList() { cbTecajnice->clear(); }

void TForm2::AddListItem(const std::string& text) {
  const int chosen = cbTecajnice->currentIndex();
  cbTecajnice->addItem(FromCp1250(text));
  // Adding to an empty list must not choose the item on its own.
  cbTecajnice->setCurrentIndex(chosen);
}

void TForm2::RemoveListItem(int item) { cbTecajnice->removeItem(item); }

int TForm2::ListItemCount() const { return cbTecajnice->count(); }

std::string TForm2::ListItemText(int item) const { return ToCp1250(cbTecajnice->itemText(item)); }

int TForm2::ChosenListItem() const { return cbTecajnice->currentIndex(); }

void TForm2::ChooseListItem(int item) { cbTecajnice->setCurrentIndex(item); }

void TForm2::ShowMessage(const std::string& text) { messages_.ShowMessage(text); }

void TForm2::SetProfileLabel(const std::string& name) { setProfileLabel_(name); }

void TForm2::CloseWindow() { accept(); }

}  // namespace ratemover::desktop
