// The parameters window's rules, through a recorded window.
#include "config/parameters_form.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace ratemover {
namespace {

namespace m = parameter_messages;

// The letter fields' own messages, as the operator reads them.
const char* const kDateNotALetter = "Datum ni v pravilni koloni! (A, B, C, ..)";
const char* const kSymbolNotALetter = "Simbol ni v pravilni koloni! (A, B, C, ..)";
const char* const kPriceNotALetter = "Tecaj ni v pravilni koloni! (A, B, C, ..)";

class FakeView final : public ParametersView {
 public:
  std::string FieldText(ParameterField field) const override {
    const auto it = fields.find(field);
    return it == fields.end() ? std::string() : it->second;
  }
  void SetFieldText(ParameterField field, const std::string& text) override { fields[field] = text; }
  void ClearList() override {
    items.clear();
    chosen = -1;
  }
  void AddListItem(const std::string& text) override { items.push_back(text); }
  void RemoveListItem(int item) override {
    items.erase(items.begin() + item);
    if (chosen >= static_cast<int>(items.size())) chosen = static_cast<int>(items.size()) - 1;
  }
  int ListItemCount() const override { return static_cast<int>(items.size()); }
  std::string ListItemText(int item) const override { return items.at(static_cast<std::size_t>(item)); }
  int ChosenListItem() const override { return chosen; }
  void ChooseListItem(int item) override { chosen = item; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void SetProfileLabel(const std::string& name) override { labels.push_back(name); }
  void CloseWindow() override { ++closed; }

  void SetLetters(const std::string& datum, const std::string& simbol, const std::string& tecaj,
                  const std::string& indeks) {
    fields[ParameterField::Datum] = datum;
    fields[ParameterField::Simbol] = simbol;
    fields[ParameterField::Tecaj] = tecaj;
    fields[ParameterField::Indeks] = indeks;
  }

  std::map<ParameterField, std::string> fields;
  std::vector<std::string> items;
  int chosen = -1;
  std::vector<std::string> messages;
  std::vector<std::string> labels;
  int closed = 0;
};

Tecajnica Profile(const std::string& name, std::int32_t row, const std::string& d, const std::string& s,
                  const std::string& t, const std::string& i = "") {
  Tecajnica p;
  p.name = name;
  p.startRow = row;
  p.date = d;
  p.symbol = s;
  p.price = t;
  p.index = i;
  return p;
}

struct Fixture {
  explicit Fixture(std::vector<Tecajnica> profiles, std::int32_t selected) {
    for (const auto& p : profiles) state.table.Slot(++state.table.count) = p;
    state.table.selected = selected;
    if (state.table.SelectsEntry()) state.current = state.table.Slot(selected);
    form.Open();
  }
  ProfileState state;
  FakeView view;
  int writes = 0;
  bool failWrite = false;
  ParametersForm form{state, view, [this] {
                        ++writes;
                        if (failWrite) throw std::runtime_error("disk full");
                      }};
};

std::vector<Tecajnica> ThreeProfiles() {
  return {Profile("LJSE", 2, "A", "B", "D"), Profile("NLB", 5, "C", "D", "E", "F"), Profile("KDD", 3, "B", "C", "E")};
}

TEST(ParametersFormOpen, ListsNamedSlotsAndChoosesTheSelectedOne) {
  std::vector<Tecajnica> profiles = ThreeProfiles();
  profiles.insert(profiles.begin() + 1, Profile("  ", 9, "X", "Y", "W"));  // a deleted entry
  Fixture f(profiles, 3);                                                   // slot 3 is NLB
  EXPECT_EQ(f.view.items, (std::vector<std::string>{"LJSE", "NLB", "KDD"}));
  EXPECT_EQ(f.form.ItemSlots(), (std::vector<std::int32_t>{1, 3, 4}));
  EXPECT_EQ(f.view.chosen, 1);
  EXPECT_EQ(f.view.FieldText(ParameterField::Tecajnica), "NLB");
  EXPECT_EQ(f.view.FieldText(ParameterField::ZacetnaVrstica), "5");
  EXPECT_EQ(f.view.FieldText(ParameterField::Indeks), "F");
}

TEST(ParametersFormOpen, SelectionNamingNoListedSlotChoosesNothing) {
  for (std::int32_t selected : {0, -1, 4, 3000}) {
    Fixture f(ThreeProfiles(), selected);
    EXPECT_EQ(f.view.chosen, -1) << selected;
  }
  Fixture blank({Profile("A", 2, "A", "B", "D"), Profile("", 2, "A", "B", "D")}, 2);
  EXPECT_EQ(blank.view.chosen, -1);
}

TEST(ParametersFormSelect, ChoosingAnItemMakesItsSlotCurrent) {
  Fixture f(ThreeProfiles(), 1);
  f.view.chosen = 2;
  f.form.cbTecajniceSelect();
  EXPECT_EQ(f.state.table.selected, 3);
  EXPECT_EQ(f.state.current, Profile("KDD", 3, "B", "C", "E"));
  EXPECT_EQ(f.view.FieldText(ParameterField::ZacetnaVrstica), "3");
  EXPECT_EQ(f.view.FieldText(ParameterField::Datum), "B");
  EXPECT_EQ(f.view.labels, (std::vector<std::string>{"KDD"}));
}

TEST(ParametersFormSelect, OfTwoItemsWithOneNameEitherSelectsTheFirst) {
  Fixture f({Profile("X", 2, "A", "B", "D"), Profile("X", 7, "E", "F", "G")}, 1);
  f.view.chosen = 1;
  f.form.cbTecajniceSelect();
  EXPECT_EQ(f.state.table.selected, 1);
  EXPECT_EQ(f.state.current, Profile("X", 2, "A", "B", "D"));
  EXPECT_EQ(f.view.chosen, 0);  // the chosen item follows the selected slot
  EXPECT_EQ(f.view.FieldText(ParameterField::ZacetnaVrstica), "2");
  // deleting now removes the first slot's item, the second stays listed and reachable
  f.form.btnBrisiClick();
  EXPECT_EQ(f.state.table.Slot(1).name, "");
  EXPECT_EQ(f.view.items, (std::vector<std::string>{"X"}));
  f.view.chosen = 0;
  f.form.cbTecajniceSelect();
  EXPECT_EQ(f.state.table.selected, 2);
}

struct LetterCase {
  const char* date;
  const char* symbol;
  const char* price;
  const char* index;
  const char* addMessage;     // "Dodaj novo"; nullptr when it passes
  const char* finishMessage;  // "Zaključi"; nullptr when it passes
};

const LetterCase kLetterCases[] = {
    {"", "B", "D", "", kDateNotALetter, kDateNotALetter},
    {"Z", "B", "D", "", kDateNotALetter, kDateNotALetter},
    {"1", "B", "D", "", kDateNotALetter, kDateNotALetter},
    {"\xE8", "B", "D", "", kDateNotALetter, kDateNotALetter},  // č is no column
    {"A", "", "D", "", kSymbolNotALetter, kSymbolNotALetter},
    {"A", "z", "D", "", kSymbolNotALetter, kSymbolNotALetter},
    {"A", "B", "", "", kPriceNotALetter, kPriceNotALetter},
    {"Z", "Z", "Z", "Z", kDateNotALetter, kDateNotALetter},
    {"a", "B", "A", "", m::kDateAndPrice, m::kDateAndPrice},
    {"A", "A", "A", "A", m::kDateAndPrice, m::kDateAndPrice},
    {"A", "a", "D", "", m::kDateAndSymbol, m::kDateAndSymbol},
    {"A", "D", "d", "", m::kPriceAndSymbol, m::kPriceAndSymbol},
    {"A", "B", "D", "d", nullptr, m::kPriceAndIndex},
    {"A", "B", "D", "a", nullptr, m::kDateAndIndex},
    {"A", "B", "D", "b", nullptr, m::kIndexAndSymbol},
    {"A", "A", "D", "D", m::kDateAndSymbol, m::kPriceAndIndex},  // the index pairs come first on "Zaključi"
    {"A", "B", "D", "", nullptr, nullptr},
    {"A", "B", "D", "#", nullptr, nullptr},  // the index column is not held against the letters
    {"y", "x", "w", "Z", nullptr, nullptr},
    {"AB", "B", "A", "", nullptr, nullptr},  // whole texts differ
};

TEST(ParametersFormChecks, DodajNovoChecksLettersInOrderAndChangesNothingOnFailure) {
  for (const LetterCase& c : kLetterCases) {
    Fixture f(ThreeProfiles(), 1);
    const ProfileState before = f.state;
    f.view.fields[ParameterField::Tecajnica] = "NOVA \xE8";
    f.view.SetLetters(c.date, c.symbol, c.price, c.index);
    f.form.btnAzurirajClick();
    const std::string where = std::string(c.date) + "|" + c.symbol + "|" + c.price + "|" + c.index;
    if (c.addMessage == nullptr) {
      EXPECT_TRUE(f.view.messages.empty()) << where;
      EXPECT_EQ(f.state.table.count, 4) << where;
    } else {
      EXPECT_EQ(f.view.messages, (std::vector<std::string>{c.addMessage})) << where;
      EXPECT_EQ(f.state.table.count, before.table.count) << where;
      EXPECT_EQ(f.state.current, before.current) << where;
      EXPECT_EQ(f.view.FieldText(ParameterField::Tecajnica), "NOVA \xE8") << where;
      EXPECT_EQ(f.view.items.size(), 3u) << where;
    }
  }
}

TEST(ParametersFormChecks, ZakljuciChecksLettersInOrderAndWritesOnlyWhenAllPass) {
  for (const LetterCase& c : kLetterCases) {
    Fixture f(ThreeProfiles(), 2);
    const Tecajnica slotBefore = f.state.table.Slot(2);
    f.view.SetLetters(c.date, c.symbol, c.price, c.index);
    f.form.btnPotrdiClick();
    const std::string where = std::string(c.date) + "|" + c.symbol + "|" + c.price + "|" + c.index;
    if (c.finishMessage == nullptr) {
      EXPECT_TRUE(f.view.messages.empty()) << where;
      EXPECT_EQ(f.writes, 1) << where;
      EXPECT_EQ(f.view.closed, 1) << where;
      EXPECT_EQ(f.state.table.Slot(2).date, c.date) << where;
    } else {
      EXPECT_EQ(f.view.messages, (std::vector<std::string>{c.finishMessage})) << where;
      EXPECT_EQ(f.writes, 0) << where;
      EXPECT_EQ(f.view.closed, 0) << where;
      EXPECT_EQ(f.state.table.Slot(2), slotBefore) << where;
    }
  }
}

TEST(ParametersFormChecks, ZakljuciNeedsANameAListAndAChosenItem) {
  struct Case {
    std::vector<Tecajnica> profiles;
    std::int32_t selected;
    std::string name;
    const char* message;
  };
  const Case cases[] = {
      {ThreeProfiles(), 1, " \t ", m::kChooseProfile},
      {{}, 0, "", m::kChooseProfile},            // the name comes first
      {{}, 0, "NOVA", m::kAddAProfile},           // an empty table
      {ThreeProfiles(), 0, "NOVA", m::kChooseProfile},  // nothing chosen since opening
      {ThreeProfiles(), 7, "LJSE", m::kChooseProfile},
  };
  for (const Case& c : cases) {
    Fixture f(c.profiles, c.selected);
    f.view.fields[ParameterField::Tecajnica] = c.name;
    f.view.SetLetters("A", "B", "D", "");
    f.form.btnPotrdiClick();
    EXPECT_EQ(f.view.messages, (std::vector<std::string>{c.message})) << c.name;
    EXPECT_EQ(f.writes, 0);
  }
}

TEST(ParametersFormAdd, NewNameIsFoldedAddedChosenAndSelected) {
  Fixture f(ThreeProfiles(), 1);
  // "Tečajnica ŠŽĆĐ"
  f.view.fields[ParameterField::Tecajnica] = "Te\xE8" "ajnica \x8A\x8E\xC6\xD0";
  f.view.fields[ParameterField::ZacetnaVrstica] = " 12";
  f.view.SetLetters("c", "B", "E", "");
  f.form.btnAzurirajClick();
  const std::string folded = "Tecajnica SZCD";
  EXPECT_TRUE(f.view.messages.empty());
  EXPECT_EQ(f.view.FieldText(ParameterField::Tecajnica), folded);
  EXPECT_EQ(f.view.items.back(), folded);
  EXPECT_EQ(f.view.chosen, 3);
  EXPECT_EQ(f.state.table.count, 4);
  EXPECT_EQ(f.state.table.selected, 4);
  EXPECT_EQ(f.state.table.Slot(4), Profile(folded, 12, "c", "B", "E"));  // letters as typed
  EXPECT_EQ(f.state.current, f.state.table.Slot(4));
  EXPECT_EQ(f.view.labels.back(), folded);
  EXPECT_EQ(f.writes, 0);
  EXPECT_EQ(f.view.closed, 0);
}

TEST(ParametersFormAdd, StartRowThatIsNoNumberKeepsTheCurrentOne) {
  for (const char* text : {"", "abc", "12x", "99999999999"}) {
    Fixture f(ThreeProfiles(), 2);  // NLB, start row 5
    f.view.fields[ParameterField::Tecajnica] = "NOVA";
    f.view.fields[ParameterField::ZacetnaVrstica] = text;
    f.view.SetLetters("A", "B", "D", "");
    f.form.btnAzurirajClick();
    EXPECT_EQ(f.state.table.Slot(4).startRow, 5) << text;
  }
  Fixture hex(ThreeProfiles(), 2);
  hex.view.fields[ParameterField::Tecajnica] = "NOVA";
  hex.view.fields[ParameterField::ZacetnaVrstica] = "$10";
  hex.view.SetLetters("A", "B", "D", "");
  hex.form.btnAzurirajClick();
  EXPECT_EQ(hex.state.table.Slot(4).startRow, 16);
}

TEST(ParametersFormAdd, ListedNameUpdatesThatProfileAndKeepsItsStoredName) {
  struct Case {
    std::int32_t selected;
    std::string typed;
  };
  // Case and surrounding blanks do not make a new profile; the named profile is
  // updated whichever item was chosen, also when none was.
  for (const Case& c : {Case{2, "nlb"}, Case{2, "  Nlb  "}, Case{1, "NLB"}, Case{0, "NLB"}}) {
    Fixture f(ThreeProfiles(), c.selected);
    const Tecajnica ljse = f.state.table.Slot(1);
    f.view.fields[ParameterField::Tecajnica] = c.typed;
    f.view.fields[ParameterField::ZacetnaVrstica] = "8";
    f.view.SetLetters("H", "I", "J", "K");
    f.form.btnAzurirajClick();
    EXPECT_EQ(f.state.table.count, 3) << c.typed;
    EXPECT_EQ(f.view.items.size(), 3u) << c.typed;
    EXPECT_EQ(f.state.table.Slot(2), Profile("NLB", 8, "H", "I", "J", "K")) << c.typed;
    if (c.selected != 2) {
      EXPECT_EQ(f.state.table.Slot(1), ljse) << c.typed;
    }
    EXPECT_EQ(f.state.table.selected, 2) << c.typed;
    EXPECT_EQ(f.view.chosen, 1) << c.typed;
    EXPECT_EQ(f.state.current.name, c.typed) << c.typed;  // the current profile carries the typed name
    EXPECT_EQ(f.view.labels.back(), c.typed) << c.typed;
  }
}

TEST(ParametersFormAdd, FoldedNameNeverEqualsAListedNameWithCarons) {
  Fixture f({Profile("\xC8" "RKA", 2, "A", "B", "D")}, 1);  // "ČRKA" from an edited file
  f.view.fields[ParameterField::Tecajnica] = "\xE8" "rka";
  f.view.SetLetters("A", "B", "D", "");
  f.form.btnAzurirajClick();
  EXPECT_EQ(f.state.table.count, 2);
  EXPECT_EQ(f.view.items.back(), "crka");
}

TEST(ParametersFormAdd, EmptyNameAddsAnEmptyItem) {
  Fixture f(ThreeProfiles(), 1);
  f.view.fields[ParameterField::Tecajnica] = "";
  f.view.SetLetters("A", "B", "D", "");
  f.form.btnAzurirajClick();
  EXPECT_EQ(f.state.table.count, 4);
  EXPECT_EQ(f.view.items.back(), "");
  EXPECT_EQ(f.view.chosen, 3);
}

TEST(ParametersFormAdd, FullTableRefusesANewProfileButStillUpdatesAListedOne) {
  Fixture f({}, 0);
  for (std::int32_t n = 1; n <= kProfileSlots; ++n) f.state.table.Slot(n) = Profile("P" + std::to_string(n), 2, "A", "B", "D");
  f.state.table.count = kProfileSlots;
  f.state.table.selected = 1;
  f.form.Open();
  const Tecajnica currentBefore = f.state.current;
  f.view.fields[ParameterField::Tecajnica] = "NOVA";
  f.view.SetLetters("A", "B", "E", "");
  f.form.btnAzurirajClick();
  EXPECT_EQ(f.view.messages, (std::vector<std::string>{m::kTableFull}));
  EXPECT_EQ(f.state.table.count, kProfileSlots);
  EXPECT_EQ(f.view.items.size(), static_cast<std::size_t>(kProfileSlots));
  EXPECT_EQ(f.state.current, currentBefore);

  f.view.messages.clear();
  f.view.fields[ParameterField::Tecajnica] = "p3000";
  f.form.btnAzurirajClick();
  EXPECT_TRUE(f.view.messages.empty());
  EXPECT_EQ(f.state.table.Slot(kProfileSlots).price, "E");
  EXPECT_EQ(f.state.table.selected, kProfileSlots);
}

TEST(ParametersFormDelete, BlanksTheChosenSlotAndKeepsTheColumns) {
  Fixture f(ThreeProfiles(), 2);
  f.form.btnBrisiClick();
  EXPECT_EQ(f.state.table.Slot(2).name, "");
  EXPECT_EQ(f.state.table.Slot(2).date, "C");
  EXPECT_EQ(f.state.table.count, 3);
  EXPECT_EQ(f.state.current, Profile("", 5, "C", "D", "E", "F"));
  EXPECT_EQ(f.view.FieldText(ParameterField::Tecajnica), "");
  EXPECT_EQ(f.view.FieldText(ParameterField::Datum), "C");
  EXPECT_EQ(f.view.items, (std::vector<std::string>{"LJSE", "KDD"}));
  EXPECT_EQ(f.view.chosen, -1);
  EXPECT_TRUE(f.view.labels.empty());  // the main window keeps showing the old name
  EXPECT_EQ(f.writes, 0);

  // After the deletion each remaining item still reaches its own slot.
  f.view.chosen = 1;
  f.form.cbTecajniceSelect();
  EXPECT_EQ(f.state.table.selected, 3);
  EXPECT_EQ(f.state.current.name, "KDD");
  f.form.Open();
  EXPECT_EQ(f.view.items, (std::vector<std::string>{"LJSE", "KDD"}));
  EXPECT_EQ(f.view.chosen, 1);
}

TEST(ParametersFormDelete, NothingChosenDeletesNothing) {
  Fixture f(ThreeProfiles(), 0);
  const ProfileState before = f.state;
  f.form.btnBrisiClick();
  EXPECT_TRUE(f.state.table.SameSlots(before.table));
  EXPECT_EQ(f.state.current, before.current);
  EXPECT_EQ(f.view.items.size(), 3u);
}

TEST(ParametersFormFinish, StoresColumnsIntoTheChosenSlotKeepingItsName) {
  Fixture f(ThreeProfiles(), 3);
  f.view.fields[ParameterField::Tecajnica] = "Druga \x9A" "ola";  // "Druga šola"
  f.view.fields[ParameterField::ZacetnaVrstica] = "4";
  f.view.SetLetters("a", "b", "c", "");
  f.form.btnPotrdiClick();
  EXPECT_EQ(f.state.table.Slot(3), Profile("KDD", 4, "a", "b", "c"));
  EXPECT_EQ(f.state.current, Profile("Druga sola", 4, "a", "b", "c"));
  EXPECT_EQ(f.view.FieldText(ParameterField::Tecajnica), "Druga sola");
  EXPECT_TRUE(f.view.labels.empty());
  EXPECT_EQ(f.writes, 1);
  EXPECT_EQ(f.view.closed, 1);
}

TEST(ParametersFormFinish, WriteFailureLeavesTheProfileStoredAndTheWindowOpen) {
  Fixture f(ThreeProfiles(), 1);
  f.failWrite = true;
  f.view.SetLetters("E", "F", "G", "");
  EXPECT_THROW(f.form.btnPotrdiClick(), std::runtime_error);
  EXPECT_EQ(f.state.table.Slot(1).date, "E");
  EXPECT_EQ(f.view.closed, 0);
}

}  // namespace
}  // namespace ratemover
