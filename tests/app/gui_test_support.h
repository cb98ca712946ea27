// Shared pieces of the desktop application's tests: an answerer for modal
// boxes and dialogs, a scratch working folder, and test pictures.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <opencv2/core.hpp>

#include <functional>
#include <memory>

class MainWindow;
class SubMainWindow;

// Answers every modal box or dialog that opens while it lives: message
// boxes are recorded and closed with the next of `buttons` (when one is
// queued and the box has it) or else their first button; file dialogs get
// the queued names (or are cancelled); any other dialog goes to `onDialog`,
// which returns true once it has dealt with it.
class ModalAnswerer : public QObject {
 public:
  struct Box {
    QString title, text;
  };

  ModalAnswerer() {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Poll);
    timer_.start();
  }

  QList<Box> boxes;
  QList<QMessageBox::StandardButton> buttons;
  QStringList fileNames;
  std::function<void(QFileDialog*)> onFileDialog;  // runs before the dialog is answered
  std::function<bool(QDialog*)> onDialog;

  QStringList titles() const {
    QStringList list;
    for (const Box& box : boxes) list << box.title;
    return list;
  }
  void clear() { boxes.clear(); }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || handled_ == modal) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      handled_ = box;
      boxes.append({box->windowTitle(), box->text()});
      QAbstractButton* answer = box->buttons().first();
      if (!buttons.isEmpty())
        if (QAbstractButton* chosen = box->button(buttons.takeFirst())) answer = chosen;
      QMetaObject::invokeMethod(box, [answer] { answer->click(); }, Qt::QueuedConnection);
    } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
      handled_ = files;
      if (onFileDialog) onFileDialog(files);
      if (fileNames.isEmpty()) {
        QMetaObject::invokeMethod(files, &QDialog::reject, Qt::QueuedConnection);
      } else {
        files->selectFile(fileNames.takeFirst());
        QMetaObject::invokeMethod(files, &QDialog::accept, Qt::QueuedConnection);
      }
    } else if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && onDialog) {
      if (onDialog(dialog)) handled_ = dialog;
    }
  }

  QTimer timer_;
  QPointer<QWidget> handled_;
};

// A scratch folder that is the working folder while it lives (the jobs
// write "kernel.png" there).
class ScratchFolder {
 public:
  ScratchFolder() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
  ~ScratchFolder() { QDir::setCurrent(previous_); }
  QString path(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
  QString previous_;
};

// A colour picture with edges in every direction: bars, discs and a ramp.
cv::Mat TestPicture(int rows, int cols);

// TestPicture blurred by a seeded shake kernel of the given size.
cv::Mat BlurredTestPicture(int rows, int cols, int kernelSize);

// Writes picture to path (format by extension); fails the test otherwise.
void WritePicture(const QString& path, const cv::Mat& picture);

// Answers the first wizard that opens by finishing it on `page`, through its
// Finish button; for ModalAnswerer::onDialog.
std::function<bool(QDialog*)> FinishWizardOnPage(int page);

// The named child of a window, or the test ends.
template <typename T>
T* Child(QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  if (!child) qFatal("no child %s", name);
  return child;
}

// Waits for a page's job to end.
#define VELMORA_WAIT_FOR_JOB(page) QTRY_VERIFY_WITH_TIMEOUT(!(page)->busy(), 60000)

// The common set-up of a window test: a scratch working folder and a shown
// main window on a machine without a usable GPU, its start-up box answered.
class AppFixture {
 protected:
  void SetUp();
  void TearDown();
  // Writes picture under name in the scratch folder and opens it.
  SubMainWindow* Open(const cv::Mat& picture, const QString& name = "picture.png");

  ModalAnswerer answerer;
  std::unique_ptr<ScratchFolder> folder;
  std::unique_ptr<MainWindow> main;
};

#define VELMORA_GUI_TEST_MAIN(TestClass)                                 \
  int main(int argc, char** argv) {                                      \
    qputenv("QT_QPA_PLATFORM", "offscreen");                             \
    QApplication application(argc, argv);                                \
    TestClass test;                                                      \
    return QTest::qExec(&test, argc, argv);                              \
  }
