#pragma once
// The parameters window without its toolkit: the handlers of "Nastavitev
// parametrov" with their checks and messages, working on the profile state
// through a small view of the window's fields and list.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/profile_table.h"

namespace ratemover {

// The name field, the start row field, then the letter field of each profile
// column in the order of the column table.
enum class ParameterField { Tecajnica, ZacetnaVrstica, Datum, Simbol, Tecaj, Indeks };

// The letter field of a profile column.
constexpr ParameterField LetterField(Column column) {
  return static_cast<ParameterField>(static_cast<int>(ParameterField::Datum) + static_cast<int>(column));
}
static_assert(LetterField(Column::Index) == ParameterField::Indeks, "one letter field for each profile column");

// What the handlers need of the window. Texts are Windows-1250; list items are
// counted from 0, and -1 means that no item is chosen.
class ParametersView {
 public:
  virtual ~ParametersView() = default;

  virtual std::string FieldText(ParameterField field) const = 0;
  virtual void SetFieldText(ParameterField field, const std::string& text) = 0;

  virtual void ClearList() = 0;
  virtual void AddListItem(const std::string& text) = 0;
  virtual void RemoveListItem(int item) = 0;
  virtual int ListItemCount() const = 0;
  virtual std::string ListItemText(int item) const = 0;
  virtual int ChosenListItem() const = 0;
  virtual void ChooseListItem(int item) = 0;  // -1 chooses none

  // A modal message with one OK button (a lone CR is a line break).
  virtual void ShowMessage(const std::string& text) = 0;
  // The main window's profile label.
  virtual void SetProfileLabel(const std::string& name) = 0;
  // Closes the window after "Zaključi".
  virtual void CloseWindow() = 0;
};

// The messages of the window's checks (Windows-1250); a letter field's own
// message stands in the column table.
namespace parameter_messages {
extern const char* const kDateAndPrice;
extern const char* const kDateAndSymbol;
extern const char* const kPriceAndSymbol;
extern const char* const kPriceAndIndex;
extern const char* const kDateAndIndex;
extern const char* const kIndexAndSymbol;
extern const char* const kChooseProfile;
extern const char* const kAddAProfile;
extern const char* const kTableFull;
}  // namespace parameter_messages

// The handlers. Each list item stands for one slot of the table: the form keeps
// the slot number of every item, so that choosing, updating and deleting always
// reach the slot whose name the operator sees, also after deletions. Of two
// items with the same name, choosing either selects the first.
class ParametersForm {
 public:
  // writeConfig writes the configuration file; it throws when that fails.
  ParametersForm(ProfileState& state, ParametersView& view, std::function<void()> writeConfig);

  // Fills the list and the fields before the window is shown.
  void Open();
  // The operator chose a list item.
  void cbTecajniceSelect();
  // "Dodaj novo"
  void btnAzurirajClick();
  // "Briši"
  void btnBrisiClick();
  // "Zaključi"; a failure to write the configuration is thrown with the profile
  // already stored in memory and the window left open.
  void btnPotrdiClick();

  // The slot of each list item, in list order.
  const std::vector<std::int32_t>& ItemSlots() const { return itemSlots_; }

 private:
  void FillFieldsFromCurrent();
  bool CheckLetters(bool onClose);
  void TakeFieldsIntoCurrent();
  std::int32_t ChosenSlot() const;

  ProfileState& state_;
  ParametersView& view_;
  std::function<void()> writeConfig_;
  std::vector<std::int32_t> itemSlots_;
};

}  // namespace ratemover
