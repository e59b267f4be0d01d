// The main window through its real widgets, with the operator and the platform
// stood in for where a person would have to answer.
#include "app/desktop/main_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QShortcut>
#include <QTranslator>
#include <QTreeView>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/desktop/parameters_window.h"
#include "app/desktop/program_icon.h"
#include "app/desktop/widget_kit.h"
#include "app/desktop/workbook_dialog.h"
#include "app_test_support.h"
#include "common/program_dir.h"
#include "spreadsheet/memory_session.h"

namespace ratemover::desktop {
namespace {

using testing::CountingEnd;
using testing::kPatienceMs;
using testing::ListedNames;
using testing::PathIn;
using testing::ReadBytes;
using testing::RecordingMessages;
using testing::ScriptedPicker;
using testing::WhenModal;
using testing::WriteBytes;

std::string ConfigText(const std::string& workbook, const std::string& profileName = "LJSE") {
  return "[EXCEL_FORMAT]\r\n  DATOTEKA=" + workbook + "\r\n  IZBRANA_TECAJNICA=1\r\n  TECAJNICA=" + profileName +
         "\r\n    START_VRSTICA=2\r\n    DATUM=A\r\n    SIMBOL=B\r\n    TECAJ=D\r\n    INDEKS=\r\n";
}

// A session whose workbook cannot be opened at all: the run's unguarded failure.
class BrokenSession final : public spreadsheet::Session {
 public:
  bool OdpriExcel() override { return true; }
  void OdpriZvezek(const std::string&, bool) override { throw std::runtime_error("Zvezka ni mogo\xE8" "e odpreti"); }
  spreadsheet::CellText BeriCelico(std::int32_t, std::int32_t) override { return std::nullopt; }
  void ZapriExcel() noexcept override {}
};

struct Window {
  explicit Window(std::vector<std::string> arguments = {}, bool brokenSession = false,
                  MessageBoxes* realMessages = nullptr) {
    workbook = PathIn(dir, "cene.xls");
    WriteBytes(workbook, "not read: the memory session stands in for it");
    configPath = PathIn(dir, "Ratemover.CONF");
    config = ConfigText(workbook);
    WriteBytes(configPath, config);

    MainWindowSetup setup;
    setup.messages = realMessages != nullptr ? realMessages : &messages;
    setup.picker = &picker;
    setup.ending = &ending;
    setup.arguments = std::move(arguments);
    setup.configPath = configPath;
    setup.programDir = dir.path().toStdString() + "/";
    if (brokenSession) {
      setup.session = std::make_unique<BrokenSession>();
    } else {
      auto memory = std::make_unique<spreadsheet::MemorySession>();
      memory->SetCell(2, 1, "8.12.2026");
      memory->SetCell(2, 2, "KRKG");
      memory->SetCell(2, 4, "123,45");
      session = memory.get();
      setup.session = std::move(memory);
    }
    form = std::make_unique<TForm1>(std::move(setup));
  }

  template <typename T>
  T* Child(const char* name) const {
    return form->findChild<T*>(QString::fromLatin1(name));
  }
  std::string Rates() const { return PathIn(dir, "cene.ztr"); }
  bool ButtonsVisible() const {
    return !Child<QPushButton>("btnImport")->isHidden() && !Child<QPushButton>("btnKonec")->isHidden();
  }

  QTemporaryDir dir;
  std::string workbook;
  std::string configPath;
  std::string config;
  RecordingMessages messages;
  ScriptedPicker picker;
  CountingEnd ending;
  spreadsheet::MemorySession* session = nullptr;
  std::unique_ptr<TForm1> form;
};

TEST(MainWindowLayout, ControlsCarryTheirNamesTextsAndPlaces) {
  Window w;
  EXPECT_EQ(w.form->objectName(), "TForm1");
  EXPECT_EQ(w.form->windowTitle(), QStringLiteral("Ratemover - prepis tečajev iz XLS v ZTR (format 111)"));
  struct Control {
    const char* name;
    QString text;
    QRect design;
  };
  const Control controls[] = {
      {"lblTecajnica", QStringLiteral("TEČAJNICA"), {24, 24, 102, 20}},
      {"Label2", QStringLiteral("&Vhodna excel datoteka:"), {24, 56, 141, 16}},
      {"eDatoteka", QStringLiteral("TECAJI_PAPIRJEV.XLS"), {24, 80, 377, 21}},
      {"btnOdpri", QStringLiteral("..."), {408, 80, 25, 22}},
      {"btnImport", QStringLiteral("&Prepis"), {24, 128, 75, 25}},
      {"btnKonec", QStringLiteral("&Izhod"), {328, 128, 75, 25}},
      {"lblOpozorilo", QStringLiteral("IZVAJA SE PREPIS  ..."), {136, 136, 155, 16}},
      {"Label1", QStringLiteral("Verzija 3.4.0.0"), {24, 168, 171, 16}},
  };
  for (const Control& c : controls) {
    QWidget* widget = w.Child<QWidget>(c.name);
    ASSERT_NE(widget, nullptr) << c.name;
    EXPECT_EQ(widget->pos(), c.design.topLeft()) << c.name;
    EXPECT_GE(widget->width(), c.design.width()) << c.name;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      EXPECT_EQ(label->text(), c.text) << c.name;
      // No text is cut, whatever font stands in for the designed one.
      EXPECT_GE(label->width(), QFontMetrics(label->font()).horizontalAdvance(label->text())) << c.name;
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      EXPECT_EQ(button->text(), c.text) << c.name;
      EXPECT_EQ(widget->size(), c.design.size()) << c.name;
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      EXPECT_EQ(edit->text(), c.text) << c.name;
    }
  }
  EXPECT_TRUE(w.Child<QLabel>("lblOpozorilo")->isHidden());
  EXPECT_EQ(w.Child<QLabel>("lblOpozorilo")->palette().color(QPalette::WindowText), QColor(Qt::yellow));
  EXPECT_TRUE(w.Child<QLabel>("lblOpozorilo")->font().bold());
  EXPECT_EQ(w.Child<QLabel>("Label2")->palette().color(QPalette::WindowText), QColor(Qt::white));
  EXPECT_EQ(w.Child<QLabel>("lblTecajnica")->font().pixelSize(), 16);
  EXPECT_EQ(w.form->centralWidget()->palette().color(QPalette::Window), QColor(0, 0, 128));

  auto* menu = w.Child<QMenuBar>("MainMenu1");
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 1);
  EXPECT_EQ(menu->actions().first()->text(), "P&arametri");
  EXPECT_EQ(menu->actions().first()->objectName(), "Parametri1");
  EXPECT_EQ(menu->actions().first()->menu(), nullptr);
  // The parameters window exists from the start, hidden.
  EXPECT_TRUE(w.form->Form2().isHidden());
}

TEST(MainWindowLayout, ProfileNameFitsBesideTheDesignedControls) {
  struct Case {
    std::string name;
    bool shortened;
  };
  const Case cases[] = {
      {"LJSE", false},
      {std::string(60, 'W'), true},
      {"TE\xC8" "AJNICA LJUBLJANSKE BORZE VREDNOSTNIH PAPIRJEV, DELNICE IN OBVEZNICE", true},
      {"", false},
  };
  for (const Case& c : cases) {
    Window w;
    auto* label = w.Child<QLabel>("lblTecajnica");
    auto* picker = w.Child<QPushButton>("btnOdpri");
    const QRect pickerPlace = picker->geometry();
    const QSize windowSize = w.form->size();
    w.form->SetProfileLabel(c.name);
    const QString whole = FromCp1250(c.name);
    if (c.shortened) {
      EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << c.name;
      EXPECT_TRUE(whole.startsWith(label->text().chopped(1))) << c.name;
      EXPECT_EQ(label->toolTip(), whole) << c.name;
    } else {
      EXPECT_EQ(label->text(), whole) << c.name;
      EXPECT_TRUE(label->toolTip().isEmpty()) << c.name;
    }
    // Shown whole within the label, which ends where the "..." button ends.
    EXPECT_GE(label->width(), QFontMetrics(label->font()).horizontalAdvance(label->text())) << c.name;
    EXPECT_LE(label->geometry().right(), pickerPlace.right()) << c.name;
    EXPECT_EQ(picker->geometry(), pickerPlace) << c.name;
    EXPECT_EQ(w.form->size(), windowSize) << c.name;
  }
}

TEST(MainWindowLayout, WindowCarriesTheProgramIcon) {
  Window w;
  ASSERT_FALSE(w.form->windowIcon().isNull());
  EXPECT_EQ(w.form->windowIcon().pixmap(32, 32).toImage(), ProgramIcon().pixmap(32, 32).toImage());
}

TEST(RunModes, AutomaticArgumentRule) {
  const std::pair<const char*, bool> cases[] = {
      {"-a", true}, {"-A", true}, {"-Auto", true}, {"-ab", true}, {"-A:x", true},
      {"-", false}, {"A", false}, {"/A", false},   {"--A", false}, {"", false}, {" -A", false},
  };
  for (const auto& [argument, automatic] : cases) EXPECT_EQ(IsAutomaticArgument(argument), automatic) << argument;
}

TEST(RunModes, NothingHappensBeforeTheFirstActivation) {
  Window w({"-A"});
  EXPECT_TRUE(w.form->FirstActivationPending());
  EXPECT_EQ(w.Child<QLineEdit>("eDatoteka")->text(), "TECAJI_PAPIRJEV.XLS");
  EXPECT_EQ(w.Child<QLabel>("lblTecajnica")->text(), QStringLiteral("TEČAJNICA"));
  EXPECT_EQ(w.session->ZapriCount(), 0);
  EXPECT_FALSE(ReadBytes(w.Rates()).has_value());
}

TEST(RunModes, FirstActivationReadsTheConfigurationOnce) {
  Window w;
  w.form->AppActivate();
  EXPECT_FALSE(w.form->FirstActivationPending());
  EXPECT_EQ(w.Child<QLineEdit>("eDatoteka")->text().toStdString(), w.workbook);
  EXPECT_EQ(w.Child<QLabel>("lblTecajnica")->text(), "LJSE");
  EXPECT_EQ(w.form->State().current.name, "LJSE");

  WriteBytes(w.configPath, ConfigText("/drugje.xls", "DRUGA"));
  w.form->AppActivate();
  EXPECT_EQ(w.Child<QLineEdit>("eDatoteka")->text().toStdString(), w.workbook);
  EXPECT_EQ(w.Child<QLabel>("lblTecajnica")->text(), "LJSE");
  EXPECT_EQ(w.session->ZapriCount(), 0);  // interactive: no transfer
  EXPECT_TRUE(w.ButtonsVisible());
}

TEST(RunModes, ArgumentsDecideTheModeAndTheEnd) {
  struct Case {
    std::vector<std::string> arguments;
    bool automatic;
  };
  const Case cases[] = {
      {{"-A"}, true}, {{"-auto"}, true}, {{"x", "-a"}, true}, {{"-A", "-Ab"}, true}, {{"/A"}, false}, {{"--A", "A"}, false},
  };
  for (const Case& c : cases) {
    Window w(c.arguments);
    const std::string what = c.arguments.front();
    w.form->AppActivate();
    EXPECT_EQ(w.ButtonsVisible(), !c.automatic) << what;
    EXPECT_EQ(ReadBytes(w.Rates()).has_value(), c.automatic) << what;
    EXPECT_EQ(w.ending.requests, c.automatic ? 1 : 0) << what;
    if (!c.automatic) {
      // Started with arguments: the operator's first transfer ends the program.
      w.form->btnImportClick();
      EXPECT_TRUE(ReadBytes(w.Rates()).has_value()) << what;
      EXPECT_EQ(w.ending.requests, 1) << what;
    }
    EXPECT_TRUE(w.messages.messages.empty()) << what;  // no summary when started with arguments
    EXPECT_TRUE(w.messages.errors.empty()) << what;
    EXPECT_EQ(ReadBytes(w.configPath), w.config) << what;  // the end writes no configuration
    EXPECT_FALSE(w.form->Database().Database1Connected()) << what;
    EXPECT_FALSE(w.form->Database().Q1Active()) << what;
  }
}

TEST(RunModes, InteractiveTransferShowsTheSummaryAndStays) {
  Window w;
  w.form->AppActivate();
  w.form->btnImportClick();
  ASSERT_EQ(w.messages.messages.size(), 1u);
  EXPECT_EQ(w.messages.messages[0].rfind("Podatki uspe\x9Ano prepisani!\r\rPrepisanih vrstic: 1\r", 0), 0u)
      << w.messages.messages[0];
  EXPECT_EQ(w.ending.requests, 0);
  EXPECT_TRUE(w.Child<QLabel>("lblOpozorilo")->isHidden());
  const auto rates = ReadBytes(w.Rates());
  ASSERT_TRUE(rates.has_value());
  EXPECT_NE(rates->find("KRKG"), std::string::npos);
  EXPECT_GE(w.session->ZapriCount(), 2);
}

TEST(RunModes, MissingWorkbookKeepsTheProgramOpen) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"-A"}, {"x"}, {}}) {
    Window w(arguments);
    std::remove(w.workbook.c_str());
    w.form->AppActivate();
    const bool automatic = !arguments.empty() && IsAutomaticArgument(arguments.front());
    if (!automatic) w.form->btnImportClick();
    EXPECT_EQ(w.messages.messages, (std::vector<std::string>{"Datoteka ne obstaja!\r" + w.workbook}));
    EXPECT_EQ(w.ending.requests, 0);
    EXPECT_EQ(w.ButtonsVisible(), !automatic);  // automatic mode never gives the buttons back
    EXPECT_FALSE(ReadBytes(w.Rates()).has_value());
  }
}

TEST(RunModes, WorkbookPathIsTakenExactlyAsTyped) {
  Window w;
  w.form->AppActivate();
  // Blanks around an existing file's path, a directory, a lone blank.
  const std::string paths[] = {" " + w.workbook + " ", w.dir.path().toStdString(), " "};
  for (const std::string& path : paths) {
    w.messages.messages.clear();
    w.form->SetWorkbookPath(path);
    w.form->btnImportClick();
    EXPECT_EQ(w.messages.messages, (std::vector<std::string>{"Datoteka ne obstaja!\r" + path}));
  }
  EXPECT_FALSE(ReadBytes(w.Rates()).has_value());
}

TEST(RunModes, UncaughtRunFailureGoesToTheErrorReportAndTheProgramStays) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"-A"}, {"x"}, {}}) {
    Window w(arguments, true);
    w.form->AppActivate();
    if (arguments.empty() || !IsAutomaticArgument(arguments.front())) w.form->btnImportClick();
    EXPECT_EQ(w.messages.errors, (std::vector<std::string>{"Zvezka ni mogo\xE8" "e odpreti"}));
    EXPECT_EQ(w.ending.requests, 0);
    const bool automatic = !arguments.empty() && IsAutomaticArgument(arguments.front());
    EXPECT_EQ(w.ButtonsVisible(), !automatic);
  }
}

TEST(Picker, CancelChangesNothingAndAcceptWritesTheConfiguration) {
  Window w;
  w.form->AppActivate();
  std::remove(w.configPath.c_str());
  w.picker.answers = {std::nullopt, std::string("/podatki/nov teden.xls")};

  w.form->btnOdpriClick();
  EXPECT_EQ(w.Child<QLineEdit>("eDatoteka")->text().toStdString(), w.workbook);
  EXPECT_FALSE(ReadBytes(w.configPath).has_value());

  w.form->btnOdpriClick();
  EXPECT_EQ(w.Child<QLineEdit>("eDatoteka")->text(), "/podatki/nov teden.xls");
  const auto written = ReadBytes(w.configPath);
  ASSERT_TRUE(written.has_value());
  EXPECT_NE(written->find("  DATOTEKA=/podatki/nov teden.xls\r\n"), std::string::npos);
  EXPECT_NE(written->find("  TECAJNICA=LJSE\r\n"), std::string::npos);
  EXPECT_EQ(w.picker.calls, 2);
}

TEST(Picker, WriteFailureIsReportedAndTheFieldKeepsThePick) {
  Window w;
  w.form->AppActivate();
  std::remove(w.configPath.c_str());
  w.dir.remove();  // nowhere to write
  w.picker.answers = {std::string("/drugje/cene.xls")};
  w.form->btnOdpriClick();
  EXPECT_EQ(w.Child<QLineEdit>("eDatoteka")->text(), "/drugje/cene.xls");
  EXPECT_EQ(w.messages.errors.size(), 1u);
}

// The workbook path that a new run of the program reads from the configuration.
std::string WorkbookAfterRestart(const std::string& configPath, const std::string& programDir) {
  RecordingMessages messages;
  ScriptedPicker picker;
  CountingEnd ending;
  MainWindowSetup setup;
  setup.messages = &messages;
  setup.picker = &picker;
  setup.ending = &ending;
  setup.configPath = configPath;
  setup.programDir = programDir;
  setup.session = std::make_unique<spreadsheet::MemorySession>();
  TForm1 form(std::move(setup));
  form.AppActivate();
  return form.WorkbookPath();
}

struct NameCase {
  const char* what;
  std::string name;  // as the file system has it
  QString shown;     // as the operator reads it
  bool kept;         // the configuration keeps it across a restart
};

const NameCase kNames[] = {
    {"\u010D \u0161 \u017E", "te\u010Daji_\u0161\u017E", QStringLiteral("te\u010Daji_\u0161\u017E"), true},
    {"\u00F1", "cenik_\u00F1", QStringLiteral("cenik_\u00F1"), false},
    {"Cyrillic", "\u043A\u0443\u0440\u0441\u044B", QStringLiteral("\u043A\u0443\u0440\u0441\u044B"), false},
    {"an emoji", "cene_\U0001F4C8", QString::fromUtf8("cene_\U0001F4C8"), false},
    {"not UTF-8", "cenik_\xF1", QStringLiteral("cenik_\\xF1"), false},
};

// A picked workbook is used under its real name, the rate file is named after
// it, and the operator reads the real name in the messages. A name that the
// configuration cannot keep is told once, when it is saved.
TEST(FileNames, APickedWorkbookKeepsItsName) {
  for (const auto& c : kNames) {
    SCOPED_TRACE(c.what);
    Window w;
    w.form->AppActivate();
    const std::string folder = w.dir.path().toStdString() + "/";
    const QString shownFolder = w.dir.path() + "/";
    const std::string workbook = folder + c.name + ".xls";
    WriteBytes(workbook, "not read: the memory session stands in for it");
    w.picker.answers = {workbook};

    w.form->btnOdpriClick();
    EXPECT_EQ(w.form->WorkbookPath(), workbook);
    EXPECT_EQ(w.Child<QLineEdit>("eDatoteka")->text(), shownFolder + c.shown + ".xls");
    const auto written = ReadBytes(w.configPath);
    ASSERT_TRUE(written.has_value());
    EXPECT_NE(written->find("  DATOTEKA=" + TextOfPath(workbook) + "\r\n"), std::string::npos);
    if (c.kept) {
      EXPECT_TRUE(w.messages.shown.empty());
    } else {
      ASSERT_EQ(w.messages.shown.size(), 1u);
      EXPECT_EQ(w.messages.shown[0], QStringLiteral("Poti do datoteke ni mogoče shraniti v Ratemover.CONF:\n") +
                                         shownFolder + c.shown +
                                         QStringLiteral(".xls\nOb naslednjem zagonu bo treba datoteko izbrati znova."));
    }

    // told once: the next save of the same path says nothing
    w.messages.shown.clear();
    w.form->btnKonecClick();
    EXPECT_TRUE(w.messages.shown.empty());

    w.form->btnImportClick();
    EXPECT_TRUE(ReadBytes(folder + c.name + ".ztr").has_value());
    ASSERT_EQ(w.messages.shown.size(), 1u);
    EXPECT_TRUE(w.messages.shown[0].endsWith(QStringLiteral("Vhodna datoteka:  ") + shownFolder + c.shown +
                                             QStringLiteral(".xls\nIzhodna datoteka: ") + shownFolder + c.shown +
                                             QStringLiteral(".ztr\n")))
        << w.messages.shown[0].toStdString();

    EXPECT_EQ(WorkbookAfterRestart(w.configPath, folder) == workbook, c.kept);
  }
}

// A typed name is the file whose UTF-8 name it spells, a name that is not UTF-8
// typed as the field shows it: the existence check and the rate file use it,
// and the missing file's message shows it.
TEST(FileNames, ATypedWorkbookIsTheFileItSpells) {
  for (const auto& c : kNames) {
    SCOPED_TRACE(c.what);
    Window w;
    w.form->AppActivate();
    const std::string folder = w.dir.path().toStdString() + "/";
    WriteBytes(folder + c.name + ".xls", "not read");
    auto* field = w.Child<QLineEdit>("eDatoteka");
    field->clear();
    field->insert(w.dir.path() + "/" + c.shown + ".xls");
    EXPECT_EQ(w.form->WorkbookPath(), folder + c.name + ".xls");
    w.form->btnImportClick();
    EXPECT_TRUE(ReadBytes(folder + c.name + ".ztr").has_value());

    w.messages.shown.clear();
    field->setText(w.dir.path() + "/" + c.shown + "_ni.xls");
    w.form->btnImportClick();
    EXPECT_EQ(w.messages.shown,
              std::vector<QString>{QStringLiteral("Datoteka ne obstaja!\n") + w.dir.path() + "/" + c.shown + "_ni.xls"});
  }
}

// Editing a field that shows a name which is not UTF-8 makes the typed text the name.
TEST(FileNames, EditingTheFieldReplacesTheKeptBytes) {
  Window w;
  w.form->AppActivate();
  w.form->SetWorkbookPath("/d/cenik_\xF1.xls");
  EXPECT_EQ(w.form->WorkbookPath(), "/d/cenik_\xF1.xls");
  w.Child<QLineEdit>("eDatoteka")->setText(QStringLiteral("/d/cenik_\u00F1.xls"));
  EXPECT_EQ(w.form->WorkbookPath(), "/d/cenik_\u00F1.xls");
}

TEST(FileNames, MessageTextShowsTheRealName) {
  const std::pair<std::string, QString> cases[] = {
      {"/d/te\u010Daji.xls", QStringLiteral("/d/te\u010Daji.xls")},
      {"/d/\u043A\u0443\u0440\u0441.xls", QStringLiteral("/d/\u043A\u0443\u0440\u0441.xls")},
      {"/d/\xF1\xFF.xls", QStringLiteral("/d/\\xF1\\xFF.xls")},
  };
  for (const auto& [path, shown] : cases) {
    EXPECT_EQ(DisplayText(OperatorMessage("Datoteka ne obstaja!\r").Name(path)),
              QStringLiteral("Datoteka ne obstaja!\n") + shown);
  }
}

TEST(Exit, IzhodWritesTheConfigurationThenEnds) {
  Window w;
  w.form->AppActivate();
  w.Child<QLineEdit>("eDatoteka")->setText(QStringLiteral("/tipkano/čšž.xls"));
  w.form->btnKonecClick();
  EXPECT_EQ(w.ending.requests, 1);
  const auto written = ReadBytes(w.configPath);
  ASSERT_TRUE(written.has_value());
  EXPECT_NE(written->find("  DATOTEKA=/tipkano/\xE8\x9A\x9E.xls\r\n"), std::string::npos);
}

TEST(Exit, IzhodThatCannotWriteStaysOpen) {
  Window w;
  w.form->AppActivate();
  w.dir.remove();
  w.form->btnKonecClick();
  EXPECT_EQ(w.ending.requests, 0);
  EXPECT_EQ(w.messages.errors.size(), 1u);
}

// What a save cannot keep is told at the save, once: a workbook path longer
// than the configuration holds, and the entries of a file that had more
// profiles than the table has slots.
TEST(Exit, WhatTheSaveCannotKeepIsToldOnce) {
  const struct {
    const char* what;
    int entries;         // written into the configuration before it is read
    std::size_t pathLength;  // of the path typed before the save; 0: the configured one
    std::string told;    // the start of the one message
  } cases[] = {
      {"a path of 301 characters", 1, 301, "Poti do datoteke ni mogo\xE8" "e shraniti v Ratemover.CONF:\r/"},
      {"3002 profiles", 3002, 0,
       "Te\xE8" "ajnic nad 3000 ni mogo\xE8" "e shraniti v Ratemover.CONF:\rP3001\rP3002\rSeznam te\xE8" "ajnic je poln."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Window w;
    std::string config = ConfigText(w.workbook, "P1");
    for (int n = 2; n <= c.entries; ++n) config += "  TECAJNICA=P" + std::to_string(n) + "\r\n";
    WriteBytes(w.configPath, config);
    w.form->AppActivate();
    if (c.pathLength != 0) w.form->SetWorkbookPath("/" + std::string(c.pathLength - 1, 'p'));
    w.form->btnKonecClick();
    ASSERT_EQ(w.messages.messages.size(), 1u);
    EXPECT_TRUE(w.messages.messages[0].starts_with(c.told)) << w.messages.messages[0];
    w.form->btnKonecClick();
    EXPECT_EQ(w.messages.messages.size(), 1u);
    EXPECT_EQ(w.ending.requests, 2);
  }
}

TEST(Exit, ClosingTheWindowWritesNothing) {
  Window w;
  w.form->AppActivate();
  w.Child<QLineEdit>("eDatoteka")->setText(QStringLiteral("/tipkano.xls"));
  w.form->show();
  w.form->close();
  EXPECT_EQ(ReadBytes(w.configPath), w.config);
  EXPECT_EQ(w.ending.requests, 0);
}

TEST(RealWidgets, ActivationAcceleratorsAndTabOrder) {
  Window w;
  w.form->show();
  w.form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.form.get(), kPatienceMs));
  // The application's real activation did the first-activation work.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !w.form->FirstActivationPending(); }, kPatienceMs));
  EXPECT_EQ(w.Child<QLabel>("lblTecajnica")->text(), "LJSE");

  // Tab order: "&Prepis", the workbook field, "&Izhod", "...".
  w.Child<QPushButton>("btnImport")->setFocus();
  const char* order[] = {"eDatoteka", "btnKonec", "btnOdpri", "btnImport"};
  for (const char* name : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), name);
  }

  std::remove(w.workbook.c_str());
  // A mnemonic presses its button the way a click does, after a short animation.
  QTest::keyClick(w.form.get(), Qt::Key_P, Qt::AltModifier);
  (void)QTest::qWaitFor([&] { return !w.messages.messages.empty(); }, kPatienceMs);
  EXPECT_EQ(w.messages.messages, (std::vector<std::string>{"Datoteka ne obstaja!\r" + w.workbook}));

  std::remove(w.configPath.c_str());
  QTest::keyClick(w.form.get(), Qt::Key_I, Qt::AltModifier);
  (void)QTest::qWaitFor([&] { return w.ending.requests > 0; }, kPatienceMs);
  EXPECT_EQ(w.ending.requests, 1);
  EXPECT_TRUE(ReadBytes(w.configPath).has_value());

  // Leaving and coming back is no first activation.
  WriteBytes(w.configPath, ConfigText("/drugje.xls", "DRUGA"));
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other, kPatienceMs));
  w.form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.form.get(), kPatienceMs));
  EXPECT_EQ(w.Child<QLabel>("lblTecajnica")->text(), "LJSE");
}

TEST(RealWidgets, MenuOpensTheModalParametersWindow) {
  Window w;
  w.form->AppActivate();
  QString modalName;
  QStringList items;
  bool hidden = true;
  WhenModal([&](QWidget* modal) {
    modalName = modal->objectName();
    hidden = w.form->Form2().isHidden();
    auto* list = modal->findChild<QComboBox*>(QStringLiteral("cbTecajnice"));
    for (int i = 0; list != nullptr && i < list->count(); ++i) items << list->itemText(i);
    modal->close();
  });
  w.Child<QAction>("Parametri1")->trigger();
  EXPECT_EQ(modalName, "TForm2");
  EXPECT_FALSE(hidden);
  EXPECT_EQ(items, QStringList{"LJSE"});
  EXPECT_TRUE(w.form->Form2().isHidden());
}

TEST(RealWidgets, MessageBoxesAreModalWithOneOkAndTheProgramsTitle) {
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    qsizetype buttons = 0;
    bool modal = false;
  };
  QtMessageBoxes boxes;
  for (const bool error : {false, true}) {
    Seen seen;
    WhenModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      seen = {box->windowTitle(), box->text(), box->icon(), box->buttons().size(), box->isModal()};
      box->button(QMessageBox::Ok)->click();
    });
    const std::string text = "Datoteka ne obstaja!\r/pot/te\xE8" "aji.xls";
    if (error) {
      boxes.ShowErrorReport(text);
    } else {
      boxes.ShowMessage(text);
    }
    EXPECT_EQ(seen.title, "test_app");
    EXPECT_EQ(seen.title, ApplicationTitle());
    EXPECT_EQ(seen.text, QStringLiteral("Datoteka ne obstaja!\n/pot/tečaji.xls"));
    EXPECT_EQ(seen.icon, error ? QMessageBox::Critical : QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_TRUE(seen.modal);
  }
}

TEST(RealWidgets, TransferMessageIsARealModalBox) {
  QtMessageBoxes boxes;
  Window w({}, false, &boxes);
  w.form->AppActivate();
  std::remove(w.workbook.c_str());
  QString text;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  w.Child<QPushButton>("btnImport")->click();
  EXPECT_EQ(text.toStdString(), "Datoteka ne obstaja!\n" + w.workbook);
}

// A workbook that cannot be opened brings the date message, and the reason
// follows it in the same box.
TEST(RealWidgets, AWorkbookThatCannotBeOpenedIsExplainedInTheDateBox) {
  QtMessageBoxes boxes;
  QTemporaryDir dir;
  const std::string workbook = PathIn(dir, "cene.xls");
  std::filesystem::copy_file(std::filesystem::path(RATEMOVER_TEST_DATA) / "workbooks/types_pw.xls", workbook);
  WriteBytes(PathIn(dir, "Ratemover.CONF"), ConfigText(workbook));
  ScriptedPicker picker;
  CountingEnd ending;
  MainWindowSetup setup;
  setup.messages = &boxes;
  setup.picker = &picker;
  setup.ending = &ending;
  setup.configPath = PathIn(dir, "Ratemover.CONF");
  setup.programDir = dir.path().toStdString() + "/";
  setup.session = spreadsheet::MakeWorkbookFileSession();
  TForm1 form(std::move(setup));
  form.AppActivate();
  QString text;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  form.findChild<QPushButton*>(QStringLiteral("btnImport"))->click();
  EXPECT_EQ(text.toStdString(), "Excel datoteka '" + workbook +
                                    "' ni v pravem formatu!\nV celici A2 bi moral biti datum!\nDatum: ''\n"
                                    "Delovni zvezek je \u0161ifriran z geslom.");
}

// Saving settings that are shared through a group, from outside the group:
// the error report says how to get in. The superuser, whom the folder lets in,
// is refused by a settings file without write permission.
TEST(RealWidgets, AnOperatorOutsideTheSharingGroupReadsHowToGetIn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser to give the folder to a group it is not in";
  const group* outside = ::getgrgid(65534);
  ASSERT_NE(outside, nullptr);
  const std::string groupName = outside->gr_name;
  QtMessageBoxes boxes;
  Window w({}, false, &boxes);
  w.form->AppActivate();
  const std::string folder = w.dir.path().toStdString();
  ASSERT_EQ(::chmod(w.configPath.c_str(), 0444), 0);
  ASSERT_EQ(::chown(folder.c_str(), 0, 65534), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 02775), 0);
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  w.picker.answers = {std::string("/podatki/cene.xls")};
  w.form->btnOdpriClick();
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(text.toStdString(), "Napaka pri pisanju datoteke " + w.configPath +
                                    ": dostop ni dovoljen\nNastavitve si delijo operaterji v skupini " + groupName +
                                    ". Da jih lahko shranite, vas mora skrbnik dodati v to skupino; nato se znova "
                                    "prijavite.");
  EXPECT_EQ(ReadBytes(w.configPath), std::optional<std::string>(w.config));
}

TEST(RealWidgets, WorkbookPickerOffersEveryFormAndAddsTheExtension) {
  QTemporaryDir dir;
  const std::string lower = PathIn(dir, "cene.xls");
  WriteBytes(lower, "x");
  QtWorkbookPicker picker;
  QString title;
  QStringList filters;
  QString selected;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    filters = dialog->nameFilters();
    selected = dialog->selectedNameFilter();
    dialog->setDirectory(dir.path());
    dialog->selectFile(QStringLiteral("cene"));  // typed without an extension
    static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
  });
  EXPECT_EQ(picker.PickWorkbook(nullptr), lower);
  EXPECT_EQ(title, "Izberi excel datoteko");
  const QStringList expected = {
      "Vse preglednice (*.xls *.xlsx *.xlsm *.xlsb *.ods *.xml *.htm *.html *.csv *.txt)",
      "Excel datoteke (*.xls)",
      "Excel delovni zvezki (*.xlsx)",
      "Excel delovni zvezki z makri (*.xlsm)",
      "Binarni Excel delovni zvezki (*.xlsb)",
      "Preglednice OpenDocument (*.ods)",
      "Preglednice XML (*.xml)",
      "Spletne strani (*.htm *.html)",
      "Besedilo CSV (*.csv)",
      "Besedilne datoteke (*.txt)",
      "Vse datoteke (*)",
  };
  EXPECT_EQ(filters, expected);
  EXPECT_EQ(selected, expected.first());

  // The next opening offers the last choice of file and of filter; a filter
  // chosen in a cancelled opening is offered too; cancelling gives nothing.
  for (const QString& chosen : {expected[3], expected[10]}) {
    QStringList offered;
    QString offeredFilter;
    WhenModal([&](QWidget* modal) {
      auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      offered = dialog->selectedFiles();
      offeredFilter = dialog->selectedNameFilter();
      dialog->selectNameFilter(chosen);
      dialog->reject();
    });
    EXPECT_EQ(picker.PickWorkbook(nullptr), std::nullopt);
    EXPECT_EQ(offered, QStringList{QString::fromStdString(lower)});
    EXPECT_EQ(offeredFilter, chosen == expected[3] ? expected[0] : expected[3]);
  }
}

// A name that is not UTF-8 is typed as the program shows it, each such byte as
// "\xHH", and offered again so.
TEST(RealWidgets, WorkbookPickerTakesANameThatIsNotUtf8) {
  QTemporaryDir dir;
  const std::string workbook = dir.path().toStdString() + "/cenik_\xF1.xls";
  WriteBytes(workbook, "x");
  QtWorkbookPicker picker;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    dialog->selectFile(QStringLiteral("cenik_\\xf1.xls"));
    static_cast<QDialog*>(dialog)->accept();
  });
  EXPECT_EQ(picker.PickWorkbook(nullptr), workbook);
  QStringList offered;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    offered = dialog->selectedFiles();
    dialog->reject();
  });
  EXPECT_EQ(picker.PickWorkbook(nullptr), std::nullopt);
  EXPECT_EQ(offered, QStringList{dir.path() + QStringLiteral("/cenik_\\xF1.xls")});
}

// The main window with the real picker, reading workbooks from the disk; its
// configuration names "prej.xls" in a folder of its own.
struct RealPickerWindow {
  RealPickerWindow() {
    WriteBytes(PathIn(dir, "Ratemover.CONF"), ConfigText(folder + "prej.xls"));
    MainWindowSetup setup;
    setup.messages = &messages;
    setup.picker = &picker;
    setup.ending = &ending;
    setup.configPath = PathIn(dir, "Ratemover.CONF");
    setup.programDir = folder;
    setup.session = spreadsheet::MakeWorkbookFileSession();
    form = std::make_unique<TForm1>(std::move(setup));
    form->AppActivate();
  }
  QTemporaryDir dir;
  std::string folder = dir.path().toStdString() + "/";
  RecordingMessages messages;
  QtWorkbookPicker picker;
  CountingEnd ending;
  std::unique_ptr<TForm1> form;
};

// A workbook whose name is not UTF-8 (byte E8, "č" in Windows-1250) is listed
// as "\xE8", chosen from the list, handed back byte for byte, and the transfer
// reads it.
TEST(RealWidgets, ThePickerListsANameThatIsNotUtf8AndTheTransferReadsIt) {
  RealPickerWindow w;
  const QTemporaryDir& dir = w.dir;
  const std::string& folder = w.folder;
  TForm1& form = *w.form;
  const std::string workbook = folder + "cene_\xE8.xls";
  std::filesystem::copy_file(std::filesystem::path(RATEMOVER_TEST_DATA) / "workbooks/data3000.xls", workbook);
  WriteBytes(folder + "drugo.xls", "x");
  QStringList listed;
  WhenModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    listed = ListedNames(dialog);
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    const int row = static_cast<int>(listed.indexOf(QStringLiteral("cene_\\xE8.xls")));
    if (row >= 0) view->setCurrentIndex(view->model()->index(row, 0, view->rootIndex()));
    dialog->findChild<QPushButton*>(QStringLiteral("openButton"))->click();
    if (dialog->isVisible()) dialog->reject();
  });
  form.btnOdpriClick();
  EXPECT_EQ(listed, (QStringList{QStringLiteral("cene_\\xE8.xls"), QStringLiteral("drugo.xls")}));
  EXPECT_EQ(form.WorkbookPath(), workbook);
  EXPECT_EQ(form.findChild<QLineEdit*>(QStringLiteral("eDatoteka"))->text(), dir.path() + QStringLiteral("/cene_\\xE8.xls"));

  w.messages.messages.clear();
  form.findChild<QPushButton*>(QStringLiteral("btnImport"))->click();
  const auto expected = ReadBytes((std::filesystem::path(RATEMOVER_TEST_DATA) / "expected/data3000.ztr").string());
  ASSERT_TRUE(expected.has_value());
  EXPECT_EQ(ReadBytes(folder + "cene_\xE8.ztr"), expected);
  EXPECT_TRUE(w.messages.errors.empty());
}

TEST(Picker, DefaultExtensionFindsTheExistingSpelling) {
  QTemporaryDir dir;
  WriteBytes(PathIn(dir, "upper.XLS"), "x");
  WriteBytes(PathIn(dir, "lower.xls"), "x");
  WriteBytes(PathIn(dir, "both.xls"), "x");
  WriteBytes(PathIn(dir, "both.XLS"), "x");
  QDir(dir.path()).mkdir(QStringLiteral("map.d"));
  const std::pair<const char*, const char*> cases[] = {
      {"upper", "upper.XLS"},  {"lower", "lower.xls"},       {"both", "both.XLS"},
      {"none", "none.XLS"},    {"lower.xls", "lower.xls"},   {"plain.txt", "plain.txt"},
      {"map.d/x", "map.d/x.XLS"},
  };
  for (const auto& [typed, expected] : cases) {
    EXPECT_EQ(WithDefaultExtension(PathIn(dir, typed)), PathIn(dir, expected)) << typed;
  }
}

}  // namespace
}  // namespace ratemover::desktop

namespace ratemover::desktop {
namespace {

TEST(RealWidgets, ToolkitDialogsSpeakSlovene) {
  SloveneToolkitTexts texts;
  ASSERT_TRUE(texts.QtTextsInstalled()) << "qt6-translations-l10n is not installed";
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Išči v:"));
  // The program's own texts complete Qt's.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("V redu"));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Prekliči"));
}

// Without a window manager a closed box leaves no window active; the program
// gives the keyboard back, so the next Alt+P works without a click.
TEST(RealWidgets, KeyboardReturnsToTheWindowAfterEveryBox) {
  QtMessageBoxes boxes;
  Window w({}, false, &boxes);
  w.form->show();
  w.form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.form.get(), kPatienceMs));
  std::remove(w.workbook.c_str());
  auto* transfer = w.Child<QPushButton>("btnImport");
  transfer->setFocus();

  int boxesSeen = 0;
  for (int round = 0; round < 3; ++round) {
    WhenModal([&](QWidget* modal) {
      ++boxesSeen;
      QTest::keyClick(modal, Qt::Key_Return);  // closed from the keyboard
    });
    QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : w.form.get(), Qt::Key_P,
                    Qt::AltModifier);
    (void)QTest::qWaitFor([&] { return boxesSeen > round && QApplication::activeModalWidget() == nullptr; }, kPatienceMs);
    // the keyboard comes back through the event loop
    (void)QTest::qWaitFor([&] { return QApplication::activeWindow() == w.form.get() && QApplication::focusWidget() == transfer; },
                          kPatienceMs);
    EXPECT_EQ(QApplication::activeWindow(), w.form.get()) << round;
    EXPECT_EQ(QApplication::focusWidget(), transfer) << round;
  }
  EXPECT_EQ(boxesSeen, 3);
}

// The window and control that have the keyboard, and that Alt+P (the
// transfer, its workbook missing) reaches "&Prepis" from there.
void ExpectKeyboardBackOnTransfer(Window& w, const std::string& when) {
  QTest::qWait(20);
  EXPECT_EQ(QApplication::activeWindow(), w.form.get()) << when;
  EXPECT_EQ(QApplication::focusWidget(), w.Child<QPushButton>("btnImport")) << when;
  const std::size_t before = w.messages.messages.size();
  QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : w.form.get(), Qt::Key_P,
                  Qt::AltModifier);
  (void)QTest::qWaitFor([&] { return w.messages.messages.size() > before; }, 2000);
  EXPECT_EQ(w.messages.messages.size(), before + 1) << when;
}

void ShowActive(Window& w) {
  w.form->show();
  w.form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.form.get()));
  QTest::qWait(20);
  std::remove(w.workbook.c_str());
  w.Child<QPushButton>("btnImport")->setFocus();
}

// However the parameters window is opened from the keyboard and however it is
// closed, the keyboard comes back to the control that had it, not to the menu
// bar, and Alt+P works at once.
TEST(Keyboard, ParametersWindowGivesTheKeyboardBack) {
  struct Way {
    const char* open;
    std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys;
  };
  const Way opens[] = {
      {"Alt, Return", {{Qt::Key_Alt, Qt::NoModifier}, {Qt::Key_Return, Qt::NoModifier}}},
      {"F10, Return", {{Qt::Key_F10, Qt::NoModifier}, {Qt::Key_Return, Qt::NoModifier}}},
      {"Alt+A", {{Qt::Key_A, Qt::AltModifier}}},
  };
  const std::pair<const char*, std::pair<Qt::Key, Qt::KeyboardModifiers>> closes[] = {
      {"Esc", {Qt::Key_Escape, Qt::NoModifier}},
      {"Zaključi (Alt+K)", {Qt::Key_K, Qt::AltModifier}},
  };
  for (const Way& open : opens) {
    for (const auto& [closeName, close] : closes) {
      const std::string when = std::string(open.open) + " / " + closeName;
      Window w;
      w.form->AppActivate();
      ShowActive(w);
      bool opened = false, active = false, closedByKey = false;
      WhenModal([&, close = close](QWidget* modal) {
        opened = modal == &w.form->Form2();
        active = QTest::qWaitForWindowActive(modal);
        (void)QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr && QApplication::focusWidget()->window() == modal; }, 2000);
        QTest::qWait(50);
        QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : modal, close.first,
                        close.second);
        (void)QTest::qWaitFor([&] { return !modal->isVisible(); }, 2000);
        closedByKey = !modal->isVisible();
        // a window that did not close is closed here, so that the test goes on
        if (modal->isVisible()) modal->close();
      });
      for (const auto& [key, modifiers] : open.keys) {
        QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : w.form.get(), key,
                        modifiers);
      }
      (void)QTest::qWaitFor([&] { return opened && QApplication::activeModalWidget() == nullptr; }, 5000);
      EXPECT_TRUE(opened) << when;
      EXPECT_TRUE(active) << when << ": the parameters window did not get the keyboard";
      EXPECT_TRUE(closedByKey) << when << ": " << (w.messages.messages.empty() ? "" : w.messages.messages.back())
                               << (w.messages.errors.empty() ? "" : w.messages.errors.back());
      EXPECT_TRUE(w.form->Form2().isHidden()) << when;
      ExpectKeyboardBackOnTransfer(w, when);
    }
  }
}

// The picker opened from the keyboard starts in its name field; Esc leaves it
// and a typed name with Return takes it, and either way the keyboard comes
// back to the button that opened it.
TEST(Keyboard, ThePickerGivesTheKeyboardBack) {
  const struct {
    const char* what;
    const char* typed;  // before the closing key
    Qt::Key close;
    const char* chosen;  // the workbook afterwards, in the folder; "" for the configured one
  } cases[] = {
      {"Esc", "nova", Qt::Key_Escape, ""},
      {"a typed name, Return", "nova", Qt::Key_Return, "nova.XLS"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RealPickerWindow w;
    TForm1& form = *w.form;
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form, kPatienceMs));
    auto* opener = form.findChild<QPushButton*>(QStringLiteral("btnOdpri"));
    opener->setFocus();
    QString startedIn;
    bool closedByKey = false;
    WhenModal([&](QWidget* modal) {
      auto* dialog = dynamic_cast<WorkbookDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      (void)QTest::qWaitForWindowActive(modal, kPatienceMs);
      (void)QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr && QApplication::focusWidget()->window() == modal; }, 2000);
      dialog->setDirectory(w.dir.path());
      if (QApplication::focusWidget() != nullptr) startedIn = QApplication::focusWidget()->objectName();
      QTest::keyClicks(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : modal, QString::fromUtf8(c.typed));
      QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : modal, c.close);
      closedByKey = !modal->isVisible();
      if (modal->isVisible()) dialog->reject();
    });
    QTest::keyClick(opener, Qt::Key_Space);
    (void)QTest::qWaitFor([&] { return QApplication::activeModalWidget() == nullptr && QApplication::focusWidget() == opener; },
                          5000);
    EXPECT_EQ(startedIn, QStringLiteral("fileNameEdit"));
    EXPECT_TRUE(closedByKey);
    EXPECT_EQ(form.WorkbookPath(), w.folder + (*c.chosen != '\0' ? c.chosen : "prej.xls"));
    EXPECT_EQ(QApplication::activeWindow(), &form);
    EXPECT_EQ(QApplication::focusWidget(), opener);
  }
}

// Two boxes from one action: each stands over the main window, and after the
// second the keyboard is back where it was.
TEST(Keyboard, TwoBoxesInARowStandOverTheWindow) {
  QtMessageBoxes boxes;
  Window w({}, false, &boxes);
  ShowActive(w);
  std::vector<QWidget*> parents;
  std::vector<bool> overWindow;
  std::function<void(QWidget*)> closeBox = [&](QWidget* modal) {
    parents.push_back(modal->parentWidget());
    overWindow.push_back(w.form->frameGeometry().contains(modal->frameGeometry().center()));
    if (parents.size() < 2) WhenModal(closeBox, modal);
    QTest::keyClick(modal, Qt::Key_Return);
  };
  WhenModal(closeBox);
  auto* action = new QShortcut(QKeySequence(Qt::Key_F5), w.form.get());
  QObject::connect(action, &QShortcut::activated, [&] {
    boxes.ShowMessage("Prvo sporo\xE8ilo");
    boxes.ShowMessage("Drugo sporo\xE8ilo");
  });
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
  (void)QTest::qWaitFor([&] { return parents.size() == 2 && QApplication::activeModalWidget() == nullptr; }, 5000);
  EXPECT_EQ(parents, (std::vector<QWidget*>{w.form.get(), w.form.get()}));
  EXPECT_EQ(overWindow, (std::vector<bool>{true, true}));
  QTest::qWait(20);
  EXPECT_EQ(QApplication::activeWindow(), w.form.get());
  EXPECT_EQ(QApplication::focusWidget(), w.Child<QPushButton>("btnImport"));
  // Alt+P now reaches "&Prepis": its box is the third.
  WhenModal([&](QWidget* modal) {
    parents.push_back(modal->parentWidget());
    QTest::keyClick(modal, Qt::Key_Return);
  });
  QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : w.form.get(), Qt::Key_P,
                  Qt::AltModifier);
  (void)QTest::qWaitFor([&] { return parents.size() == 3 && QApplication::activeModalWidget() == nullptr; }, 5000);
  EXPECT_EQ(parents.size(), 3u);
}

// The letters that Alt takes to each control: one letter for one control in
// each window, and each reaches its control.
TEST(Keyboard, EveryLetterReachesItsControl) {
  Window w;
  w.form->AppActivate();
  ShowActive(w);
  auto letterOf = [](const QString& text) { return QKeySequence::mnemonic(text); };
  QList<QKeySequence> mainLetters;
  // (the parameters window is a child of the main window: its controls are left out here)
  for (QLabel* label : w.form->findChildren<QLabel*>()) {
    if (label->buddy() != nullptr && label->window() == w.form.get()) mainLetters << letterOf(label->text());
  }
  for (QPushButton* button : w.form->findChildren<QPushButton*>()) {
    if (button->window() == w.form.get()) mainLetters << letterOf(button->text());
  }
  mainLetters << letterOf(w.Child<QAction>("Parametri1")->text());
  QList<QKeySequence> distinct = mainLetters;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  EXPECT_EQ(distinct.size(), mainLetters.size());
  EXPECT_EQ(mainLetters.size(), 5);  // the field, three buttons, the menu

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::AltModifier);
  EXPECT_EQ(QApplication::focusWidget(), w.Child<QLineEdit>("eDatoteka"));

  // In the parameters window, each field's label letter.
  TForm2& form2 = w.form->Form2();
  const std::pair<Qt::Key, const char*> fields[] = {
      {Qt::Key_S, "cbTecajnice"}, {Qt::Key_T, "eTecajnica"}, {Qt::Key_Z, "eZacetnaVrstica"}, {Qt::Key_D, "eDatum"},
      {Qt::Key_V, "eSimbol"},     {Qt::Key_A, "eTecaj"},     {Qt::Key_I, "eIndeks"},
  };
  std::vector<std::string> reached;
  bool deleted = false;
  WhenModal([&](QWidget* modal) {
    EXPECT_TRUE(QTest::qWaitForWindowActive(modal)) << "the parameters window did not get the keyboard";
    (void)QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr && QApplication::focusWidget()->window() == modal; }, 2000);
    for (const auto& [key, name] : fields) {
      QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : modal, key,
                      Qt::AltModifier);
      reached.push_back(QApplication::focusWidget() != nullptr ? QApplication::focusWidget()->objectName().toStdString()
                                                               : std::string());
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_B, Qt::AltModifier);  // "&Briši"
    (void)QTest::qWaitFor([&] { return w.form->State().table.Slot(1).name.empty(); }, 2000);
    deleted = w.form->State().table.Slot(1).name.empty();
    modal->close();
  });
  w.form->Parametri1Click();
  std::vector<std::string> expected;
  for (const auto& field : fields) expected.push_back(field.second);
  EXPECT_EQ(reached, expected);
  EXPECT_TRUE(deleted);
  QList<QKeySequence> letters;
  for (QLabel* label : form2.findChildren<QLabel*>()) {
    if (label->buddy() != nullptr) letters << letterOf(label->text());
  }
  for (QPushButton* button : form2.findChildren<QPushButton*>()) letters << letterOf(button->text());
  distinct = letters;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  EXPECT_EQ(letters.size(), 10);
  EXPECT_EQ(distinct.size(), letters.size());
}

// What a screen reader is told of each control of both windows.
TEST(Accessibility, EveryControlHasAName) {
  Window w;
  w.form->AppActivate();
  auto nameOf = [](QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible != nullptr ? accessible->text(QAccessible::Name) : QStringLiteral("(none)");
  };
  const std::pair<const char*, QString> mainControls[] = {
      {"eDatoteka", QStringLiteral("Vhodna excel datoteka")},
      {"btnOdpri", QStringLiteral("Izberi excel datoteko")},
      {"btnImport", QStringLiteral("Prepis")},
      {"btnKonec", QStringLiteral("Izhod")},
  };
  for (const auto& [name, expected] : mainControls) EXPECT_EQ(nameOf(w.Child<QWidget>(name)), expected) << name;
  TForm2& form2 = w.form->Form2();
  form2.Open();
  const std::pair<const char*, QString> parameterControls[] = {
      {"cbTecajnice", QStringLiteral("Seznam tečajnic")},   {"eTecajnica", QStringLiteral("Tečajnica")},
      {"eZacetnaVrstica", QStringLiteral("Začetna vrstica")}, {"eDatum", QStringLiteral("Kolona datuma")},
      {"eSimbol", QStringLiteral("Kolona simbola (VP)")},   {"eTecaj", QStringLiteral("Kolona tečaja")},
      {"eIndeks", QStringLiteral("Kolona indeksa")},        {"btnBrisi", QStringLiteral("Briši")},
      {"btnAzuriraj", QStringLiteral("Dodaj novo")},        {"btnPotrdi", QStringLiteral("Zaključi")},
  };
  for (const auto& [name, expected] : parameterControls) {
    EXPECT_EQ(nameOf(form2.findChild<QWidget*>(QString::fromLatin1(name))), expected) << name;
  }
  // Every control that takes the keyboard is named, and not by its value.
  for (QWidget* window : {static_cast<QWidget*>(w.form.get()), static_cast<QWidget*>(&form2)}) {
    for (QWidget* control : window->findChildren<QWidget*>()) {
      if (control->focusPolicy() == Qt::NoFocus || control->window() != window ||
          qobject_cast<QMenuBar*>(control) != nullptr) {
        continue;
      }
      const QString name = nameOf(control);
      EXPECT_FALSE(name.isEmpty()) << control->objectName().toStdString();
      EXPECT_NE(name, QStringLiteral("...")) << control->objectName().toStdString();
      if (auto* list = qobject_cast<QComboBox*>(control)) {
        EXPECT_NE(name, list->currentText());
      }
    }
  }
}

TEST(MessageText, EachStoredLineBreakBecomesOne) {
  const std::pair<std::string, QString> cases[] = {
      {"a\rb", "a\nb"}, {"a\r\rb", "a\n\nb"}, {"a\r\nb", "a\nb"}, {"\xE8\r", QStringLiteral("č\n")}, {"", ""}};
  for (const auto& [stored, shown] : cases) EXPECT_EQ(DisplayText(stored), shown) << stored;
}

}  // namespace
}  // namespace ratemover::desktop
