// The document window: its parameter panel, Run and the result tabs, the
// enabling rules across documents, and closing while a job runs.
#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>
#include <QToolTip>
#include <random>

#include "app/gpu_state.h"
#include "app/imagelabel.h"
#include "app/imagewidget.h"
#include "app/mainwindow.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "app/workingthread.h"
#include "pipeline/highlights.h"
#include "tests/app/gui_test_support.h"
#include "tools/night_scene.h"
#include "tools/shake.h"

class DocumentTest : public QObject, AppFixture {
  Q_OBJECT

 private:

  static void WaitForJob(ImageWidget* page) { VELMORA_WAIT_FOR_JOB(page); }

 private slots:
  void init() { SetUp(); }
  void cleanup() { TearDown(); }

  void settingsFollowTheControls() {
    SubMainWindow* d = Open(TestPicture(200, 200));
    QCOMPARE(d->model()->settings().kernelHeight, 19);
    QCOMPARE(d->model()->settings().smoothness, 0.04f);
    QVERIFY(d->model()->settings().useCpu);
    QVERIFY(Child<QRadioButton>(d, "rdb_cpu")->isChecked());
    QVERIFY(!Child<QRadioButton>(d, "rdb_gpu")->isEnabled());
    QVERIFY(Child<QGroupBox>(d, "grp_processor")->isHidden());
    QVERIFY(Child<QWidget>(d, "wdg_internal")->isHidden());

    Child<QRadioButton>(d, "rdb_kernelMedium")->click();
    QCOMPARE(d->model()->settings().kernelHeight, 31);
    QCOMPARE(d->model()->settings().kernelWidth, 31);
    QCOMPARE(Child<QGroupBox>(d, "grp_kernel")->minimumHeight(), 90);
    // Large, then Custom without a slider move: still 51, labels still "19 px".
    Child<QRadioButton>(d, "rdb_kernelLarge")->click();
    Child<QRadioButton>(d, "rdb_kernelCustom")->click();
    QCOMPARE(d->model()->settings().kernelHeight, 51);
    QCOMPARE(Child<QGroupBox>(d, "grp_kernel")->minimumHeight(), 160);
    QVERIFY(!Child<QSlider>(d, "hsl_height")->isHidden());
    QCOMPARE(Child<QLabel>(d, "lbl_heightValue")->text(), QString("19 px"));
    Child<QSlider>(d, "hsl_height")->setValue(20);
    QCOMPARE(d->model()->settings().kernelHeight, 41);
    QCOMPARE(d->model()->settings().kernelWidth, 51);
    QCOMPARE(Child<QLabel>(d, "lbl_heightValue")->text(), QString("41 px"));

    auto* smoothness = Child<QSlider>(d, "hsl_wtdeconv");
    smoothness->setValue(0);
    QCOMPARE(Child<QLabel>(d, "lbl_wtdeconvValue")->text(), QString("0.00"));
    smoothness->setValue(20);
    QCOMPARE(d->model()->settings().smoothness, 0.2f);
    QCOMPARE(Child<QLabel>(d, "lbl_wtdeconvValue")->text(), QString("0.20"));
    Child<QCheckBox>(d, "chb_dering")->setChecked(true);
    Child<QCheckBox>(d, "chb_denoise")->setChecked(true);
    QCOMPARE(d->model()->settings().reduceRinging, 1);
    QCOMPARE(d->model()->settings().reduceNoise, 1);
    Child<QRadioButton>(d, "rdb_gamma_2_2")->click();
    QCOMPARE(d->model()->settings().gamma, 2.2f);

    // syncControls writes the settings back into the controls.
    DeblurSettings settings = d->model()->settings();
    settings.kernelHeight = settings.kernelWidth = 31;
    settings.smoothness = 0.07f;
    settings.reduceRinging = 0;
    d->model()->setSettings(settings);
    d->syncControls();
    QCOMPARE(Child<QSlider>(d, "hsl_height")->value(), 15);
    QCOMPARE(Child<QSlider>(d, "hsl_wtdeconv")->value(), 7);
    QVERIFY(!Child<QCheckBox>(d, "chb_dering")->isChecked());
    QCOMPARE(Child<QLabel>(d, "lbl_widthValue")->text(), QString("31 px"));
  }

  void helpButtonsShowNothingOnHover() {
    SubMainWindow* d = Open(TestPicture(200, 200));
    for (const char* name :
         {"btn_helpKernel", "btn_helpAuto", "btn_helpWtdeconv", "btn_helpDering", "btn_helpDenoise",
          "btn_helpHighlights"})
      QVERIFY(Child<QPushButton>(d, name)->toolTip().isEmpty());
    // A click shows it.
    Child<QPushButton>(d, "btn_helpAuto")->click();
    QTRY_VERIFY(QToolTip::isVisible());
    QVERIFY2(QToolTip::text().contains("finds how long the shake is"), qPrintable(QToolTip::text()));
    QToolTip::hideText();
    auto* advance = Child<QToolButton>(d, "btn_advance");
    QCOMPARE(Child<QGroupBox>(d, "grp_params")->minimumHeight(), 25);
    advance->click();
    QVERIFY(d->advancedShown());
    QTRY_COMPARE(Child<QGroupBox>(d, "grp_params")->minimumHeight(), 160);
    // Every parameter fits the opened panel.
    auto* last = Child<QWidget>(d, "btn_helpHighlights");
    QVERIFY(last->mapTo(Child<QGroupBox>(d, "grp_params"), QPoint(0, last->height())).y() < 160);
    advance->click();
    QVERIFY(!d->advancedShown());
    QTRY_COMPARE(Child<QGroupBox>(d, "grp_params")->minimumHeight(), 25);
  }

  // Protect Highlights is off until checked, and each job keeps what the box
  // said at its Run, a blind one and one with a loaded kernel alike. On a
  // picture with clipped lamps it changes the result.
  void protectHighlightsTravelsWithEveryJob() {
    const cv::Mat kernel = velmora::tools::GenerateShakeKernel(7, 4);
    cv::Mat day;
    TestPicture(240, 240).convertTo(day, CV_32FC3, 1.0 / 255.0);
    const cv::Mat night = velmora::tools::CameraRecord(
        velmora::tools::NightScene(day, 3, {.darken = 0.1, .lampsPerMegapixel = 150.0}), kernel, 0.002, 7);
    QVERIFY(velmora::ShowsClippedHighlights(night));
    SubMainWindow* d = Open(night);
    auto* box = Child<QCheckBox>(d, "chb_highlights");
    QVERIFY(!box->isChecked());
    QCOMPARE(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Name), QString("Protect Highlights"));
    QCOMPARE(QAccessible::queryAccessibleInterface(Child<QPushButton>(d, "btn_helpHighlights"))->text(QAccessible::Name),
             QString("Help on protecting highlights"));

    // The finished page of a Run, or null when its job does not carry the
    // choice (or the caption or tooltip does not say it).
    const auto run = [&](velmora::Highlights expected, const char* mode) -> ImageWidget* {
      d->on_btn_run_clicked();
      ImageWidget* page = d->currentPage();
      const bool on = expected == velmora::Highlights::kModel;
      const velmora::JobOptions* worker = main->jobController()->options(page->result()->jobId());
      const bool carried = page->result()->mode() == mode && worker && worker->highlights == expected &&
                           page->caption().contains(", Protect Highlights") == on &&
                           d->tabs()->tabToolTip(d->tabs()->indexOf(page))
                               .contains(on ? "Protect Highlights: on" : "Protect Highlights: off");
      WaitForJob(page);
      return carried ? page : nullptr;
    };
    QVERIFY(run(velmora::Highlights::kKeep, "complete"));
    box->click();
    ImageWidget* blind = run(velmora::Highlights::kModel, "complete");
    QVERIFY(blind);
    d->model()->setKnownKernel(kernel, "shake.png");
    ImageWidget* known = run(velmora::Highlights::kModel, "remaining");
    QVERIFY(known);
    box->click();
    QCOMPARE(blind->result()->request().options.highlights, velmora::Highlights::kModel);  // a page keeps its job's
    ImageWidget* knownOff = run(velmora::Highlights::kKeep, "remaining");
    QVERIFY(knownOff);
    QVERIFY2(answerer.boxes.isEmpty(), answerer.boxes.isEmpty() ? "" : qPrintable(answerer.boxes[0].text));
    QVERIFY(cv::norm(known->result()->image(), knownOff->result()->image(), cv::NORM_L1) > 0);
  }

  void resultTabsAreNumberedOnce() {
    SubMainWindow* d = Open(BlurredTestPicture(200, 200, 7));
    QTabWidget* tabs = d->tabs();
    d->on_btn_run_clicked();
    QCOMPARE(tabs->tabText(1), QString("Result1 - CPU"));
    WaitForJob(d->currentPage());
    QVERIFY(d->advancedShown());  // the first finished job opens the parameters
    d->on_btn_run_clicked();
    WaitForJob(d->currentPage());
    d->on_tabs_tabCloseRequested(1);
    d->on_tabs_tabCloseRequested(0);  // the Input tab stays
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QString("Input"));
    QCOMPARE(tabs->tabText(1), QString("Result2 - CPU"));
    d->on_btn_run_clicked();
    QCOMPARE(tabs->tabText(2), QString("Result3 - CPU"));
    WaitForJob(d->currentPage());
  }

  // The estimator follows the checked button, however it was checked, and
  // travels with the job; the caption names the sharp one only.
  void estimatorChoiceReachesTheJobAndTheCaption() {
    SubMainWindow* d = Open(BlurredTestPicture(200, 200, 7));
    auto* sharp = Child<QRadioButton>(d, "rdb_estimatorSharp");
    QVERIFY(Child<QRadioButton>(d, "rdb_estimatorClassic")->isChecked());
    QCOMPARE(d->model()->options().estimator, velmora::KernelEstimator::kClassic);
    sharp->setChecked(true);  // as keyboard, mouse and accessibility toggling all end
    QCOMPARE(d->model()->options().estimator, velmora::KernelEstimator::kSharp);
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    QCOMPARE(page->result()->request().options.estimator, velmora::KernelEstimator::kSharp);
    QCOMPARE(page->caption(), QString("Smoothness = 0.04, Sharp Estimator"));
    WaitForJob(page);
    QVERIFY(page->caption().startsWith("Smoothness = 0.04, Sharp Estimator<br />Running time "));
    Child<QRadioButton>(d, "rdb_estimatorClassic")->click();
    QCOMPARE(d->model()->options().estimator, velmora::KernelEstimator::kClassic);
    QCOMPARE(page->result()->request().options.estimator, velmora::KernelEstimator::kSharp);  // a page keeps its job's
  }

  // Auto is no default and takes no size of the user's. Its job searches up
  // to the largest size the picture holds three times a side; the caption
  // and the tab's tooltip give the size found. A size chosen again is given.
  void autoFindsTheBlurSizeAndSaysWhich() {
    SubMainWindow* d = Open(BlurredTestPicture(220, 260, 9));
    QVERIFY(Child<QRadioButton>(d, "rdb_kernelSmall")->isChecked() && !d->model()->options().findBlurSize);
    Child<QRadioButton>(d, "rdb_kernelCustom")->click();
    Child<QRadioButton>(d, "rdb_kernelAuto")->click();
    QVERIFY(d->model()->options().findBlurSize);
    QVERIFY(Child<QSlider>(d, "hsl_height")->isHidden() && Child<QSlider>(d, "hsl_width")->isHidden());

    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    const JobRequest& asked = page->result()->request();
    QVERIFY(asked.options.findBlurSize);
    const int boundHeight = asked.settings.kernelHeight, boundWidth = asked.settings.kernelWidth;
    for (const auto& [bound, side] : {std::pair{boundHeight, 220}, std::pair{boundWidth, 260}})
      QVERIFY2(bound % 2 == 1 && 3 * bound <= side && 3 * (bound + 2) > side, qPrintable(QString::number(bound)));
    QCOMPARE(page->caption(), QString("Smoothness = 0.04, Auto Blur Size"));
    QVERIFY(d->tabs()->tabToolTip(1).contains(QString("Blur size: Auto, at most %1 x %2 px").arg(boundHeight).arg(boundWidth)));
    WaitForJob(page);
    QVERIFY(answerer.boxes.isEmpty());
    const int h = page->result()->foundKernelHeight(), w = page->result()->foundKernelWidth();
    QVERIFY2(h >= 3 && h <= boundHeight && h % 2 == 1 && w >= 3 && w <= boundWidth && w % 2 == 1,
             qPrintable(QString("%1 x %2").arg(h).arg(w)));
    QCOMPARE(page->result()->kernel().size(), cv::Size(w, h));
    const QString found = QString("Blur size found: %1 x %2").arg(h).arg(w);
    QVERIFY2(page->caption().startsWith("Smoothness = 0.04<br />" + found + "<br />Running time "),
             qPrintable(page->caption()));
    QVERIFY(QAccessible::queryAccessibleInterface(Child<QLabel>(page, "lbl_param"))->text(QAccessible::Name).contains(found));
    QVERIFY2(d->tabs()->tabToolTip(1).contains(found + " px"), qPrintable(d->tabs()->tabToolTip(1)));

    Child<QRadioButton>(d, "rdb_kernelSmall")->click();
    QVERIFY(!d->model()->options().findBlurSize);
    d->on_btn_run_clicked();
    ImageWidget* given = d->currentPage();
    QVERIFY(!given->result()->request().options.findBlurSize);
    QCOMPARE(given->result()->request().settings.kernelHeight, 19);
    WaitForJob(given);
    QCOMPARE(given->result()->foundKernelHeight(), 0);
    QVERIFY(!given->caption().contains("Blur size"));
  }

  // With Auto a region is held to the size it leaves room for: one too
  // small for the custom 121 is taken, and its job searches no further than
  // the region's sides allow; "Whole Image >>" keeps the size found.
  void autoOnARegionIsBoundedByTheRegion() {
    SubMainWindow* d = Open(BlurredTestPicture(420, 420, 9));
    ImageLabel* label = d->inputPage()->label();
    QTRY_COMPARE(label->size(), QSize(420, 420));
    const auto drag = [label] {
      QTest::mousePress(label, Qt::LeftButton, {}, QPoint(40, 50));
      QTest::mouseMove(label, QPoint(300, 290));
      QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(300, 290));
    };
    Child<QRadioButton>(d, "rdb_kernelCustom")->click();
    Child<QSlider>(d, "hsl_height")->setValue(60);
    Child<QSlider>(d, "hsl_width")->setValue(60);
    drag();
    QVERIFY(!d->model()->regionSelected());
    Child<QRadioButton>(d, "rdb_kernelAuto")->click();
    drag();
    QVERIFY(d->model()->regionSelected());

    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    const DeblurSettings& asked = page->result()->request().settings;
    const int boundHeight = asked.kernelHeight, boundWidth = asked.kernelWidth;
    // The largest both the region rule and the job's cut accept.
    const velmora::PixelRegion cut = velmora::RegionInPixels(d->model()->region(), 420, 420);
    const auto accepted = [&](int height, int width) {
      return velmora::RegionAccepted(d->model()->region(), 420, 420, height, width) && 3 * height <= cut.rows &&
             3 * width <= cut.cols;
    };
    QVERIFY(accepted(boundHeight, boundWidth));
    QVERIFY(!accepted(boundHeight + 2, boundWidth) && !accepted(boundHeight, boundWidth + 2));
    WaitForJob(page);
    const ResultPage* result = page->result();
    const QString found = QString("Blur size found: %1 x %2").arg(result->foundKernelHeight()).arg(result->foundKernelWidth());
    QVERIFY2(page->result()->foundKernelHeight() > 0 && page->caption().contains(found), qPrintable(page->caption()));
    page->result()->runWholePicture();
    WaitForJob(page);
    QVERIFY(page->caption().contains(found));
    QCOMPARE(page->result()->image().size(), cv::Size(420, 420));
  }

  // A picture without room for the smallest blur is refused before any
  // job. (Pictures that small do not open; the rule holds all the same.)
  void autoRefusesAPictureTooSmallForAnySize() {
    SubMainWindow* d = Open(TestPicture(200, 200));
    Child<QRadioButton>(d, "rdb_kernelAuto")->click();
    d->model()->setPicture(cv::Mat(200, 8, CV_8UC3, cv::Scalar(90, 90, 90)));
    d->on_btn_run_clicked();
    QCOMPARE(d->tabs()->count(), 1);
    QCOMPARE(answerer.titles(), QStringList{"Error"});
    QVERIFY2(answerer.boxes[0].text.contains("too small for any blur size"), qPrintable(answerer.boxes[0].text));
  }

  void oneJobAtATimeAcrossDocuments() {
    SubMainWindow* a = Open(BlurredTestPicture(420, 420, 9), "a.png");
    SubMainWindow* b = Open(BlurredTestPicture(200, 200, 7), "b.png");
    b->on_btn_run_clicked();
    ImageWidget* bPage = b->currentPage();
    WaitForJob(bPage);
    auto* area = Child<QMdiArea>(main.get(), "mdiArea");
    area->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(a->parentWidget()));

    a->on_btn_run_clicked();
    ImageWidget* aPage = a->currentPage();
    QVERIFY(main->jobRunning());
    QVERIFY(!a->runEnabled());
    QVERIFY(!b->runEnabled());
    QVERIFY(!main->saveEnabled());
    SubMainWindow* c = Open(TestPicture(200, 200), "c.png");  // opened meanwhile
    QVERIFY(!c->runEnabled());
    a->on_btn_run_clicked();  // refused while a job runs
    QCOMPARE(a->tabs()->count(), 2);

    // The job in a ends while c's Input tab is shown: Save stays off.
    QVERIFY(main->activeDocument() == c);
    WaitForJob(aPage);
    QVERIFY(!main->jobRunning());
    QVERIFY(a->runEnabled() && b->runEnabled() && c->runEnabled());
    QVERIFY(!main->saveEnabled());
    area->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(a->parentWidget()));
    QVERIFY(main->saveEnabled());
    a->tabs()->setCurrentIndex(0);
    QVERIFY(!main->saveEnabled());
  }

  // Closing a running page or its document asks first; No keeps the job,
  // Yes stops it and closes, leaving nothing running.
  void closingDuringAJobAsksToStopIt() {
    SubMainWindow* d = Open(BlurredTestPicture(420, 420, 9));
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    QPointer<ImageWidget> alive(page);
    answerer.buttons = {QMessageBox::No, QMessageBox::No};
    d->on_tabs_tabCloseRequested(1);
    QVERIFY(alive);
    QCOMPARE(answerer.titles(), QStringList{"Job Running"});
    QCOMPARE(answerer.boxes[0].text, QString("A job is running. Stop it and close?"));
    auto* sub = qobject_cast<QMdiSubWindow*>(d->parentWidget());
    QVERIFY(!sub->close());
    QVERIFY(alive && page->busy() && main->jobRunning());
    QCOMPARE(answerer.boxes.size(), 2);

    answerer.buttons = {QMessageBox::Yes};
    d->on_tabs_tabCloseRequested(1);
    QVERIFY(!alive);
    QVERIFY(!main->jobRunning());
    QVERIFY(d->runEnabled());

    d->on_btn_run_clicked();
    QVERIFY(main->jobRunning());
    answerer.buttons = {QMessageBox::Yes};
    QPointer<SubMainWindow> document(d);
    QVERIFY(sub->close());
    QTRY_VERIFY(!document);
    QVERIFY(!main->jobRunning());
  }

  // Cancel (and Esc) stops a running job: the page says so, keeps nothing to
  // save, and Run comes back.
  void cancelStopsTheJob() {
    SubMainWindow* d = Open(BlurredTestPicture(420, 420, 9));
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    auto* cancel = Child<QPushButton>(page, "btn_cancel");
    QVERIFY(!cancel->isHidden());
    QVERIFY(!d->runEnabled());
    cancel->click();
    WaitForJob(page);
    QVERIFY(page->result()->cancelled());
    QVERIFY(cancel->isHidden());
    QVERIFY(page->caption().endsWith("<br />Cancelled"));
    QVERIFY(!page->result()->hasResult());
    QVERIFY(!main->saveEnabled());
    QVERIFY(answerer.boxes.isEmpty());
    QVERIFY(d->runEnabled());
    QVERIFY(!main->jobRunning());

    d->on_btn_run_clicked();
    ImageWidget* second = d->currentPage();
    QTest::keyClick(main.get(), Qt::Key_Escape);
    WaitForJob(second);
    QVERIFY(second->result()->cancelled());
    QVERIFY(d->runEnabled());
  }

  void partialRunOffersTheWholePicture() {
    SubMainWindow* d = Open(BlurredTestPicture(400, 400, 9));
    d->model()->setRegion({0.1, 0.1, 0.7, 0.7}, true);
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    QCOMPARE(page->result()->mode(), std::string("partial"));
    WaitForJob(page);
    QVERIFY2(answerer.boxes.isEmpty(), answerer.boxes.isEmpty() ? "" : qPrintable(answerer.boxes[0].text));
    QVERIFY(page->nextShown());
    QCOMPARE(page->result()->mode(), std::string("remaining"));
    QVERIFY(page->label()->hasRegion());
    const cv::Mat partial = page->result()->image().clone();

    page->result()->runWholePicture();
    QVERIFY(page->busy());
    QVERIFY(!page->nextShown());
    QVERIFY(!d->runEnabled());
    QVERIFY(!main->saveEnabled());  // the whole-picture run is still going
    WaitForJob(page);
    QVERIFY(!page->nextShown());
    QVERIFY(main->saveEnabled());
    QVERIFY(d->runEnabled());
    QCOMPARE(page->result()->image().size(), partial.size());
    QVERIFY(cv::norm(page->result()->image(), partial, cv::NORM_L1) > 0);  // outside the region changed too
  }

  void failedPartialRunOffersNothing() {
    cv::Mat noise(300, 300, CV_8UC3);
    std::mt19937 rng(9);
    for (auto it = noise.begin<cv::Vec3b>(); it != noise.end<cv::Vec3b>(); ++it) {
      const uchar v = rng() % 2 ? 227 : 0;
      *it = cv::Vec3b(v, v, v);
    }
    SubMainWindow* d = Open(noise);
    d->model()->setRegion({0.1, 0.1, 0.8, 0.8}, true);
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    WaitForJob(page);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QString("Error"));
    QCOMPARE(answerer.boxes[0].text,
             QString("Insufficient information.\nPlease try larger patch or adjust the kernel size."));
    QVERIFY(!page->nextShown());
    QCOMPARE(cv::norm(page->result()->image(), noise, cv::NORM_INF), 0.0);  // the picture, unchanged
    QVERIFY(d->runEnabled());
  }

  void jobWithoutAModeShowsAnError() {
    SubMainWindow* d = Open(TestPicture(200, 200));
    auto* page = new ImageWidget(ImageWidget::Kind::kResult);
    d->tabs()->addTab(page, "Result9 - CPU");
    d->tabs()->setCurrentWidget(page);
    JobRequest request;
    request.picture = d->model()->picture().clone();
    request.settings = d->model()->settings();
    request.mode = "bogus";
    page->result()->setJobController(main->jobController());
    page->result()->start(request);
    WaitForJob(page);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QString("Error"));
    QVERIFY(!page->result()->hasResult());
    QVERIFY(!main->saveEnabled());  // nothing to save
    QVERIFY(!page->picture().isNull());  // the input stays shown
    QVERIFY(d->runEnabled());
  }
};

VELMORA_GUI_TEST_MAIN(DocumentTest)
#include "test_app_document.moc"
