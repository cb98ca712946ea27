#include "tests/app/gui_test_support.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/gpu_state.h"
#include "app/mainwindow.h"
#include "app/submainwindow.h"
#include "app/wizarddialog.h"
#include "tools/shake.h"

cv::Mat TestPicture(int rows, int cols) {
  cv::Mat picture(rows, cols, CV_8UC3, cv::Scalar(40, 90, 150));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) picture.at<cv::Vec3b>(i, j)[1] = static_cast<uchar>(60 + 120 * j / cols);
  for (int x = 10; x < cols; x += 37)
    cv::rectangle(picture, {x, rows / 8}, {x + 12, rows / 2}, cv::Scalar(230, 230, 230), cv::FILLED);
  cv::circle(picture, {cols / 3, 2 * rows / 3}, rows / 7, cv::Scalar(10, 20, 30), cv::FILLED);
  cv::circle(picture, {2 * cols / 3, 3 * rows / 4}, rows / 9, cv::Scalar(250, 240, 200), cv::FILLED);
  cv::line(picture, {0, rows - 1}, {cols - 1, rows / 3}, cv::Scalar(0, 0, 255), 4);
  return picture;
}

cv::Mat BlurredTestPicture(int rows, int cols, int kernelSize) {
  cv::Mat unit;
  TestPicture(rows, cols).convertTo(unit, CV_32FC3, 1.0 / 255.0);
  const cv::Mat kernel = velmora::tools::GenerateShakeKernel(kernelSize, 4);
  cv::Mat blurred;
  velmora::tools::BlurImage(unit, kernel, 0.002, 7).convertTo(blurred, CV_8UC3, 255.0);
  return blurred;
}

void WritePicture(const QString& path, const cv::Mat& picture) {
  QVERIFY2(cv::imwrite(path.toStdString(), picture), qPrintable(path));
}

std::function<bool(QDialog*)> FinishWizardOnPage(int page) {
  return [page](QDialog* dialog) {
    auto* wizard = qobject_cast<WizardDialog*>(dialog);
    if (!wizard) return false;
    wizard->setPage(page);
    QMetaObject::invokeMethod(wizard->findChild<QPushButton*>("btn_finish"), &QPushButton::click,
                              Qt::QueuedConnection);
    return true;
  };
}

void AppFixture::SetUp() {
  folder = std::make_unique<ScratchFolder>();
  gpuAvailable = false;
  main = std::make_unique<MainWindow>();
  main->show();
  QVERIFY(QTest::qWaitForWindowExposed(main.get()));
  answerer.clear();
}

void AppFixture::TearDown() {
  answerer.onDialog = nullptr;
  main.reset();
  folder.reset();
}

SubMainWindow* AppFixture::Open(const cv::Mat& picture, const QString& name) {
  WritePicture(folder->path(name), picture);
  SubMainWindow* document = main->loadImage(folder->path(name));
  if (!document) qFatal("cannot open the test picture %s", qPrintable(name));
  return document;
}
