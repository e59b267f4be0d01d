// The desktop on a real X server without a window manager (Xvfb): the keyboard
// tests once more, and the accessibility tree that a screen reader reads of
// the program (AT-SPI). Skipped, with the reason, where Xvfb, a message bus or
// the accessibility bus cannot be started.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// One object of the accessibility tree: the bus name of its program and its path.
struct AtspiRef {
  QString service;
  QDBusObjectPath path;
};

}  // namespace

Q_DECLARE_METATYPE(AtspiRef)

QDBusArgument& operator<<(QDBusArgument& argument, const AtspiRef& ref) {
  argument.beginStructure();
  argument << ref.service << ref.path;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, AtspiRef& ref) {
  argument.beginStructure();
  argument >> ref.service >> ref.path;
  argument.endStructure();
  return argument;
}

namespace ratemover::desktop {
namespace {

// A process that the test started, ended with the test.
struct Child {
  Child() : process(std::make_unique<QProcess>()) {}
  ~Child() {
    if (process->state() == QProcess::NotRunning) return;
    // asked first, so that Xvfb removes its lock and socket
    process->terminate();
    if (process->waitForFinished(5000)) return;
    process->kill();
    process->waitForFinished(5000);
  }
  std::unique_ptr<QProcess> process;
};

// The first line that a starting process writes: the display number of Xvfb,
// the address of a message bus.
QString FirstLine(QProcess& process, int milliseconds) {
  QDeadlineTimer deadline(milliseconds);
  while (!process.canReadLine() && !deadline.hasExpired() && process.state() != QProcess::NotRunning) {
    process.waitForReadyRead(100);
  }
  return process.canReadLine() ? QString::fromUtf8(process.readLine()).trimmed() : QString();
}

// An X server and a session bus of the test's own, and an accessibility bus
// when asked for. `missing` says why they could not be had.
class Desktop {
 public:
  explicit Desktop(bool accessibility) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (xvfb.isEmpty()) {
      missing = "Xvfb is not installed";
      return;
    }
    // -noreset: without it the server resets when its last client leaves (the
    // accessibility bus launcher connects and leaves), and a program that
    // connects during the reset is turned away.
    xvfb_.process->start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                QStringLiteral("tcp"), QStringLiteral("-noreset"), QStringLiteral("-screen"),
                                QStringLiteral("0"), QStringLiteral("1024x768x24")});
    const QString number = FirstLine(*xvfb_.process, 20000);
    if (number.isEmpty()) {
      missing = "Xvfb did not start";
      return;
    }
    display = QStringLiteral(":") + number;
    if (!accessibility) return;

    const QString launcher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
    if (daemon.isEmpty() || !QFileInfo::exists(launcher)) {
      missing = "dbus-daemon or at-spi2-core is not installed";
      return;
    }
    bus_.process->start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                 QStringLiteral("--print-address=1")});
    sessionBus = FirstLine(*bus_.process, 20000);
    if (sessionBus.isEmpty()) {
      missing = "the session bus did not start";
      return;
    }
    atspi_.process->setProcessEnvironment(Environment());
    atspi_.process->start(launcher, {QStringLiteral("--launch-immediately")});
    QDBusConnection session = QDBusConnection::connectToBus(sessionBus, QStringLiteral("ratemover-test-session"));
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
      QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                         QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
      const QDBusReply<QString> reply = session.call(call, QDBus::Block, 2000);
      if (reply.isValid() && !reply.value().isEmpty()) {
        accessibilityBus = reply.value();
        break;
      }
      QTest::qWait(100);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("ratemover-test-session"));
    if (accessibilityBus.isEmpty()) missing = "the accessibility bus did not start";
  }

  QProcessEnvironment Environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), display);
    if (!sessionBus.isEmpty()) environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus);
    return environment;
  }

  std::string missing;
  QString display;
  QString sessionBus;
  QString accessibilityBus;

 private:
  Child xvfb_;
  Child bus_;
  Child atspi_;
};

// The keyboard and naming tests of this program, run again on the X server,
// where no window manager hands the focus round; each in a program of its own.
TEST(UnderXvfb, KeyboardTestsPass) {
  if (qEnvironmentVariableIsSet("RATEMOVER_UNDER_XVFB")) GTEST_SKIP() << "already under Xvfb";
  Desktop desktop(false);
  if (!desktop.missing.empty()) GTEST_SKIP() << desktop.missing;
  const char* tests[] = {
      "Keyboard.ParametersWindowGivesTheKeyboardBack", "Keyboard.TwoBoxesInARowStandOverTheWindow",
      "Keyboard.EveryLetterReachesItsControl",         "Accessibility.EveryControlHasAName",
      "RealWidgets.KeyboardReturnsToTheWindowAfterEveryBox", "RealWidgets.ActivationAcceleratorsAndTabOrder",
      "Keyboard.ThePickerGivesTheKeyboardBack",
  };
  for (const char* test : tests) {
    QProcess run;
    QProcessEnvironment environment = desktop.Environment();
    environment.insert(QStringLiteral("RATEMOVER_UNDER_XVFB"), QStringLiteral("1"));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + QString::fromLatin1(test)});
    ASSERT_TRUE(run.waitForFinished(120000)) << test;
    const QString output = QString::fromUtf8(run.readAll());
    EXPECT_EQ(run.exitCode(), 0) << test << "\n" << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << test << "\n" << output.toStdString();
  }
}

// What the screen reader reads of the program through the accessibility bus.
class Tree {
 public:
  explicit Tree(const QString& address) : bus_(QDBusConnection::connectToBus(address, QStringLiteral("ratemover-test-a11y"))) {
    qDBusRegisterMetaType<AtspiRef>();
    qDBusRegisterMetaType<QList<AtspiRef>>();
  }
  ~Tree() { QDBusConnection::disconnectFromBus(QStringLiteral("ratemover-test-a11y")); }

  bool Connected() const { return bus_.isConnected(); }

  QList<AtspiRef> Children(const AtspiRef& ref) {
    const QDBusReply<QList<AtspiRef>> reply = bus_.call(Call(ref, "org.a11y.atspi.Accessible", "GetChildren"),
                                                        QDBus::Block, 5000);
    return reply.isValid() ? reply.value() : QList<AtspiRef>();
  }
  QString Role(const AtspiRef& ref) {
    const QDBusReply<QString> reply = bus_.call(Call(ref, "org.a11y.atspi.Accessible", "GetRoleName"), QDBus::Block, 5000);
    return reply.isValid() ? reply.value() : QString();
  }
  QString Name(const AtspiRef& ref) {
    QDBusMessage call = QDBusMessage::createMethodCall(ref.service, ref.path.path(),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call << QStringLiteral("org.a11y.atspi.Accessible") << QStringLiteral("Name");
    const QDBusReply<QDBusVariant> reply = bus_.call(call, QDBus::Block, 5000);
    return reply.isValid() ? reply.value().variant().toString() : QString();
  }
  // Presses a control through its first action, without waiting: a modal
  // window that it opens answers only when it closes.
  void Press(const AtspiRef& ref) {
    QDBusMessage call = Call(ref, "org.a11y.atspi.Action", "DoAction");
    call << 0;
    bus_.asyncCall(call);
  }

  // The program whose name is `program`, as the registry lists it.
  std::optional<AtspiRef> Program(const QString& program, int milliseconds) {
    const AtspiRef root{QStringLiteral("org.a11y.atspi.Registry"),
                        QDBusObjectPath(QStringLiteral("/org/a11y/atspi/accessible/root"))};
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
      for (const AtspiRef& child : Children(root)) {
        if (Name(child) == program) return child;
      }
      QTest::qWait(200);
    }
    return std::nullopt;
  }

  struct Node {
    AtspiRef ref;
    QString role;
    QString name;
  };
  std::vector<Node> Walk(const AtspiRef& top) {
    std::vector<Node> nodes;
    std::function<void(const AtspiRef&, int)> visit = [&](const AtspiRef& ref, int depth) {
      if (depth > 30 || nodes.size() > 3000) return;
      nodes.push_back({ref, Role(ref), Name(ref)});
      for (const AtspiRef& child : Children(ref)) visit(child, depth + 1);
    };
    visit(top, 0);
    return nodes;
  }

 private:
  static QDBusMessage Call(const AtspiRef& ref, const char* interface, const char* method) {
    return QDBusMessage::createMethodCall(ref.service, ref.path.path(), QString::fromLatin1(interface),
                                          QString::fromLatin1(method));
  }
  QDBusConnection bus_;
};

bool Has(const std::vector<Tree::Node>& nodes, const QString& role, const QString& name) {
  for (const Tree::Node& node : nodes) {
    if (node.role == role && node.name == name) return true;
  }
  return false;
}

// The program's tree once a control of that role and name is there (or gone),
// or as it stands after 20 seconds.
std::vector<Tree::Node> WalkUntil(Tree& tree, const AtspiRef& program, const QString& role, const QString& name,
                                  bool there) {
  std::vector<Tree::Node> nodes;
  QDeadlineTimer deadline(20000);
  while (!deadline.hasExpired()) {
    nodes = tree.Walk(program);
    if (Has(nodes, role, name) == there) break;
    QTest::qWait(200);
  }
  return nodes;
}

// Every control that the keyboard reaches has a name, and not "..." or its value.
void ExpectEveryControlNamed(const std::vector<Tree::Node>& nodes, const char* window) {
  const QStringList controls = {QStringLiteral("push button"), QStringLiteral("text"), QStringLiteral("combo box"),
                                QStringLiteral("menu item"), QStringLiteral("entry")};
  for (const Tree::Node& node : nodes) {
    if (!controls.contains(node.role)) continue;
    EXPECT_FALSE(node.name.isEmpty()) << window << ": a " << node.role.toStdString() << " without a name";
    EXPECT_NE(node.name, QStringLiteral("...")) << window;
  }
}

TEST(UnderXvfb, ScreenReaderHearsEveryControlsName) {
  Desktop desktop(true);
  if (!desktop.missing.empty()) GTEST_SKIP() << desktop.missing;
  QTemporaryDir home;
  Child program;
  QProcessEnvironment environment = desktop.Environment();
  environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
  environment.insert(QStringLiteral("HOME"), home.path());
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
  program.process->setProcessEnvironment(environment);
  program.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  program.process->start(QStringLiteral(RATEMOVER_DESKTOP_EXE), {});
  ASSERT_TRUE(program.process->waitForStarted(10000));

  Tree tree(desktop.accessibilityBus);
  ASSERT_TRUE(tree.Connected());
  const std::optional<AtspiRef> ratemover = tree.Program(QStringLiteral("ratemover"), 30000);
  ASSERT_TRUE(ratemover.has_value()) << "the program did not appear on the accessibility bus";

  std::vector<Tree::Node> main = tree.Walk(*ratemover);
  EXPECT_TRUE(Has(main, QStringLiteral("text"), QStringLiteral("Vhodna excel datoteka")));
  EXPECT_TRUE(Has(main, QStringLiteral("push button"), QStringLiteral("Izberi excel datoteko")));
  EXPECT_TRUE(Has(main, QStringLiteral("push button"), QStringLiteral("Prepis")));
  EXPECT_TRUE(Has(main, QStringLiteral("push button"), QStringLiteral("Izhod")));
  ExpectEveryControlNamed(main, "main window");

  // The button opens the workbook picker; its cancel button closes it.
  std::optional<AtspiRef> pickerButton;
  for (const Tree::Node& node : main) {
    if (node.role == QStringLiteral("push button") && node.name == QStringLiteral("Izberi excel datoteko")) {
      pickerButton = node.ref;
    }
  }
  ASSERT_TRUE(pickerButton.has_value()) << "no button to pick a workbook";
  tree.Press(*pickerButton);
  std::vector<Tree::Node> picker = WalkUntil(tree, *ratemover, QStringLiteral("combo box"), QStringLiteral("Vrsta datotek"), true);
  const std::pair<const char*, const char*> pickerControls[] = {
      {"combo box", "Išči v:"},     {"push button", "Nadrejena mapa"}, {"text", "Ime datoteke"},
      {"combo box", "Vrsta datotek"}, {"push button", "Odpri"},          {"push button", "Prekliči"},
  };
  for (const auto& [role, name] : pickerControls) {
    EXPECT_TRUE(Has(picker, QString::fromUtf8(role), QString::fromUtf8(name))) << role << " " << name;
  }
  EXPECT_TRUE(std::any_of(picker.begin(), picker.end(),
                          [](const Tree::Node& node) { return node.name == QStringLiteral("Datoteke v mapi"); }))
      << "the list of files has no name";
  ExpectEveryControlNamed(picker, "picker");
  for (const Tree::Node& node : picker) {
    if (node.role == QStringLiteral("push button") && node.name == QStringLiteral("Prekliči")) tree.Press(node.ref);
  }
  main = WalkUntil(tree, *ratemover, QStringLiteral("combo box"), QStringLiteral("Vrsta datotek"), false);
  ASSERT_FALSE(Has(main, QStringLiteral("combo box"), QStringLiteral("Vrsta datotek"))) << "the picker did not close";

  // The menu item opens the parameters window, as a screen reader's user would.
  std::optional<AtspiRef> menuItem;
  for (const Tree::Node& node : main) {
    if (node.name == QStringLiteral("Parametri")) menuItem = node.ref;
  }
  ASSERT_TRUE(menuItem.has_value()) << "no menu item Parametri";
  tree.Press(*menuItem);
  const std::vector<Tree::Node> both =
      WalkUntil(tree, *ratemover, QStringLiteral("combo box"), QStringLiteral("Seznam tečajnic"), true);
  const std::pair<const char*, const char*> fields[] = {
      {"combo box", "Seznam tečajnic"}, {"text", "Tečajnica"},      {"text", "Začetna vrstica"},
      {"text", "Kolona datuma"},        {"text", "Kolona simbola (VP)"}, {"text", "Kolona tečaja"},
      {"text", "Kolona indeksa"},       {"push button", "Briši"},    {"push button", "Dodaj novo"},
      {"push button", "Zaključi"},
  };
  for (const auto& [role, name] : fields) {
    EXPECT_TRUE(Has(both, QString::fromUtf8(role), QString::fromUtf8(name))) << role << " " << name;
  }
  ExpectEveryControlNamed(both, "parameters window");
}

}  // namespace
}  // namespace ratemover::desktop
