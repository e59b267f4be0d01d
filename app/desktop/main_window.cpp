#include "app/desktop/main_window.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QShortcut>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPalette>
#include <QPushButton>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "app/desktop/parameters_window.h"
#include "app/desktop/program_icon.h"
#include "app/desktop/widget_kit.h"
#include "common/cp1250.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "transfer/transfer_request.h"

namespace ratemover::desktop {

namespace {

QFont PixelFont(const QFont& base, int pixels, bool bold) {
  QFont font = base;
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// A label keeps at least its designed size and grows with its text, so that a
// font wider than the designed one never cuts a word off.
void FitLabel(QLabel* label) {
  const QSize design = label->property("designSize").toSize();
  const QFontMetrics metrics(label->font());
  const int width = std::max(design.width(), metrics.horizontalAdvance(label->text()) + 2);
  const int height = std::max(design.height(), metrics.height());
  label->resize(width, height);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect design, int pixels, bool bold,
                  const QColor& colour) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(PixelFont(parent->font(), pixels, bold));
  Colour(label, colour);
  label->move(design.topLeft());
  label->setProperty("designSize", design.size());
  FitLabel(label);
  return label;
}

}  // namespace

bool IsAutomaticArgument(const std::string& argument) { return AsciiUpper(argument.substr(0, 2)) == "-A"; }

// What a transfer shows of itself: the window's message boxes, its progress
// label, and one round of pending window messages when asked.
class TForm1::WindowView final : public OperatorView {
 public:
  explicit WindowView(TForm1& window) : window_(window) {}
  void ShowMessage(const OperatorMessage& message) override { window_.messages_.ShowMessage(message); }
  void SetProgressVisible(bool visible) override {
    window_.lblOpozorilo->setVisible(visible);
    if (visible) window_.lblOpozorilo->repaint();
  }
  void ProcessPendingMessages() override { QCoreApplication::processEvents(); }

 private:
  TForm1& window_;
};

TForm1::TForm1(MainWindowSetup setup)
    : messages_(*setup.messages),
      picker_(*setup.picker),
      ending_(*setup.ending),
      arguments_(std::move(setup.arguments)),
      configPath_(std::move(setup.configPath)),
      programDir_(std::move(setup.programDir)),
      session_(std::move(setup.session)),
      view_(std::make_unique<WindowView>(*this)) {
  if (!session_) throw std::invalid_argument("the main window needs a spreadsheet session");
  BuildContent();
  FormCreate();
  form2_ = new TForm2(
      state_, messages_, [this](const std::string& name) { SetProfileLabel(name); },
      [this] { SaveConfiguration(); }, this);
  form2_->hide();
}

TForm1::~TForm1() = default;

void TForm1::BuildContent() {
  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QStringLiteral("Ratemover - prepis tečajev iz XLS v ZTR (format 111)"));
  setWindowIcon(ProgramIcon());
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  setFont(font);
  // The designed outer size is 462 x 260 at 129, 124; the frame takes what the
  // window manager gives it.
  move(129, 124);
  resize(454, 234);

  auto* menu = new QMenuBar(this);
  menu->setObjectName(QStringLiteral("MainMenu1"));
  // Alt+P and Alt+I are the buttons' own, so the menu takes Alt+A.
  Parametri1 = menu->addAction(QStringLiteral("P&arametri"));
  Parametri1->setObjectName(QStringLiteral("Parametri1"));
  setMenuBar(menu);
  connect(Parametri1, &QAction::triggered, this, [this] { Parametri1Click(); });
  // F10 takes the keyboard to the menu bar, as Alt alone does; Return then
  // chooses "Parametri", Esc leaves it.
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(f10, &QShortcut::activated, this, [this] { EnterMenuBar(); });

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setAutoFillBackground(true);
  QPalette palette = client->palette();
  palette.setColor(QPalette::Window, kNavy);
  client->setPalette(palette);
  setCentralWidget(client);

  lblTecajnica = MakeLabel(client, "lblTecajnica", QStringLiteral("TEČAJNICA"), {24, 24, 102, 20}, 16, true,
                           Qt::white);
  Label2 = MakeLabel(client, "Label2", QStringLiteral("&Vhodna excel datoteka:"), {24, 56, 141, 16}, 13, false,
                     Qt::white);
  eDatoteka = new QLineEdit(QStringLiteral("TECAJI_PAPIRJEV.XLS"), client);
  eDatoteka->setObjectName(QStringLiteral("eDatoteka"));
  eDatoteka->setGeometry(24, 80, 377, 21);
  workbookPath_ = eDatoteka->text().toStdString();
  // Text the operator types names the file it spells in UTF-8, each "\xHH" the
  // byte of a name that is not UTF-8, as the field shows such a name.
  connect(eDatoteka, &QLineEdit::textChanged, this,
          [this](const QString& text) { workbookPath_ = PathFromReadable(text.toStdString()); });
  btnOdpri = MakeButton(client, "btnOdpri", QStringLiteral("..."), {408, 80, 25, 22});
  btnImport = MakeButton(client, "btnImport", QStringLiteral("&Prepis"), {24, 128, 75, 25});
  btnKonec = MakeButton(client, "btnKonec", QStringLiteral("&Izhod"), {328, 128, 75, 25});
  lblOpozorilo = MakeLabel(client, "lblOpozorilo", QStringLiteral("IZVAJA SE PREPIS  ..."), {136, 136, 155, 16}, 13,
                           true, Qt::yellow);
  lblOpozorilo->hide();
  Label1 = MakeLabel(client, "Label1", QStringLiteral("Verzija 3.4.0.0"), {24, 168, 171, 16}, 13, false, Qt::white);

  // Alt+V takes the keyboard to the workbook field. What a screen reader says
  // of each control: the button "..." says what it does.
  Label2->setBuddy(eDatoteka);
  eDatoteka->setAccessibleName(QStringLiteral("Vhodna excel datoteka"));
  btnOdpri->setAccessibleName(QString::fromUtf8(kPickerTitle));

  // The control that had the keyboard last, the menu bar left out: the keyboard
  // goes back to it when a window or box over this one closes.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now != nullptr && now->window() == this && qobject_cast<QMenuBar*>(now) == nullptr) lastFocus_ = now;
  });

  // Tab order: "&Prepis", the workbook field, "&Izhod", "...".
  setTabOrder(btnImport, eDatoteka);
  setTabOrder(eDatoteka, btnKonec);
  setTabOrder(btnKonec, btnOdpri);
  btnImport->setFocus();

  connect(btnImport, &QPushButton::clicked, this, [this] { btnImportClick(); });
  connect(btnOdpri, &QPushButton::clicked, this, [this] { btnOdpriClick(); });
  connect(btnKonec, &QPushButton::clicked, this, [this] { btnKonecClick(); });
}

void TForm1::FormCreate() {
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) AppActivate();
  });
}


std::string TForm1::WorkbookPath() const { return workbookPath_; }

void TForm1::SetWorkbookPath(const std::string& path) {
  eDatoteka->setText(DisplayPath(path));
  workbookPath_ = path;
}

void TForm1::SetProfileLabel(const std::string& name) {
  // A name wider than the room up to the right edge of the "..." button is
  // shortened with an ellipsis; the tool tip then shows it whole.
  const QString whole = FromCp1250(name);
  const int room = btnOdpri->geometry().right() + 1 - lblTecajnica->x();
  const QString shown = QFontMetrics(lblTecajnica->font()).elidedText(whole, Qt::ElideRight, room - 2);
  lblTecajnica->setText(shown);
  lblTecajnica->setToolTip(shown == whole ? QString() : whole);
  FitLabel(lblTecajnica);
}

void TForm1::AppActivate() {
  if (!firstActivation_) return;
  firstActivation_ = false;
  messages_.Guarded([this] {
    ReadConfiguration();
    repaint();
    QCoreApplication::processEvents();
    for (const std::string& argument : arguments_) {
      if (!IsAutomaticArgument(argument)) continue;
      btnImport->hide();
      btnKonec->hide();
      QCoreApplication::processEvents();
      Transfer();
      break;
    }
  });
}

void TForm1::ReadConfiguration() {
  // Until it is read whole, the file holds profiles that the window does not:
  // a save in between would lose them.
  configUnread_ = true;
  ConfigReading reading = BeriIniDatoteko(configPath_, programDir_);
  configUnread_ = false;
  state_ = std::move(reading.state);
  leftOut_ = std::move(reading.leftOut);
  SetWorkbookPath(reading.workbookPath);
  if (reading.profileChosen) SetProfileLabel(state_.current.name);
}

void TForm1::SaveConfiguration() {
  if (configUnread_) {
    throw std::runtime_error(
        "Nastavitev ni bilo mogo\xE8" "e prebrati v celoti, zato jih ne shranjujem: te\xE8" "ajnice, ki niso bile "
        "prebrane, bi se izgubile.");
  }
  const std::string path = WorkbookPath();
  PisiIniDatoteko(state_, path, configPath_);
  // Told once for each path, not at every save.
  if (!ConfigKeepsPath(path) && path != unkeptPathShown_) {
    unkeptPathShown_ = path;
    messages_.ShowMessage(UnkeptPathMessage(path));
  }
  if (leftOut_.count > 0 && !leftOutShown_) {
    leftOutShown_ = true;
    messages_.ShowMessage(LeftOutProfilesMessage(leftOut_));
  }
}

void TForm1::Transfer() {
  // A request that reaches a message-processing point of a running transfer is
  // dropped: the session is busy with the first one.
  if (transferring_) return;
  transferring_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{transferring_};

  ImportRunInput input;
  input.workbookPath = WorkbookPath();
  input.profile = state_.current;
  input.show = false;
  input.startedWithArguments = StartedWithArguments();
  const RequestResult result = TransferRequest(input, *session_, *view_);
  if (!result.workbookMissing && StartedWithArguments()) ending_.EndApplication();
}

void TForm1::btnImportClick() {
  messages_.Guarded([this] { Transfer(); });
}

void TForm1::btnOdpriClick() {
  messages_.Guarded([this] {
    const auto chosen = picker_.PickWorkbook(this);
    if (!chosen) return;
    SetWorkbookPath(*chosen);
    SaveConfiguration();
  });
}

void TForm1::btnKonecClick() {
  messages_.Guarded([this] {
    SaveConfiguration();
    ending_.EndApplication();
  });
}

void TForm1::Parametri1Click() {
  FocusReturn focusReturn(this, lastFocus_);
  messages_.Guarded([this] {
    form2_->Open();
    form2_->exec();
  });
}

void TForm1::EnterMenuBar() {
  // The menu bar's own way in from the keyboard is Alt pressed and let go alone.
  QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Alt, Qt::AltModifier);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
  QWidget* target = focusWidget() != nullptr ? focusWidget() : this;
  for (QKeyEvent* event : {&override, &press, &release}) QCoreApplication::sendEvent(target, event);
}

}  // namespace ratemover::desktop
