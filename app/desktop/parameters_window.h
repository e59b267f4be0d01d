#pragma once
// The parameters window TForm2, "Nastavitev parametrov": the profile list, the
// name, start row and column letter fields and the three buttons. Its handlers'
// rules live in ParametersForm; this is the window around them.
#include <QDialog>

#include <array>
#include <functional>
#include <string>

#include "app/desktop/desktop_services.h"
#include "config/parameters_form.h"
#include "config/profile_table.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace ratemover::desktop {

class TForm2 final : public QDialog, public ParametersView {
 public:
  TForm2(ProfileState& state, MessageBoxes& messages, std::function<void(const std::string&)> setProfileLabel,
         std::function<void()> writeConfig, QWidget* parent);

  // Fills the window from the table and the current profile (then the main
  // window shows it modally).
  void Open();

  void cbTecajniceSelect();
  void btnAzurirajClick();
  void btnBrisiClick();
  void btnPotrdiClick();

  const ParametersForm& Form() const { return form_; }

  // ParametersView
  std::string FieldText(ParameterField field) const override;
  void SetFieldText(ParameterField field, const std::string& text) override;
  void ClearList() override;
  void AddListItem(const std::string& text) override;
  void RemoveListItem(int item) override;
  int ListItemCount() const override;
  std::string ListItemText(int item) const override;
  int ChosenListItem() const override;
  void ChooseListItem(int item) override;
  void ShowMessage(const std::string& text) override;
  void SetProfileLabel(const std::string& name) override;
  void CloseWindow() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* Field(ParameterField field) const;

  MessageBoxes& messages_;
  std::function<void(const std::string&)> setProfileLabel_;
  ParametersForm form_;

  QComboBox* cbTecajnice = nullptr;
  QLineEdit* eTecajnica = nullptr;
  QLineEdit* eZacetnaVrstica = nullptr;
  // eDatum, eSimbol, eTecaj and eIndeks: one letter field for each profile column
  std::array<QLineEdit*, kProfileColumns.size()> letterFields_{};
  QPushButton* btnBrisi = nullptr;
  QPushButton* btnAzuriraj = nullptr;
  QPushButton* btnPotrdi = nullptr;
};

}  // namespace ratemover::desktop
