// Start-up, opening pictures, the wizard flow and saving, through the main
// window.
#include <QMdiArea>
#include <QTableWidget>
#include <QUrl>
#include <QFile>
#include <opencv2/imgcodecs.hpp>

#include "app/gpu_state.h"
#include "app/imagewidget.h"
#include "app/mainwindow.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "app/wizarddialog.h"
#include "src/cuda_device.h"
#include "tests/app/gui_test_support.h"

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  // A main window made with the GPU answers given; its start-up boxes are
  // answered and recorded in `answerer`.
  std::unique_ptr<MainWindow> NewMainWindow(bool device, bool missing) {
    gpuAvailable = device;
    cufftMissing = missing;
    auto main = std::make_unique<MainWindow>();
    main->show();
    return main;
  }

  static QString InfoValue(SubMainWindow* document, int row) {
    return document->findChild<QTableWidget*>("tbl_info")->item(row, 1)->text();
  }

  ModalAnswerer answerer;

 private slots:
  void init() { answerer.clear(); }

  void warnsOnceWithoutADevice() {
    auto main = NewMainWindow(false, false);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QString("CUDA Not Found"));
    QCOMPARE(answerer.boxes[0].text, QString("Your graphic card does not support CUDA.\n\nCannot run algorithm on GPU."));
    QVERIFY(!gpuAvailable);
  }

  void namesTheMissingLibrary() {
    auto main = NewMainWindow(true, true);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QString("DLL Not Found"));
    QVERIFY(answerer.boxes[0].text.contains(velmora::gpu::CufftLibraryName()));
    QVERIFY(answerer.boxes[0].text.endsWith("please install CUDA Toolkit."));
    QVERIFY(!gpuAvailable);  // behaves as a machine without a device from now on
  }

  void usableGpuGivesNoWarningAndGpuDocuments() {
    ScratchFolder folder;
    WritePicture(folder.path("p.png"), TestPicture(200, 200));
    auto main = NewMainWindow(true, false);
    QVERIFY(answerer.boxes.isEmpty());
    SubMainWindow* document = main->loadImage(folder.path("p.png"));
    QVERIFY(document);
    QCOMPARE(InfoValue(document, 4), QString("GPU"));
    QVERIFY(!document->model()->settings().useCpu);
    gpuAvailable = false;
  }

  void opensAndRefusesPictures() {
    ScratchFolder folder;
    WritePicture(folder.path("square.png"), TestPicture(200, 200));
    WritePicture(folder.path("narrow.png"), TestPicture(800, 199));
    WritePicture(folder.path("low.png"), TestPicture(199, 800));
    QFile junk(folder.path("junk.png"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture");
    junk.close();
    auto main = NewMainWindow(false, false);
    answerer.clear();
    auto* area = main->findChild<QMdiArea*>("mdiArea");

    SubMainWindow* document = main->loadImage(folder.path("square.png"));
    QVERIFY(document);
    QCOMPARE(area->subWindowList().size(), 1);
    QCOMPARE(document->windowTitle(), folder.path("square.png"));
    QCOMPARE(InfoValue(document, 0), QString("square.png"));
    QCOMPARE(InfoValue(document, 1), QString("png"));
    QCOMPARE(InfoValue(document, 2), QString("200px"));
    QCOMPARE(InfoValue(document, 3), QString("200px"));
    QCOMPARE(InfoValue(document, 4), QString("CPU"));
    QCOMPARE(document->tabs()->count(), 1);
    QCOMPARE(document->tabs()->tabText(0), QString("Input"));
    QCOMPARE(document->inputPage()->caption(), QString("Input Image"));
    QVERIFY(document->inputPage()->progressBar()->isHidden());
    QVERIFY(answerer.boxes.isEmpty());

    const QString tooSmall = "The image is too small.\n\nThis program only accept images larger than 200x200.";
    for (const char* name : {"narrow.png", "low.png"}) {
      answerer.clear();
      QVERIFY(!main->loadImage(folder.path(name)));
      QCOMPARE(answerer.boxes.size(), 1);
      QCOMPARE(answerer.boxes[0].title, QString("Error"));
      QCOMPARE(answerer.boxes[0].text, tooSmall);
    }
    for (const char* name : {"junk.png", "missing.png"}) {
      answerer.clear();
      QVERIFY(!main->loadImage(folder.path(name)));
      QCOMPARE(answerer.boxes.size(), 1);
      QCOMPARE(answerer.boxes[0].text, QString("Error while opening image file."));
    }
    QCOMPARE(area->subWindowList().size(), 1);  // refusals leave nothing behind
  }

  void greyPictureBecomesThreeEqualChannels() {
    ScratchFolder folder;
    cv::Mat grey;
    cv::extractChannel(TestPicture(240, 260), grey, 1);
    WritePicture(folder.path("grey.png"), grey);
    auto main = NewMainWindow(false, false);
    SubMainWindow* document = main->loadImage(folder.path("grey.png"));
    QVERIFY(document);
    QCOMPARE(document->model()->picture().type(), CV_8UC3);
    std::vector<cv::Mat> planes;
    cv::split(document->model()->picture(), planes);
    QCOMPARE(cv::norm(planes[0], grey, cv::NORM_INF), 0.0);
    QCOMPARE(cv::norm(planes[1], grey, cv::NORM_INF), 0.0);
    QCOMPARE(cv::norm(planes[2], grey, cv::NORM_INF), 0.0);
  }

  void shortNameAndFileType() {
    ScratchFolder folder;
    QVERIFY(QDir(folder.path("")).mkpath("a.b"));
    WritePicture(folder.path("a.b/photo.png"), TestPicture(210, 210));
    QVERIFY(QFile::rename(folder.path("a.b/photo.png"), folder.path("a.b/photo")));
    WritePicture(folder.path("IMG.JPG"), TestPicture(210, 210));
    auto main = NewMainWindow(false, false);
    SubMainWindow* dotInFolder = main->loadImage(folder.path("a.b/photo"));
    QVERIFY(dotInFolder);
    QCOMPARE(InfoValue(dotInFolder, 0), QString("photo"));
    QCOMPARE(InfoValue(dotInFolder, 1), QString("b/photo"));
    SubMainWindow* upper = main->loadImage(folder.path("IMG.JPG"));
    QVERIFY(upper);
    QCOMPARE(InfoValue(upper, 0), QString("IMG.JPG"));
    QCOMPARE(InfoValue(upper, 1), QString("jpg"));
    // A relative name without any dot or slash.
    QVERIFY(QFile::copy(folder.path("a.b/photo"), folder.path("plain")));
    SubMainWindow* plain = main->loadImage("plain");
    QVERIFY(plain);
    QCOMPARE(InfoValue(plain, 0), QString("plain"));
    QCOMPARE(InfoValue(plain, 1), QString("unknown"));
  }

  void loadActionUsesTheFileDialog() {
    ScratchFolder folder;
    WritePicture(folder.path("dialog.png"), TestPicture(220, 230));
    auto main = NewMainWindow(false, false);
    auto* area = main->findChild<QMdiArea*>("mdiArea");
    answerer.fileNames = {folder.path("dialog.png")};
    main->findChild<QAction*>("actionLoad_Image")->trigger();
    QCOMPARE(area->subWindowList().size(), 1);
    main->findChild<QAction*>("actionLoad_Image")->trigger();  // cancelled: nothing more
    QCOMPARE(area->subWindowList().size(), 1);
  }

  void wizardFlowCancelledOrFinishedEarly() {
    ScratchFolder folder;
    WritePicture(folder.path("w.png"), TestPicture(300, 300));
    auto main = NewMainWindow(false, false);
    auto* area = main->findChild<QMdiArea*>("mdiArea");
    answerer.onDialog = [](QDialog* dialog) {
      QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
      return true;
    };
    main->runWizardFlow(folder.path("w.png"));
    QCOMPARE(area->subWindowList().size(), 0);  // a cancelled wizard keeps nothing

    answerer.onDialog = FinishWizardOnPage(1);
    main->runWizardFlow(folder.path("w.png"));
    QCOMPARE(area->subWindowList().size(), 1);
    auto* document = main->documents().first();
    QCOMPARE(document->tabs()->count(), 1);  // finished on page 1: no job
    QVERIFY(!main->jobRunning());
    QVERIFY(document->runEnabled());
  }

  void opensWhatTheDesktopHandsOver() {
    ScratchFolder folder;
    WritePicture(folder.path("a.png"), TestPicture(220, 240));
    WritePicture(folder.path("b c.png"), TestPicture(260, 210));
    {  // not a picture
      QFile junk(folder.path("notes.png"));
      QVERIFY(junk.open(QIODevice::WriteOnly));
      junk.write("not a picture");
    }
    auto main = NewMainWindow(false, false);
    auto* area = main->findChild<QMdiArea*>("mdiArea");
    answerer.clear();
    // Several files, one as a file:// URI with a space escaped, one that is
    // no picture and one on another computer: each picture becomes a
    // document, each refusal one message.
    main->openFromDesktop({folder.path("a.png"), QUrl::fromLocalFile(folder.path("b c.png")).toString(),
                           folder.path("notes.png"), "https://example.org/photo.jpg"});
    QCOMPARE(area->subWindowList().size(), 2);
    QCOMPARE(answerer.boxes.size(), 2);
    QVERIFY(answerer.boxes[0].text.contains("https://example.org/photo.jpg"));
    QCOMPARE(answerer.boxes[1].text, QString("Error while opening image file."));
    QStringList titles;
    for (SubMainWindow* document : main->documents()) titles << document->windowTitle();
    titles.sort();
    QCOMPARE(titles, QStringList({folder.path("a.png"), folder.path("b c.png")}));

    // One file still goes through the wizard, a URI as well as a path.
    bool wizardShown = false;
    answerer.onDialog = [&wizardShown](QDialog* dialog) {
      wizardShown = qobject_cast<WizardDialog*>(dialog) != nullptr;
      QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
      return true;
    };
    main->openFromDesktop({QUrl::fromLocalFile(folder.path("a.png")).toString()});
    QVERIFY(wizardShown);
    QCOMPARE(area->subWindowList().size(), 2);  // the cancelled wizard keeps nothing
  }

  void saveRefusesBadTargetsAndKeepsFiles() {
    ScratchFolder folder;
    WritePicture(folder.path("s.png"), BlurredTestPicture(220, 220, 7));
    auto main = NewMainWindow(false, false);
    SubMainWindow* document = main->loadImage(folder.path("s.png"));
    QVERIFY(document);
    QVERIFY(!main->saveEnabled());  // the Input page
    document->on_btn_run_clicked();
    ImageWidget* page = document->currentPage();
    QVERIFY(!main->saveEnabled());  // still running
    VELMORA_WAIT_FOR_JOB(page);
    QVERIFY(main->saveEnabled());
    answerer.clear();

    // An existing file is replaced only by a complete picture.
    const QByteArray before = "keep me";
    QFile existing(folder.path("kept.xyz"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write(before);
    existing.close();
    struct Case {
      QString name;
      const char* says;
    } cases[] = {{folder.path("kept.xyz"), "kept.xyz"},
                 {folder.path("no-extension"), "no extension"},
                 {folder.path("missing-folder/out.png"), "missing-folder"}};
    for (const Case& c : cases) {
      answerer.clear();
      QVERIFY(!main->savePage(page, c.name));
      QCOMPARE(answerer.boxes.size(), 1);
      QCOMPARE(answerer.boxes[0].title, QString("Error"));
      QVERIFY2(answerer.boxes[0].text.contains(c.says), qPrintable(answerer.boxes[0].text));
    }
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), before);
    QVERIFY(!QFile::exists(folder.path("no-extension")));

    // The page picked before the dialog is saved even if the area loses
    // its active window meanwhile.
    answerer.clear();
    answerer.fileNames = {folder.path("saved.bmp")};
    auto* area = main->findChild<QMdiArea*>("mdiArea");
    answerer.onFileDialog = [area](QFileDialog*) { area->setActiveSubWindow(nullptr); };
    main->findChild<QAction*>("actionSave_Image")->trigger();
    answerer.onFileDialog = nullptr;
    QVERIFY(answerer.boxes.isEmpty());
    const cv::Mat saved = cv::imread(folder.path("saved.bmp").toStdString(), cv::IMREAD_COLOR);
    QCOMPARE(saved.size(), page->result()->image().size());
    QCOMPARE(cv::norm(saved, page->result()->image(), cv::NORM_INF), 0.0);
  }

  // Closing the main window during a job asks first: No keeps both, Yes
  // stops the job and closes.
  void closingTheMainWindowDuringAJobAsksToStopIt() {
    ScratchFolder folder;
    WritePicture(folder.path("c.png"), BlurredTestPicture(420, 420, 9));
    auto main = NewMainWindow(false, false);
    SubMainWindow* document = main->loadImage(folder.path("c.png"));
    document->on_btn_run_clicked();
    ImageWidget* page = document->currentPage();
    answerer.clear();
    answerer.buttons = {QMessageBox::No};
    QVERIFY(!main->close());
    QCOMPARE(answerer.titles(), QStringList{"Job Running"});
    QCOMPARE(answerer.boxes[0].text, QString("A job is running. Stop it and close?"));
    QVERIFY(page->busy());
    answerer.buttons = {QMessageBox::Yes};
    QVERIFY(main->close());
    QVERIFY(!main->jobRunning());
  }

  void aboutBox() {
    auto main = NewMainWindow(false, false);
    QString title, text;
    answerer.onDialog = [&](QDialog* dialog) {
      title = dialog->windowTitle();
      text = dialog->findChild<QLabel*>("lbl_about")->text();
      QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
      return true;
    };
    main->findChild<QAction*>("actionAbout")->trigger();
    answerer.onDialog = nullptr;
    QCOMPARE(title, QString("About Velmora"));
    QVERIFY(text.contains("Velmora Ver. 2.0"));
  }
};

VELMORA_GUI_TEST_MAIN(MainWindowTest)
#include "test_app_main.moc"
