// The viewer pages: zoom, the shared scroll position, region drawing on the
// input page, and one whole job through the worker thread.
#include <QLabel>
#include <QMdiArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <opencv2/imgcodecs.hpp>

#include "app/gpu_state.h"
#include "app/imagelabel.h"
#include "app/imagescrollarea.h"
#include "app/imagewidget.h"
#include "app/input_page.h"
#include "app/mainwindow.h"
#include "app/picture_view.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "app/view_geometry.h"
#include "app/workingthread.h"
#include "tests/app/gui_test_support.h"

class ViewerTest : public QObject, AppFixture {
  Q_OBJECT

 private:

  static QLabel* ZoomLabel(ImageWidget* page) { return page->findChild<QLabel*>("lbl_zoom"); }
  static QPushButton* Button(ImageWidget* page, const char* name) {
    return page->findChild<QPushButton*>(name);
  }

  // A left-button drag on the label from a to b.
  static void Drag(ImageLabel* label, QPoint a, QPoint b) {
    QTest::mousePress(label, Qt::LeftButton, {}, a);
    QTest::mouseMove(label, (a + b) / 2);
    QTest::mouseMove(label, b);
    QTest::mouseRelease(label, Qt::LeftButton, {}, b);
  }

  static void Wheel(QWidget* area, int delta) {
    QWheelEvent event(QPointF(5, 5), area->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(qobject_cast<QAbstractScrollArea*>(area)->viewport(), &event);
  }

 private slots:
  void init() { SetUp(); }
  void cleanup() { TearDown(); }

  void mappingBetweenLabelAndPicture() {
    // A picture not larger than its label: no offset.
    QPointF r = LabelToRelative({50, 20}, QSizeF(200, 100), QSize(300, 100));
    QCOMPARE(r, QPointF(0.25, 0.2));
    // Larger than the label: centred, half the excess added.
    r = LabelToRelative({0, 0}, QSizeF(400, 100), QSize(300, 100));
    QCOMPARE(r.x(), 50.0 / 400.0);
    QCOMPARE(RelativeToLabel({0.125, 0.5}, QSizeF(400, 100), QSize(300, 100)), QPoint(0, 50));
    QCOMPARE(RelativeToLabel({1.0, 1.0}, QSizeF(400, 100), QSize(300, 100)), QPoint(300, 100));
    QCOMPARE(RelativeToLabel({0.0, 0.0}, QSizeF(400, 100), QSize(300, 100)), QPoint(0, 0));  // clamped
    QCOMPARE(NormalisedSelection({30, 40}, {10, 5}), QRect(10, 5, 20, 35));
  }

  void zoomLimitsAndLabels() {
    SubMainWindow* d = Open(TestPicture(300, 400));
    ImageWidget* page = d->inputPage();
    DocumentModel* model = d->model();
    QCOMPARE(ZoomLabel(page)->text(), QString("1.0x"));
    for (int i = 0; i < 9; ++i) Button(page, "btn_zoomIn")->click();
    QVERIFY(qAbs(model->zoom() - 5.16f) < 0.01f);
    QCOMPARE(ZoomLabel(page)->text(), QString("5.2x"));
    QVERIFY(!Button(page, "btn_zoomIn")->isEnabled());
    QCOMPARE(page->label()->pixmap().height(), static_cast<int>(300 * model->zoom()));
    const float top = model->zoom();
    Button(page, "btn_zoomIn")->click();  // disabled: nothing
    QCOMPARE(model->zoom(), top);
    page->view()->zoomIn();  // the step itself stops at the limit too
    QCOMPARE(model->zoom(), top);
    model->setZoom(1.0f);
    for (int i = 0; i < 10; ++i) page->view()->zoomOut();  // the tenth is below the limit: nothing
    QVERIFY(qAbs(model->zoom() - 0.1938f) < 0.001f);
    QCOMPARE(ZoomLabel(page)->text(), QString("0.2x"));
    QVERIFY(!Button(page, "btn_zoomOut")->isEnabled());
    QVERIFY(Button(page, "btn_zoomIn")->isEnabled());
  }

  // While a page's job runs the wheel and the zoom keys leave the zoom
  // alone there; its buttons still act. (The job's end is handled in the
  // event loop, which nothing below runs: the page stays busy meanwhile.)
  void wheelZoomsExceptWhileBusy() {
    SubMainWindow* d = Open(BlurredTestPicture(300, 300, 7));
    DocumentModel* model = d->model();
    auto* inputArea = d->inputPage()->findChild<ImageScrollArea*>("sca_imgArea");
    Wheel(inputArea, 120);
    QCOMPARE(model->zoom(), 1.2f);
    Wheel(inputArea, -120);
    QCOMPARE(model->zoom(), 1.2f / 1.2f);

    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    QVERIFY(page->busy());
    auto* area = page->findChild<ImageScrollArea*>("sca_imgArea");
    Wheel(area, 120);
    QCOMPARE(model->zoom(), 1.0f);
    QTest::keyClick(main.get(), Qt::Key_Equal, Qt::ControlModifier);
    QCOMPARE(model->zoom(), 1.0f);
    Button(page, "btn_zoomIn")->click();
    QCOMPARE(model->zoom(), 1.2f);
    VELMORA_WAIT_FOR_JOB(page);
    Wheel(area, 120);
    QCOMPARE(model->zoom(), 1.2f * 1.2f);
  }

  void scrollPositionIsShared() {
    SubMainWindow* d = Open(TestPicture(1200, 1500));
    ImageWidget* page = d->inputPage();
    QTRY_VERIFY(page->findChild<ImageScrollArea*>()->horizontalScrollBar()->maximum() > 100);
    page->findChild<ImageScrollArea*>()->horizontalScrollBar()->setValue(77);
    page->findChild<ImageScrollArea*>()->verticalScrollBar()->setValue(55);
    QCOMPARE(d->model()->scrollX(), 77);
    QCOMPARE(d->model()->scrollY(), 55);
  }

  void regionDrawingOnTheInputPage() {
    SubMainWindow* d = Open(TestPicture(600, 600));
    ImageWidget* page = d->inputPage();
    DocumentModel* model = d->model();
    ImageLabel* label = page->label();
    QTRY_COMPARE(label->size(), QSize(600, 600));

    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(100, 100));  // a click: no region, no box
    QVERIFY(!model->regionSelected());
    QVERIFY(answerer.boxes.isEmpty());

    Drag(label, {100, 100}, {200, 200});  // 100 x 100 pixels
    QCOMPARE(answerer.titles(), QStringList{"Too small"});
    QCOMPARE(answerer.boxes[0].text, QString("Please choose a larger region."));
    QVERIFY(!model->regionSelected() && !label->hasRegion());

    answerer.clear();
    Drag(label, {350, 400}, {50, 80});  // dragged up and left
    QVERIFY(answerer.boxes.isEmpty());
    QVERIFY(model->regionSelected() && page->input()->regionSelected() && label->hasRegion());
    QCOMPARE(model->region().x, 50.0 / 600.0);
    QCOMPARE(model->region().y, 80.0 / 600.0);
    QCOMPARE(model->region().width, 349.0 / 600.0 - 50.0 / 600.0);
    QCOMPARE(page->input()->regionInLabel().topLeft(), QPoint(50, 80));

    // Kernel sizes raise the minimum above 200 only beyond 66 pixels.
    DeblurSettings settings = model->settings();
    settings.kernelHeight = 71;
    model->setSettings(settings);
    Drag(label, {1, 1}, {300, 213});  // 211 rows: below 3 x 71 = 213
    QVERIFY(!model->regionSelected());
    answerer.clear();
    Drag(label, {1, 1}, {300, 216});  // QTest takes (0, 0) for the centre
    QVERIFY(model->regionSelected());

    QTest::mouseClick(label, Qt::RightButton, {}, QPoint(10, 10));  // clears it
    QVERIFY(!model->regionSelected() && !label->hasRegion());
    d->on_btn_run_clicked();
    QCOMPARE(d->currentPage()->result()->mode(), std::string("complete"));
    VELMORA_WAIT_FOR_JOB(d->currentPage());
  }

  void resultPagesIgnoreTheMouse() {
    SubMainWindow* d = Open(BlurredTestPicture(220, 220, 7));
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    VELMORA_WAIT_FOR_JOB(page);
    Drag(page->label(), {1, 1}, {210, 210});
    QVERIFY(!d->model()->regionSelected());
    QVERIFY(!page->label()->hasRegion());
  }

  void wholeJobThroughTheWorkerThread() {
    const cv::Mat blurred = BlurredTestPicture(240, 240, 9);
    SubMainWindow* d = Open(blurred);
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    QVERIFY(page->busy());
    QCOMPARE(page->label()->text(), QString("Generating..."));
    QCOMPARE(page->caption(), QString("Smoothness = 0.04"));
    QVERIFY(!page->progressBar()->isHidden());
    VELMORA_WAIT_FOR_JOB(page);

    QVERIFY(answerer.boxes.isEmpty());
    QVERIFY(page->progressBar()->isHidden());
    QCOMPARE(page->progressBar()->value(), 1000);
    QVERIFY(page->caption().startsWith("Smoothness = 0.04<br />Running time "));
    QVERIFY(page->caption().endsWith("s"));
    QVERIFY(!page->nextShown());
    QVERIFY(!page->findChild<QPushButton*>("btn_back")->isHidden());
    QCOMPARE(page->result()->image().size(), blurred.size());
    QVERIFY(cv::norm(page->result()->image(), blurred, cv::NORM_L1) > 0);
    QCOMPARE(page->picture().size(), QSize(240, 240));
    QVERIFY(QFile::exists(folder->path("kernel.png")));
    const cv::Mat kernel = cv::imread(folder->path("kernel.png").toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(kernel.size(), cv::Size(19, 19));

    QVERIFY(main->saveEnabled());
    QVERIFY(main->savePage(page, folder->path("result.png")));
    const cv::Mat saved = cv::imread(folder->path("result.png").toStdString(), cv::IMREAD_COLOR);
    QCOMPARE(cv::norm(saved, page->result()->image(), cv::NORM_INF), 0.0);

    page->findChild<QPushButton*>("btn_back")->click();
    QCOMPARE(d->currentPage(), d->inputPage());
  }

  void exceptionsOnTheWorkerEndTheJob() {
    velmora::DeblurJob job(DeblurSettings{}, nullptr);
    job.result = cv::Mat(3, 3, CV_8UC3);
    WorkingThread::RunCaught(job, [] { throw std::runtime_error("engine fault"); });
    QCOMPARE(job.status, static_cast<int>(velmora::kJobInternalError));
    QVERIFY(job.result.empty());
    WorkingThread::RunCaught(job, [] { throw 42; });
    QCOMPARE(job.status, static_cast<int>(velmora::kJobInternalError));
  }
};

VELMORA_GUI_TEST_MAIN(ViewerTest)
#include "test_app_viewer.moc"
