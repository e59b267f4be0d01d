#include "config/parameters_form.h"

#include <utility>

#include "common/text.h"
#include "config/name_folding.h"

namespace ratemover {

// Windows-1250: \xE8 is č. Literals are split after each escape so that a
// following hex letter is not swallowed by it.
namespace parameter_messages {
const char* const kDateAndPrice = "Datum in te\xE8" "aj ne moreta biti v isti koloni!";
const char* const kDateAndSymbol = "Datum in simbol ne moreta biti v isti koloni!";
const char* const kPriceAndSymbol = "Te\xE8" "aj in simbol ne moreta biti v isti koloni!";
const char* const kPriceAndIndex = "Tecaj in indeks ne moreta biti v isti koloni!";
const char* const kDateAndIndex = "Datum in indeks ne moreta biti v isti koloni!";
const char* const kIndexAndSymbol = "Indeks in simbol ne moreta biti v isti koloni!";
const char* const kChooseProfile = "Izberi polno te\xE8" "ajnico ali eno dodaj!";
const char* const kAddAProfile = "Dodaj vsaj eno te\xE8" "ajnico!";
const char* const kTableFull =
    "Seznam te\xE8" "ajnic je poln! Ve\xE8" " kot 3000 te\xE8" "ajnic ni mogo\xE8" "e dodati.";
}  // namespace parameter_messages

namespace {

bool IsColumnLetter(const std::string& text) { return ColumnNumberOf(text) != 0; }

bool SameColumn(const std::string& a, const std::string& b) { return AsciiUpper(a) == AsciiUpper(b); }

// Two letter fields that must name different columns, in the order of the
// checks. A pair with a column whose field may hold anything is checked only
// by "Zaključi".
struct ColumnPair {
  Column first;
  Column second;
  const char* message;
};

const ColumnPair kColumnPairs[] = {
    {Column::Date, Column::Price, parameter_messages::kDateAndPrice},
    {Column::Price, Column::Index, parameter_messages::kPriceAndIndex},
    {Column::Date, Column::Index, parameter_messages::kDateAndIndex},
    {Column::Date, Column::Symbol, parameter_messages::kDateAndSymbol},
    {Column::Price, Column::Symbol, parameter_messages::kPriceAndSymbol},
    {Column::Index, Column::Symbol, parameter_messages::kIndexAndSymbol},
};

bool MustBeLetter(Column column) { return ProfileColumnOf(column).notALetter != nullptr; }

// A stored profile takes the start row and the column letters; it keeps its name.
void StoreColumns(const Tecajnica& from, Tecajnica& entry) {
  entry.startRow = from.startRow;
  for (const ProfileColumn& column : kProfileColumns) entry.*column.letter = from.*column.letter;
}

}  // namespace

ParametersForm::ParametersForm(ProfileState& state, ParametersView& view, std::function<void()> writeConfig)
    : state_(state), view_(view), writeConfig_(std::move(writeConfig)) {}

void ParametersForm::FillFieldsFromCurrent() {
  const Tecajnica& current = state_.current;
  view_.SetFieldText(ParameterField::Tecajnica, current.name);
  view_.SetFieldText(ParameterField::ZacetnaVrstica, DecimalText(current.startRow));
  for (const ProfileColumn& column : kProfileColumns) {
    view_.SetFieldText(LetterField(column.column), current.*column.letter);
  }
}

std::int32_t ParametersForm::ChosenSlot() const {
  const int item = view_.ChosenListItem();
  if (item < 0 || static_cast<std::size_t>(item) >= itemSlots_.size()) return 0;
  return itemSlots_[static_cast<std::size_t>(item)];
}

void ParametersForm::Open() {
  view_.ClearList();
  itemSlots_.clear();
  for (std::int32_t slot = 1; slot <= state_.table.count; ++slot) {
    const std::string& name = state_.table.Slot(slot).name;
    if (IsBlank(name)) continue;
    view_.AddListItem(name);
    itemSlots_.push_back(slot);
  }
  FillFieldsFromCurrent();
  // The item of the selected slot is the chosen one; a selection that names no
  // listed slot chooses none.
  int chosen = -1;
  for (std::size_t item = 0; item < itemSlots_.size(); ++item) {
    if (itemSlots_[item] == state_.table.selected) {
      chosen = static_cast<int>(item);
      break;
    }
  }
  view_.ChooseListItem(chosen);
}

void ParametersForm::cbTecajniceSelect() {
  int item = view_.ChosenListItem();
  if (item < 0 || static_cast<std::size_t>(item) >= itemSlots_.size()) return;
  // Of several items of one name, the first stands for them all; it becomes the
  // chosen one, so that the chosen item and the selected slot stay in step.
  const std::string name = view_.ListItemText(item);
  for (int earlier = 0; earlier < item; ++earlier) {
    if (view_.ListItemText(earlier) == name) {
      item = earlier;
      view_.ChooseListItem(item);
      break;
    }
  }
  const std::int32_t slot = itemSlots_[static_cast<std::size_t>(item)];
  state_.table.selected = slot;
  state_.current = state_.table.Slot(slot);
  FillFieldsFromCurrent();
  view_.SetProfileLabel(state_.current.name);
}

// The letter checks shared by "Dodaj novo" and "Zaključi"; a column whose
// field may hold anything takes part only in the latter's pair checks. Shows
// the first failure.
bool ParametersForm::CheckLetters(bool onClose) {
  const auto letter = [this](Column column) { return view_.FieldText(LetterField(column)); };
  const char* failure = nullptr;
  for (const ProfileColumn& column : kProfileColumns) {
    if (column.notALetter != nullptr && !IsColumnLetter(letter(column.column))) {
      failure = column.notALetter;
      break;
    }
  }
  for (const ColumnPair& pair : kColumnPairs) {
    if (failure != nullptr) break;
    if (!onClose && !(MustBeLetter(pair.first) && MustBeLetter(pair.second))) continue;
    if (SameColumn(letter(pair.first), letter(pair.second))) failure = pair.message;
  }
  if (failure == nullptr) return true;
  view_.ShowMessage(failure);
  return false;
}

// The folded name goes back into its field; the start row is taken only when
// the field holds a whole number; the letters are taken as typed.
void ParametersForm::TakeFieldsIntoCurrent() {
  const std::string folded = BrezSumnikov(view_.FieldText(ParameterField::Tecajnica));
  view_.SetFieldText(ParameterField::Tecajnica, folded);
  Tecajnica& current = state_.current;
  current.name = folded;
  if (const auto row = ReadWholeNumber(view_.FieldText(ParameterField::ZacetnaVrstica))) current.startRow = *row;
  for (const ProfileColumn& column : kProfileColumns) {
    current.*column.letter = view_.FieldText(LetterField(column.column));
  }
}

void ParametersForm::btnAzurirajClick() {
  if (!CheckLetters(false)) return;

  const std::string folded = BrezSumnikov(view_.FieldText(ParameterField::Tecajnica));
  int listed = -1;
  for (int item = 0; item < view_.ListItemCount(); ++item) {
    if (EnakaImena(view_.ListItemText(item), folded)) {
      listed = item;
      break;
    }
  }
  if (listed < 0 && state_.table.count >= kProfileSlots) {
    view_.ShowMessage(parameter_messages::kTableFull);
    return;
  }

  TakeFieldsIntoCurrent();
  const Tecajnica& current = state_.current;
  if (listed < 0) {
    view_.AddListItem(current.name);
    state_.table.count += 1;
    state_.table.Slot(state_.table.count) = current;
    itemSlots_.push_back(state_.table.count);
    view_.ChooseListItem(static_cast<int>(itemSlots_.size()) - 1);
    state_.table.selected = state_.table.count;
  } else {
    // The listed profile of that name takes the fields and keeps its stored
    // name; it becomes the chosen one, whichever item was chosen before.
    const std::int32_t slot = itemSlots_[static_cast<std::size_t>(listed)];
    StoreColumns(current, state_.table.Slot(slot));
    view_.ChooseListItem(listed);
    state_.table.selected = slot;
  }
  view_.SetProfileLabel(current.name);
}

void ParametersForm::btnBrisiClick() {
  const int item = view_.ChosenListItem();
  const std::int32_t slot = ChosenSlot();
  if (slot == 0) return;  // nothing chosen, nothing to delete
  state_.table.Slot(slot).name.clear();
  state_.current.name.clear();
  view_.SetFieldText(ParameterField::Tecajnica, std::string());
  view_.RemoveListItem(item);
  itemSlots_.erase(itemSlots_.begin() + item);
  view_.ChooseListItem(-1);
}

void ParametersForm::btnPotrdiClick() {
  namespace m = parameter_messages;
  if (IsBlank(view_.FieldText(ParameterField::Tecajnica))) {
    view_.ShowMessage(m::kChooseProfile);
    return;
  }
  if (view_.ListItemCount() == 0) {
    view_.ShowMessage(m::kAddAProfile);
    return;
  }
  const int item = view_.ChosenListItem();
  if (item < 0 || IsBlank(view_.ListItemText(item))) {
    view_.ShowMessage(m::kChooseProfile);
    return;
  }
  if (!CheckLetters(true)) return;

  TakeFieldsIntoCurrent();
  const std::int32_t slot = ChosenSlot();
  if (slot != 0) StoreColumns(state_.current, state_.table.Slot(slot));
  writeConfig_();
  view_.CloseWindow();
}

}  // namespace ratemover
