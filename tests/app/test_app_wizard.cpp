// The deblurring wizard: navigation, blur size, the region page and Finish.
#include <QCheckBox>
#include <QLabel>
#include <QMdiArea>
#include <QRadioButton>
#include <QSlider>
#include <QToolTip>
#include <opencv2/imgproc.hpp>

#include "app/gpu_state.h"
#include "app/imagelabel.h"
#include "app/imagewidget.h"
#include "app/input_page.h"
#include "app/mainwindow.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "app/wizarddialog.h"
#include "app/wizardimagelabel.h"
#include "app/workingthread.h"
#include "tests/app/gui_test_support.h"

class WizardTest : public QObject, AppFixture {
  Q_OBJECT

 private:
  SubMainWindow* document = nullptr;
  std::unique_ptr<WizardDialog> wizard;

  template <typename T>
  T* Child(const char* name) {
    T* child = wizard->findChild<T*>(name);
    if (!child) qFatal("no child %s", name);
    return child;
  }

  // Finish, and the document takes the choices as the wizard flow hands them
  // over.
  void Finish() {
    Child<QPushButton>("btn_finish")->click();
    if (wizard->result() == QDialog::Accepted) document->applyWizardChoices(wizard->choices());
  }

  void Drag(QPoint a, QPoint b) {
    WizardImageLabel* label = wizard->label();
    QTest::mousePress(label, Qt::LeftButton, {}, a);
    QTest::mouseMove(label, b);
    QTest::mouseRelease(label, Qt::LeftButton, {}, b);
  }

 private slots:
  // A 920 x 660 picture, shown at 461 x 331 on the region page.
  void init() {
    SetUp();
    document = Open(BlurredTestPicture(660, 920, 9));
    wizard = std::make_unique<WizardDialog>(main.get());
    wizard->loadPicture(document->inputPage()->picture(), document->model()->picture());
    wizard->show();
    QVERIFY(QTest::qWaitForWindowExposed(wizard.get()));
    answerer.clear();
  }
  void cleanup() {
    wizard.reset();
    TearDown();
  }

  void navigation() {
    QCOMPARE(wizard->currentPage(), 0);
    QVERIFY(!Child<QPushButton>("btn_prev")->isEnabled());
    QVERIFY(Child<QLabel>("lbl_overview")->font().bold());
    Child<QPushButton>("btn_next")->click();
    QCOMPARE(wizard->currentPage(), 1);
    QVERIFY(!Child<QWidget>("wdg_kernel")->isHidden());
    QVERIFY(Child<QWidget>("wdg_overview")->isHidden());
    QVERIFY(Child<QPushButton>("btn_prev")->isEnabled());
    Child<QPushButton>("btn_prev")->click();
    QCOMPARE(wizard->currentPage(), 0);
    // The "Deblurring Region" link jumps straight to the last page.
    emit Child<QLabel>("lbl_region")->linkActivated("2");
    QCOMPARE(wizard->currentPage(), 2);
    QVERIFY(!Child<QPushButton>("btn_next")->isEnabled());
    QVERIFY(Child<QLabel>("lbl_region")->font().bold());
    QVERIFY(!Child<QLabel>("lbl_overview")->font().bold());
    QVERIFY(Child<QWidget>("grp_gamma")->isHidden());
  }

  void finishOnTheKernelPageSetsTheBlurSize() {
    wizard->setPage(1);
    Child<QRadioButton>("rdb_kernelMedium")->click();
    const WizardChoices chosen = wizard->choices();
    QCOMPARE(chosen.preset, int(kBlurMedium));
    QCOMPARE(chosen.kernelHeight, 31);
    QCOMPARE(chosen.kernelWidth, 31);
    QVERIFY(!chosen.regionSelected && !chosen.runNow && !chosen.protectHighlights);
    Finish();
    QCOMPARE(wizard->result(), int(QDialog::Accepted));
    QCOMPARE(document->model()->settings().kernelHeight, 31);
    QCOMPARE(document->model()->settings().kernelWidth, 31);
    QCOMPARE(document->findChild<QSlider*>("hsl_height")->value(), 15);
    QCOMPARE(document->findChild<QLabel*>("lbl_heightValue")->text(), QString("31 px"));
    QVERIFY(document->findChild<QRadioButton*>("rdb_kernelMedium")->isChecked());
    QVERIFY(!document->model()->regionSelected());
  }

  // Auto comes first, its help shown on a click. Finishing with it makes
  // the document's jobs find the size, within the region's bound; the
  // region rule asks only the 200 pixels of it.
  void autoOnTheBlurSizePage() {
    wizard->setPage(1);
    auto* autoSize = Child<QRadioButton>("rdb_kernelAuto");
    QVERIFY(autoSize->y() < Child<QRadioButton>("rdb_kernelSmall")->y());
    QVERIFY(Child<QPushButton>("btn_helpAuto")->toolTip().isEmpty());
    Child<QPushButton>("btn_helpAuto")->click();
    QTRY_VERIFY(QToolTip::isVisible() && QToolTip::text().contains("finds how long the shake is"));
    QToolTip::hideText();

    Child<QRadioButton>("rdb_kernelLarge")->click();
    autoSize->click();
    QVERIFY(wizard->choices().autoBlurSize());
    QCOMPARE(wizard->choices().kernelHeight, 51);  // the last size chosen stays for the document
    wizard->setPage(2);
    Child<QRadioButton>("rdb_partial")->click();
    Drag({10, 10}, {101, 101});
    QCOMPARE(Child<QLabel>("lbl_regionValue")->text(), QString("179 x 179 px: too small, at least 200 x 200 px"));
    Drag({10, 10}, {112, 122});  // 201 wide, 221 high
    QVERIFY(wizard->choices().regionSelected);
    QVERIFY(wizard->choices().runNow);
    Finish();
    QVERIFY(document->findChild<QRadioButton*>("rdb_kernelAuto")->isChecked());
    QVERIFY(document->model()->options().findBlurSize);

    document->on_btn_run_clicked();
    ImageWidget* page = document->currentPage();
    const JobRequest& asked = page->result()->request();
    QVERIFY(asked.options.findBlurSize);
    QVERIFY(asked.settings.kernelWidth < asked.settings.kernelHeight);
    QVERIFY(3 * asked.settings.kernelWidth <= 201 && 3 * asked.settings.kernelHeight <= 221);
    VELMORA_WAIT_FOR_JOB(page);
    QVERIFY(page->result()->foundKernelHeight() > 0);
  }

  void regionPageRules() {
    wizard->setPage(2);
    WizardImageLabel* label = wizard->label();
    QCOMPARE(label->size(), QSize(461, 331));
    Drag({10, 10}, {200, 200});  // "Deblur whole image" is chosen: drawing does nothing
    QVERIFY(!wizard->choices().regionSelected);

    Child<QRadioButton>("rdb_partial")->click();
    QVERIFY(!Child<QLabel>("lbl_regionValue")->isHidden());
    // The hint shows whole with the platform's default font.
    auto* hint = Child<QLabel>("lbl_regionValue");
    QVERIFY(hint->fontMetrics().horizontalAdvance(hint->text()) <= hint->width());
    Finish();  // no region yet
    QCOMPARE(answerer.titles(), QStringList{"Error"});
    QCOMPARE(answerer.boxes[0].text, QString("Please specify deblurring region, or choose \"Deblur whole image\"."));
    QVERIFY(wizard->isVisible());

    // 91 x 91 label pixels are 179 x 179 picture pixels: too small. The
    // region stays in view, in red, with the reason.
    Drag({10, 10}, {101, 101});
    QVERIFY(!wizard->choices().regionSelected);
    QVERIFY(wizard->label()->hasRegion());
    QCOMPARE(Child<QLabel>("lbl_regionValue")->text(), QString("179 x 179 px: too small, at least 200 x 200 px"));
    QVERIFY(Child<QLabel>("lbl_regionValue")->styleSheet().contains("red"));
    // With Large (51) the minimum is still 200 pixels of the picture.
    Child<QRadioButton>("rdb_kernelLarge")->click();
    Drag({10, 10}, {112, 122});
    QVERIFY(wizard->choices().regionSelected);
    QVERIFY(wizard->label()->hasRegion());
    QCOMPARE(Child<QLabel>("lbl_regionValue")->text(), QString("201 x 221 px"));
    // A right click clears it again; a new drag sets it.
    QTest::mouseClick(label, Qt::RightButton, {}, QPoint(50, 50));
    QVERIFY(!wizard->choices().regionSelected);
    Drag({100, 50}, {400, 300});
    QVERIFY(wizard->choices().regionSelected);
    QCOMPARE(wizard->choices().region.x, 100.0 / 461.0);

    answerer.clear();
    Finish();
    QVERIFY(answerer.boxes.isEmpty());
    QCOMPARE(wizard->result(), int(QDialog::Accepted));
    QVERIFY(document->model()->regionSelected());
    QCOMPARE(document->model()->region().x, 100.0 / 461.0);
    QCOMPARE(document->model()->region().width, 399.0 / 461.0 - 100.0 / 461.0);
    QVERIFY(document->inputPage()->input()->regionSelected());
    QVERIFY(document->inputPage()->label()->hasRegion());
    QCOMPARE(document->model()->settings().kernelHeight, 51);
  }

  void wholeImageChosenAfterDrawingGivesNoRegion() {
    wizard->setPage(2);
    Child<QRadioButton>("rdb_partial")->click();
    Drag({100, 50}, {400, 300});
    QVERIFY(wizard->choices().regionSelected);
    Child<QRadioButton>("rdb_complete")->click();
    QVERIFY(!wizard->choices().regionSelected);
    Finish();
    QCOMPARE(wizard->result(), int(QDialog::Accepted));
    QVERIFY(!document->model()->regionSelected());
  }

  // A dark picture with small lamps at the sensor's maximum: the job the
  // wizard starts models them, and its region page says so in full.
  void clippedLampsTurnProtectHighlightsOn() {
    wizard.reset();
    cv::Mat night = TestPicture(300, 300) * 0.3;
    for (const cv::Point lamp : {cv::Point(40, 60), cv::Point(150, 90), cv::Point(230, 240), cv::Point(90, 200)})
      cv::circle(night, lamp, 3, cv::Scalar(255, 255, 255), cv::FILLED);
    WritePicture(folder->path("night.png"), night);
    QString hint;
    bool protect = false;
    answerer.onDialog = [&hint, &protect](QDialog* dialog) {
      auto* label = dialog->findChild<QLabel*>("lbl_highlights");
      if (label && !label->isHidden() && label->heightForWidth(label->width()) <= label->height())
        hint = label->text();
      if (auto* asked = qobject_cast<WizardDialog*>(dialog)) protect = asked->choices().protectHighlights;
      return FinishWizardOnPage(2)(dialog);
    };
    main->runWizardFlow(folder->path("night.png"));
    answerer.onDialog = nullptr;
    QCOMPARE(hint, QString("This picture has clipped lamps or highlights: Protect Highlights is turned on."));
    QVERIFY(protect);
    SubMainWindow* opened = main->activeDocument();
    QVERIFY(opened->findChild<QCheckBox*>("chb_highlights")->isChecked());
    ImageWidget* page = opened->currentPage();
    const velmora::JobOptions* worker = main->jobController()->options(page->result()->jobId());
    QVERIFY(page->busy() && worker && worker->highlights == velmora::Highlights::kModel);
    VELMORA_WAIT_FOR_JOB(page);
  }

  // Without clipped highlights the wizard says nothing of them and leaves
  // the box as the user had it, on or off.
  void noClippedHighlightsKeepsTheUsersChoice() {
    wizard.reset();
    SubMainWindow* clean = Open(TestPicture(300, 300) * 0.9, "clean.png");  // its red line below the maximum
    for (const bool chosen : {true, false}) {
      clean->findChild<QCheckBox*>("chb_highlights")->setChecked(chosen);
      WizardDialog second(main.get());
      second.loadPicture(clean->inputPage()->picture(), clean->model()->picture());
      second.setPage(2);
      QVERIFY(second.findChild<QLabel*>("lbl_highlights")->isHidden());
      QVERIFY(!second.choices().protectHighlights);
      second.findChild<QPushButton*>("btn_finish")->click();
      clean->applyWizardChoices(second.choices());
      QCOMPARE(clean->model()->options().highlights, chosen ? velmora::Highlights::kModel : velmora::Highlights::kKeep);
      QCOMPARE(clean->findChild<QCheckBox*>("chb_highlights")->isChecked(), chosen);
    }
  }

  void finishingOnTheRegionPageStartsTheJob() {
    // The whole flow, as at start-up: the wizard is answered on page 2.
    wizard.reset();
    WritePicture(folder->path("flow.png"), BlurredTestPicture(260, 260, 7));
    answerer.onDialog = FinishWizardOnPage(2);
    main->runWizardFlow(folder->path("flow.png"));
    answerer.onDialog = nullptr;
    SubMainWindow* opened = main->activeDocument();
    QVERIFY(opened && opened != document);
    QCOMPARE(opened->tabs()->count(), 2);
    ImageWidget* page = opened->currentPage();
    QCOMPARE(page->result()->mode(), std::string("complete"));
    QVERIFY(main->jobRunning());

    // A second wizard finished on page 2 while that job runs starts nothing.
    answerer.onDialog = FinishWizardOnPage(2);
    main->runWizardFlow(folder->path("flow.png"));
    answerer.onDialog = nullptr;
    SubMainWindow* second = main->activeDocument();
    QCOMPARE(second->tabs()->count(), 1);
    QVERIFY(!second->runEnabled());
    VELMORA_WAIT_FOR_JOB(page);
    QVERIFY(second->runEnabled());
  }
};

VELMORA_GUI_TEST_MAIN(WizardTest)
#include "test_app_wizard.moc"
