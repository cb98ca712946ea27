// Velmora, the desktop application: removes camera-shake blur from
// photographs. An optional argument names a picture to open at start.
#include <QApplication>

#include "app/gpu_state.h"
#include "app/mainwindow.h"

int main(int argc, char* argv[]) {
  RunGpuTests();
  QApplication application(argc, argv);
  MainWindow window;
  window.show();
  const QStringList arguments = QApplication::arguments();
  window.runWizardFlow(arguments.size() > 1 ? arguments.at(1) : QString());
  return application.exec();
}
