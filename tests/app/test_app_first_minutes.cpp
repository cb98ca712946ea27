// What a new user meets: the settings follow what the controls show however
// they were chosen, a blur the picture cannot hold is refused, pages keep
// the shared view, closing asks before losing results, the file dialogs
// start where the picture is, and the keyboard reaches everything.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QTableWidget>
#include <QWheelEvent>

#include "app/imagelabel.h"
#include "app/imagescrollarea.h"
#include "app/imagewidget.h"
#include "app/mainwindow.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "app/wizarddialog.h"
#include "app/wizardimagelabel.h"
#include "tests/app/gui_test_support.h"

namespace {

QString SpokenName(QWidget* widget) {
  return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

}  // namespace

class FirstMinutesTest : public QObject, AppFixture {
  Q_OBJECT

 private:
  static void WaitForJob(ImageWidget* page) { VELMORA_WAIT_FOR_JOB(page); }

  // A screen reader's way: the button's "toggle" action, no click.
  static void ToggleAccessibly(QWidget* button) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    QVERIFY(accessible && accessible->actionInterface());
    accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  }

 private slots:
  void init() { SetUp(); }
  void cleanup() { TearDown(); }

  void settingsFollowAnAccessibleToggle() {
    SubMainWindow* d = Open(BlurredTestPicture(260, 260, 7));
    auto* medium = Child<QRadioButton>(d, "rdb_kernelMedium");
    ToggleAccessibly(medium);
    QVERIFY(medium->isChecked());
    QCOMPARE(d->model()->settings().kernelHeight, 31);
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    WaitForJob(page);
    QCOMPARE(page->result()->kernel().rows, 31);
    QCOMPARE(page->result()->kernel().cols, 31);

    // The wizard's choice too.
    WizardDialog wizard(main.get());
    ToggleAccessibly(wizard.findChild<QRadioButton*>("rdb_kernelLarge"));
    QCOMPARE(wizard.choices().kernelHeight, 51);
    QCOMPARE(wizard.choices().preset, int(kBlurLarge));
  }

  // A label showing text is read as its text, never as a fixed name: the
  // result's caption is read as its settings and running time (and Qt
  // announces a label's new text only when it has no fixed name); the
  // result picture's place reads "Generating..." while the job runs. So in
  // every window with labels.
  void labelsAreReadAsTheirText() {
    SubMainWindow* d = Open(BlurredTestPicture(220, 220, 7));
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    QCOMPARE(SpokenName(page->label()), QString("Generating..."));
    WaitForJob(page);
    QCOMPARE(SpokenName(page->label()), QString("Picture"));  // the result is shown there now
    auto* caption = Child<QLabel>(page, "lbl_param");
    QVERIFY2(SpokenName(caption).startsWith("Smoothness = 0.04") && SpokenName(caption).contains("Running time "),
             qPrintable(SpokenName(caption)));

    WizardDialog wizard(main.get());
    wizard.loadPicture(d->inputPage()->picture(), d->model()->picture());
    QCOMPARE(SpokenName(wizard.label()), QString("Picture"));
    for (QWidget* window : {static_cast<QWidget*>(main.get()), static_cast<QWidget*>(&wizard)})
      for (QLabel* label : window->findChildren<QLabel*>())
        if (!label->text().isEmpty())
          QVERIFY2(label->accessibleName().isEmpty() || label->accessibleName() == label->text(),
                   qPrintable(label->objectName() + ": " + label->accessibleName()));
  }

  void aBlurThePictureCannotHoldIsRefused() {
    SubMainWindow* d = Open(TestPicture(300, 400));
    Child<QRadioButton>(d, "rdb_kernelCustom")->click();
    Child<QSlider>(d, "hsl_height")->setValue(60);  // 121
    Child<QSlider>(d, "hsl_width")->setValue(60);
    d->on_btn_run_clicked();
    QCOMPARE(d->tabs()->count(), 1);  // no job
    QCOMPARE(answerer.titles(), QStringList{"Error"});
    QVERIFY2(answerer.boxes[0].text.contains("The largest blur size it allows is 99 x 121."),
             qPrintable(answerer.boxes[0].text));
    QVERIFY(!main->jobRunning());
  }

  void everyPageShowsTheSharedScrollPosition() {
    SubMainWindow* d = Open(BlurredTestPicture(900, 1100, 7));
    ImageWidget* input = d->inputPage();
    auto* area = input->findChild<ImageScrollArea*>("sca_imgArea");
    QTRY_VERIFY(area->horizontalScrollBar()->maximum() > 200);
    area->horizontalScrollBar()->setValue(150);
    area->verticalScrollBar()->setValue(120);
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    WaitForJob(page);
    auto* pageArea = page->findChild<ImageScrollArea*>("sca_imgArea");
    QTRY_COMPARE(pageArea->horizontalScrollBar()->value(), 150);
    QTRY_COMPARE(pageArea->verticalScrollBar()->value(), 120);
    d->tabs()->setCurrentIndex(0);
    QTRY_COMPARE(area->horizontalScrollBar()->value(), 150);
  }

  // The wheel keeps the picture point under the pointer where it was.
  void wheelZoomsAboutThePointer() {
    SubMainWindow* d = Open(TestPicture(900, 1100));
    ImageWidget* page = d->inputPage();
    auto* area = page->findChild<ImageScrollArea*>("sca_imgArea");
    QTRY_VERIFY(area->horizontalScrollBar()->maximum() > 200);
    area->horizontalScrollBar()->setValue(200);
    area->verticalScrollBar()->setValue(100);
    const QPoint at(120, 90);
    auto pictureUnder = [&] {
      const QPoint onLabel = page->label()->mapFrom(area->viewport(), at);
      return QPointF(onLabel.x() / d->model()->zoom(), onLabel.y() / d->model()->zoom());
    };
    const QPointF before = pictureUnder();
    QWheelEvent event(QPointF(at), area->viewport()->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(area->viewport(), &event);
    QCOMPARE(d->model()->zoom(), 1.2f);
    QTRY_VERIFY(std::abs(pictureUnder().x() - before.x()) < 2.0);
    QVERIFY(std::abs(pictureUnder().y() - before.y()) < 2.0);
    // Ctrl+0 goes back to 1.0x, Ctrl++ and Ctrl+- step.
    QTest::keyClick(main.get(), Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(d->model()->zoom(), 1.0f);
    QTest::keyClick(main.get(), Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(d->model()->zoom(), 1.0f / 1.2f);
  }

  void closingAsksBeforeDiscardingResults() {
    SubMainWindow* d = Open(BlurredTestPicture(240, 240, 7), "one.png");
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    WaitForJob(page);
    QVERIFY(page->result()->unsavedResult());
    auto* sub = qobject_cast<QMdiSubWindow*>(d->parentWidget());
    answerer.buttons = {QMessageBox::Cancel};
    QVERIFY(!sub->close());
    QCOMPARE(answerer.boxes[0].text, QString("Discard 1 unsaved result?"));

    // Saved, it closes without a word; Save suggested <stem>_deblurred.
    answerer.clear();
    QString suggested, startedIn;
    answerer.onFileDialog = [&](QFileDialog* dialog) {
      suggested = dialog->selectedFiles().value(0);
      startedIn = dialog->directory().absolutePath();
    };
    answerer.fileNames = {folder->path("typed")};  // no extension: the filter's is added
    main->findChild<QAction*>("actionSave_Image")->trigger();
    QCOMPARE(QFileInfo(suggested).fileName(), QString("one_deblurred.png"));
    QCOMPARE(startedIn, QFileInfo(folder->path("one.png")).absolutePath());
    QVERIFY(QFile::exists(folder->path("typed.png")));
    QVERIFY(!page->result()->unsavedResult());
    answerer.clear();
    QVERIFY(sub->close());
    QVERIFY(answerer.boxes.isEmpty());

    // The program asks once for all documents.
    SubMainWindow* a = Open(BlurredTestPicture(240, 240, 7), "a.png");
    a->on_btn_run_clicked();
    WaitForJob(a->currentPage());
    SubMainWindow* b = Open(BlurredTestPicture(240, 240, 7), "b.png");
    b->on_btn_run_clicked();
    WaitForJob(b->currentPage());
    answerer.clear();
    answerer.buttons = {QMessageBox::Cancel};
    QVERIFY(!main->close());
    QCOMPARE(answerer.titles(), QStringList{"Unsaved Results"});
    QCOMPARE(answerer.boxes[0].text, QString("Discard 2 unsaved results?"));
    answerer.clear();
    answerer.buttons = {QMessageBox::Discard};
    QVERIFY(main->close());
    QCOMPARE(answerer.boxes.size(), 1);
  }

  void openStartsWhereThePictureIs() {
    Open(TestPicture(220, 220), "here.png");
    QString startedIn, filter;
    answerer.onFileDialog = [&](QFileDialog* dialog) {
      startedIn = dialog->directory().absolutePath();
      filter = dialog->nameFilters().join(";;");
    };
    main->findChild<QAction*>("actionLoad_Image")->trigger();
    QCOMPARE(startedIn, QFileInfo(folder->path("here.png")).absolutePath());
    QVERIFY(filter.startsWith("Image Files (*.png *.bmp *.jpg *.jpeg *.tif *.tiff)"));
  }

  // Tab passes the information table by and reaches Run, the pages' tabs
  // and the zoom buttons; Ctrl+Return runs.
  void theKeyboardReachesEverything() {
    SubMainWindow* d = Open(BlurredTestPicture(240, 240, 7));
    Child<QRadioButton>(d, "rdb_kernelSmall")->setFocus();
    QSet<QString> reached;
    for (int i = 0; i < 60; ++i) {
      QWidget* focused = QApplication::focusWidget();
      QVERIFY(focused);
      QVERIFY2(!qobject_cast<QTableWidget*>(focused) && !focused->inherits("QTableView"), "the table took the focus");
      reached << focused->objectName();
      QTest::keyClick(focused, Qt::Key_Tab);
    }
    QVERIFY2(reached.contains("btn_run"), qPrintable(QStringList(reached.values()).join(",")));
    QVERIFY(reached.contains("btn_zoomIn") && reached.contains("btn_zoomOut"));
    QVERIFY(reached.contains("qt_tabwidget_tabbar"));
    QTest::keyClick(d, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(d->tabs()->count(), 2);
    QVERIFY(d->tabs()->tabToolTip(1).contains("Blur size 19 x 19 px"));
    QVERIFY(d->tabs()->tabToolTip(1).contains("Estimator: Classic"));
    WaitForJob(d->currentPage());
    // Every control has a name a screen reader can say.
    for (QWidget* w : d->findChildren<QWidget*>()) {
      if (!w->isVisible() || w->focusPolicy() == Qt::NoFocus) continue;
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
      QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
    }
  }
};

VELMORA_GUI_TEST_MAIN(FirstMinutesTest)
#include "test_app_first_minutes.moc"
