// Photographs as photographers keep them, in the application: a 16-bit
// TIFF stored sideways with camera records and a wide-gamut colour profile
// is shown upright in the screen's colours, zooms like any other picture,
// and its restored result is saved at 16 bits with the same records and
// profile.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/documentmodel.h"
#include "app/imagelabel.h"
#include "app/imagewidget.h"
#include "app/mainwindow.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "io/metadata.h"
#include "tests/app/gui_test_support.h"
#include "tests/picture_samples.h"
#include "tools/shake.h"

using velmora::testing::ReadBack;

class PicturesTest : public QObject, AppFixture {
  Q_OBJECT

  const QRect kGreenPatch{20, 20, 40, 40};  // in the upright picture

  // The test picture with a saturated green patch, stored turned for
  // orientation 6 in a 16-bit TIFF that carries records and `icc`.
  QString WriteShot(const QString& name, const std::vector<unsigned char>& icc, cv::Mat* upright) {
    *upright = TestPicture(240, 280);
    cv::rectangle(*upright, cv::Rect(kGreenPatch.x(), kGreenPatch.y(), kGreenPatch.width(), kGreenPatch.height()),
                  cv::Scalar(40, 200, 40), cv::FILLED);
    cv::Mat stored, deep;
    cv::rotate(*upright, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
    stored.convertTo(deep, CV_16U, 257.0);
    const QString path = folder->path(name);
    WritePicture(path, deep);
    velmora::testing::WriteShotRecords(path.toStdString(), {6, icc});
    return path;
  }

  static QColor ShownAt(const ImageWidget* page, QPoint at) { return page->picture().pixelColor(at); }

 private slots:
  void init() { SetUp(); }
  void cleanup() { TearDown(); }

  void profiledDeepPictureIsShownInScreenColoursAndZooms() {
    cv::Mat upright;
    SubMainWindow* d = main->loadImage(WriteShot("shot.tif", velmora::testing::WideGamutProfile(), &upright));
    QVERIFY(d);
    QCOMPARE(d->model()->picture().depth(), CV_16U);
    QCOMPARE(d->model()->picture().size(), upright.size());  // turned upright
    QVERIFY(d->model()->colourSpace().isValid());
    // The wide-gamut green lies outside the screen's gamut: its red falls;
    // greys stay grey.
    const QColor green = ShownAt(d->inputPage(), kGreenPatch.center());
    QVERIFY2(green.red() < 25 && green.green() >= 195, qPrintable(QColor(green).name()));
    const QColor grey = ShownAt(d->inputPage(), QPoint(1, 120));
    const cv::Vec3b stored = upright.at<cv::Vec3b>(120, 1);
    if (stored[0] == stored[1] && stored[1] == stored[2])
      QVERIFY(qAbs(grey.red() - grey.green()) <= 2 && qAbs(grey.green() - grey.blue()) <= 2);

    // Zoom as for any picture.
    Child<QPushButton>(d->inputPage(), "btn_zoomIn")->click();
    QCOMPARE(d->inputPage()->label()->pixmap().size(), QSize(336, 288));

    // Without a profile the stored values are shown as they are.
    SubMainWindow* plain = main->loadImage(WriteShot("plain.tif", {}, &upright));
    QVERIFY(plain && !plain->model()->colourSpace().isValid());
    QCOMPARE(ShownAt(plain->inputPage(), kGreenPatch.center()), QColor(40, 200, 40));
  }

  void resultIsSavedDeepWithTheRecordsAndProfile() {
    cv::Mat upright;
    const std::vector<unsigned char> profile = velmora::testing::WideGamutProfile();
    SubMainWindow* d = main->loadImage(WriteShot("shot.tif", profile, &upright));
    QVERIFY(d);
    d->model()->setKnownKernel(velmora::tools::GenerateShakeKernel(5, 1), "k.png");
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    VELMORA_WAIT_FOR_JOB(page);
    QVERIFY(page->result()->hasResult());

    for (const char* name : {"out.tif", "out.png"}) {
      QVERIFY(main->savePage(page, folder->path(name)));
      const std::string path = folder->path(name).toStdString();
      const cv::Mat saved = cv::imread(path, cv::IMREAD_UNCHANGED);
      QCOMPARE(saved.depth(), CV_16U);
      QCOMPARE(saved.size(), upright.size());
      const ReadBack back = velmora::testing::ReadRecords(path);
      QCOMPARE(back.Exif("Exif.Image.Make"), std::string("Velmora Test Camera Co."));
      QCOMPARE(back.Exif("Exif.Photo.DateTimeOriginal"), std::string("2026:11:28 16:42:07"));
      QCOMPARE(back.Exif("Exif.Image.Orientation"), std::string("1"));
      QCOMPARE(back.Exif("Exif.Image.Software"), velmora::io::SoftwareName());
      QVERIFY(back.icc == profile);
    }
    QVERIFY(answerer.boxes.isEmpty());
  }
};

VELMORA_GUI_TEST_MAIN(PicturesTest)
#include "test_app_pictures.moc"
