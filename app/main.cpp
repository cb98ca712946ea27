// Velmora, the desktop application: removes camera-shake blur from
// photographs. Arguments name pictures to open at start: paths or file://
// URIs, as a desktop's "Open With" hands them over.
#include <QApplication>

#include "app/gpu_state.h"
#include "app/mainwindow.h"

int main(int argc, char* argv[]) {
  RunGpuTests();
  QApplication application(argc, argv);
  // Desktops match the window to its menu entry by this name (Wayland).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));
  MainWindow window;
  window.show();
  const QStringList arguments = QApplication::arguments();
  window.openFromDesktop(arguments.mid(1));
  return application.exec();
}
