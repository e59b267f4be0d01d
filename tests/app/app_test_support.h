#pragma once
// Stand-ins for the operator and the platform in the desktop tests, and small
// file helpers.
#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/desktop/desktop_services.h"

namespace ratemover::desktop::testing {

// Keeps every message as Windows-1250 text, CR included, and as the operator
// would read it in the box.
class RecordingMessages final : public MessageBoxes {
 public:
  void ShowMessage(const OperatorMessage& message) override {
    messages.push_back(message.PlainText());
    shown.push_back(DisplayText(message));
  }
  void ShowErrorReport(const OperatorMessage& message) override {
    errors.push_back(message.PlainText());
    shownErrors.push_back(DisplayText(message));
  }
  std::vector<std::string> messages;
  std::vector<std::string> errors;
  std::vector<QString> shown;
  std::vector<QString> shownErrors;
};

class ScriptedPicker final : public WorkbookPicker {
 public:
  std::optional<std::string> PickWorkbook(QWidget*) override {
    ++calls;
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::deque<std::optional<std::string>> answers;
  int calls = 0;
};

class CountingEnd final : public ApplicationEnd {
 public:
  void EndApplication() override { ++requests; }
  int requests = 0;
};

inline std::string PathIn(const QTemporaryDir& dir, const char* name) {
  return QDir(dir.path()).filePath(QString::fromUtf8(name)).toStdString();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::optional<std::string> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How long a test waits for what the event loop brings (a window made active,
// a box shown): every wait ends as soon as it is there, so only a failing test
// waits this long, and a busy machine has all the time it needs.
constexpr int kPatienceMs = 120000;

// Runs the action on the first modal widget that appears (a message box, a
// dialog) from inside its own event loop; gives up after trying for kPatienceMs
// (the first file dialog of a process can take seconds to appear on a busy machine).
// A widget to pass over (`notThis`) is forgotten once it is gone: the next box
// may stand where it stood in memory.
inline void WhenModal(std::function<void(QWidget*)> action, QWidget* passOver = nullptr) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, action, notThis = QPointer<QWidget>(passOver)] {
    QWidget* modal = QApplication::activeModalWidget();
    if ((modal != nullptr && modal != notThis) || ++*tries > kPatienceMs / 10) {
      timer->stop();
      timer->deleteLater();
      if (modal != nullptr && modal != notThis) action(modal);
    }
  });
  timer->start(10);
}

// The names that the picker lists, top to bottom, as the operator reads them.
inline QStringList ListedNames(const QWidget* picker) {
  const auto* view = picker->findChild<QTreeView*>(QStringLiteral("treeView"));
  QStringList names;
  if (view == nullptr) return names;
  for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
    names << view->model()->index(row, 0, view->rootIndex()).data().toString();
  }
  return names;
}

}  // namespace ratemover::desktop::testing
