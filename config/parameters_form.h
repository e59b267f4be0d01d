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

enum class ParameterField { Tecajnica, ZacetnaVrstica, Datum, Simbol, Tecaj, Indeks };

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

// The messages of the window's checks (Windows-1250).
namespace parameter_messages {
extern const char* const kDatumKolona;
extern const char* const kSimbolKolona;
extern const char* const kTecajKolona;
extern const char* const kDatumTecaj;
extern const char* const kDatumSimbol;
extern const char* const kTecajSimbol;
extern const char* const kTecajIndeks;
extern const char* const kDatumIndeks;
extern const char* const kIndeksSimbol;
extern const char* const kIzberiTecajnico;
extern const char* const kDodajVsajEno;
extern const char* const kSeznamPoln;
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
  bool CheckLetters(bool withIndex);
  void TakeFieldsIntoCurrent();
  std::int32_t ChosenSlot() const;

  ProfileState& state_;
  ParametersView& view_;
  std::function<void()> writeConfig_;
  std::vector<std::int32_t> itemSlots_;
};

}  // namespace ratemover
