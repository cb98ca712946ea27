// What a finished result page offers besides its picture: before and after
// (swapped or split), its kernel shown and saved, a kernel loaded to restore
// with; and pictures dropped on the window.
#include <QCheckBox>
#include <QFile>
#include <QRadioButton>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/imagelabel.h"
#include "app/imagewidget.h"
#include "app/mainwindow.h"
#include "app/picture_view.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "tests/app/gui_test_support.h"
#include "tools/shake.h"

class ResultsTest : public QObject, AppFixture {
  Q_OBJECT

 private:
  static void WaitForJob(ImageWidget* page) { VELMORA_WAIT_FOR_JOB(page); }

  // The finished result page of a blind run on a blurred test picture.
  ImageWidget* FinishedPage(SubMainWindow** document = nullptr) {
    SubMainWindow* d = Open(BlurredTestPicture(240, 260, 7));
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    WaitForJob(page);
    if (document) *document = d;
    return page;
  }

  static QImage Shown(ImageWidget* page) { return page->label()->pixmap().toImage().convertToFormat(QImage::Format_RGB888); }

  static QColor InputColour(const SubMainWindow* d, int x, int y) {
    const cv::Vec3b bgr = d->model()->picture().at<cv::Vec3b>(y, x);
    return QColor(bgr[2], bgr[1], bgr[0]);
  }

 private slots:
  void init() { SetUp(); }
  void cleanup() { TearDown(); }

  void compareSwapsAndSplits() {
    SubMainWindow* d = nullptr;
    ImageWidget* page = FinishedPage(&d);
    auto* compare = Child<QPushButton>(page, "btn_compare");
    auto* split = Child<QCheckBox>(page, "chb_split");
    QVERIFY(!compare->isHidden() && !split->isHidden());
    QVERIFY(!d->inputPage()->findChild<QPushButton*>("btn_compare")->isVisible());
    const QImage result = Shown(page);
    // A pixel where restoring changed the picture.
    QPoint changed(-1, -1);
    for (int y = 10; y < result.height() - 10 && changed.x() < 0; y += 3)
      for (int x = 10; x < result.width() - 10; x += 3)
        if (result.pixelColor(x, y) != InputColour(d, x, y)) {
          changed = QPoint(x, y);
          break;
        }
    QVERIFY(changed.x() >= 0);

    compare->click();
    QVERIFY(page->view()->comparing());
    QCOMPARE(Shown(page).pixelColor(changed), InputColour(d, changed.x(), changed.y()));
    compare->click();
    QCOMPARE(Shown(page).pixelColor(changed), result.pixelColor(changed));

    // The backslash flips it too, zoom and all pages alike.
    QTest::keyClick(main.get(), Qt::Key_Backslash);
    QVERIFY(page->view()->comparing());
    split->setChecked(true);
    page->view()->setSplit(1.0);  // the input everywhere left of the far edge
    QCOMPARE(Shown(page).pixelColor(changed), InputColour(d, changed.x(), changed.y()));
    page->view()->setSplit(0.0);
    QCOMPARE(Shown(page).pixelColor(changed), result.pixelColor(changed));
    // Dragging on the picture moves the divider.
    QTest::mousePress(page->label(), Qt::LeftButton, {}, QPoint(page->label()->width() - 3, 20));
    QTest::mouseRelease(page->label(), Qt::LeftButton, {}, QPoint(page->label()->width() - 3, 20));
    QCOMPARE(Shown(page).pixelColor(changed), InputColour(d, changed.x(), changed.y()));
    QTest::keyClick(main.get(), Qt::Key_Backslash);
    QVERIFY(!page->view()->comparing());
  }

  void kernelIsShownAndSavedWithItsPrecision() {
    ImageWidget* page = FinishedPage();
    auto* view = Child<QLabel>(page, "lbl_kernel");
    QVERIFY(!view->isHidden());
    QCOMPARE(view->accessibleName(), QString("Estimated kernel"));
    QVERIFY(view->pixmap().width() >= 2 * page->result()->kernel().cols);  // enlarged
    QCOMPARE(page->result()->kernel().size(), cv::Size(19, 19));

    answerer.fileNames = {folder->path("k.png")};
    Child<QPushButton>(page, "btn_saveKernel")->click();
    const cv::Mat png = cv::imread(folder->path("k.png").toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(png.depth(), CV_16U);
    double top = 0.0;
    cv::minMaxLoc(png, nullptr, &top);
    QCOMPARE(top, 65535.0);

    answerer.fileNames = {folder->path("k.tif")};
    Child<QPushButton>(page, "btn_saveKernel")->click();
    const cv::Mat tiff = cv::imread(folder->path("k.tif").toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(tiff.depth(), CV_32F);
    QCOMPARE(cv::norm(tiff, page->result()->kernel(), cv::NORM_INF), 0.0);
  }

  void aLoadedKernelRestoresTheWholePicture() {
    SubMainWindow* d = Open(BlurredTestPicture(240, 260, 7));
    const cv::Mat truth = velmora::tools::GenerateShakeKernel(7, 4);
    cv::Mat picture;
    truth.convertTo(picture, CV_16U, 65535.0 / cv::norm(truth, cv::NORM_INF));
    QVERIFY(cv::imwrite(folder->path("true.png").toStdString(), picture));
    answerer.fileNames = {folder->path("true.png")};
    Child<QPushButton>(d, "btn_loadKernel")->click();
    QCOMPARE(d->model()->knownKernelName(), QString("true.png"));
    QVERIFY(!Child<QRadioButton>(d, "rdb_estimatorSharp")->isEnabled());
    d->model()->setRegion({0.1, 0.1, 0.8, 0.8}, true);  // ignored: a loaded kernel restores it all
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    QCOMPARE(page->result()->mode(), std::string("remaining"));
    WaitForJob(page);
    QVERIFY(answerer.boxes.isEmpty());
    QVERIFY(page->result()->hasResult());
    QVERIFY(page->caption().startsWith("Smoothness = 0.04, Kernel: true.png<br />Running time "));
    QCOMPARE(page->result()->kernel().size(), cv::Size(7, 7));

    Child<QPushButton>(d, "btn_clearKernel")->click();
    QVERIFY(d->model()->knownKernel().empty());
    QVERIFY(Child<QRadioButton>(d, "rdb_estimatorSharp")->isEnabled());

    // A file that is no kernel is refused, naming it.
    WritePicture(folder->path("even.png"), cv::Mat(8, 8, CV_8U, cv::Scalar(9)));
    answerer.fileNames = {folder->path("even.png")};
    Child<QPushButton>(d, "btn_loadKernel")->click();
    QCOMPARE(answerer.titles(), QStringList{"Error"});
    QVERIFY(answerer.boxes[0].text.contains("even.png"));
    QVERIFY(d->model()->knownKernel().empty());
  }

  void droppedPicturesOpenAndOthersAreRefused() {
    WritePicture(folder->path("one.png"), TestPicture(220, 230));
    WritePicture(folder->path("two.png"), TestPicture(240, 210));
    QFile text(folder->path("notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a picture");
    text.close();
    const int before = main->documents().size();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder->path("one.png")), QUrl::fromLocalFile(folder->path("two.png")),
                  QUrl::fromLocalFile(folder->path("notes.txt"))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &drop);
    QCOMPARE(main->documents().size(), before + 2);
    QCOMPARE(answerer.titles(), QStringList{"Error"});
    QCOMPARE(answerer.boxes[0].text, QString("Error while opening image file."));
  }
};

VELMORA_GUI_TEST_MAIN(ResultsTest)
#include "test_app_results.moc"
