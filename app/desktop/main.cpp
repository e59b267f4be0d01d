// ratemover: the desktop program. Start-up: the main window, then the hidden
// parameters window, then the message loop; the first activation of the
// application reads the configuration and, with "-A", runs the transfer.
#include <QApplication>
#include <QStringList>

#include <csignal>

#include <memory>
#include <string>
#include <vector>

#include "app/desktop/desktop_services.h"
#include "app/desktop/main_window.h"
#include "app/desktop/program_icon.h"
#include "common/cp1250.h"
#include "common/program_dir.h"
#include "config/config_file.h"
#include "spreadsheet/session.h"

int main(int argc, char* argv[]) {
  // A file that reaches the size limit fails its write (and is reported)
  // instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication application(argc, argv);

  ratemover::desktop::SloveneToolkitTexts toolkitTexts;
  QApplication::setWindowIcon(ratemover::desktop::ProgramIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("ratemover"));

  // The toolkit has taken its own options (-platform and the like) out already.
  std::vector<std::string> arguments;
  const QStringList all = QCoreApplication::arguments();
  for (qsizetype i = 1; i < all.size(); ++i) arguments.push_back(all[i].toStdString());

  ratemover::desktop::QtMessageBoxes messages;
  ratemover::desktop::QtWorkbookPicker picker;
  ratemover::desktop::QtApplicationEnd ending;

  ratemover::desktop::MainWindowSetup setup;
  setup.messages = &messages;
  setup.picker = &picker;
  setup.ending = &ending;
  setup.arguments = std::move(arguments);
  setup.configPath = ratemover::ConfigFilePath();
  setup.programDir = ratemover::ProgramDir();
  setup.session = ratemover::spreadsheet::MakeWorkbookFileSession();

  ratemover::desktop::TForm1 form1(std::move(setup));
  form1.show();
  // Without a window manager no window becomes active on its own; asking for it
  // makes the first activation happen.
  form1.activateWindow();
  return QApplication::exec();
}
