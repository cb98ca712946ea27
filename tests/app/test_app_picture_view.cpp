// The picture view on its own page: zoom without and with a document,
// what a busy page lets through, before and after (swapped and split), and
// what a drag on the picture does.
#include <QScrollBar>

#include "app/documentmodel.h"
#include "app/imagelabel.h"
#include "app/imagescrollarea.h"
#include "app/imagewidget.h"
#include "app/picture_view.h"
#include "tests/app/gui_test_support.h"

namespace {

const QColor kRed(255, 0, 0), kBlue(0, 0, 255);

cv::Mat Solid(int rows, int cols, const QColor& colour) {
  return cv::Mat(rows, cols, CV_8UC3, cv::Scalar(colour.blue(), colour.green(), colour.red()));
}

// A left-button event on the label at `at`, the screen position given
// apart, as a pointer moving across the screen makes them.
void Mouse(QWidget* label, QEvent::Type type, QPoint at, QPoint global) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(at), QPointF(global), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(label, &event);
}

}  // namespace

class PictureViewTest : public QObject {
  Q_OBJECT

  std::unique_ptr<DocumentModel> model;
  std::unique_ptr<ImageWidget> page;

  PictureView* View() const { return page->view(); }
  QColor ShownAt(int x, int y) const { return page->label()->pixmap().toImage().pixelColor(x, y); }
  ImageScrollArea* Area() const { return page->findChild<ImageScrollArea*>("sca_imgArea"); }

 private slots:
  void init() {
    model = std::make_unique<DocumentModel>();
    page = std::make_unique<ImageWidget>(ImageWidget::Kind::kResult);
    page->setModel(model.get());
    page->resize(700, 500);
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
  }
  void cleanup() {
    page.reset();
    model.reset();
  }

  // A page shown outside a document keeps its picture at 1.0x.
  void withoutADocumentThePictureDoesNotZoom() {
    page->setModel(nullptr);
    View()->showImage(Solid(120, 160, kRed));
    View()->zoomIn();
    View()->zoomBy(1);
    View()->zoomTo(2.0f);
    QCOMPARE(View()->zoom(), 1.0f);
    QCOMPARE(page->label()->pixmap().size(), QSize(160, 120));
  }

  // While busy the wheel's and keys' steps do nothing; the buttons' steps
  // and the return to 1.0x still act, and the controls say where it is.
  void busyStopsOnlyTheZoomSteps() {
    View()->showImage(Solid(120, 160, kRed));
    View()->setBusy(true);
    View()->zoomBy(1);
    QCOMPARE(model->zoom(), 1.0f);
    View()->zoomIn();
    QCOMPARE(model->zoom(), 1.2f);
    QCOMPARE(page->findChild<QLabel*>("lbl_zoom")->text(), QString("1.2x"));
    QCOMPARE(page->label()->pixmap().size(), QSize(192, 144));
    View()->zoomTo(1.0f);
    QCOMPARE(model->zoom(), 1.0f);
    View()->setBusy(false);
    View()->zoomBy(-1);
    QCOMPARE(model->zoom(), 1.0f / 1.2f);
  }

  // The comparison shows only once there is one; split, it lies left of
  // the divider, whose place is clamped to the picture.
  void beforeAndAfterSwappedOrSplit() {
    View()->showImage(Solid(100, 200, kRed));
    View()->setComparing(true);
    QVERIFY(!View()->comparing());
    QCOMPARE(ShownAt(20, 50), kRed);

    View()->setComparison(Solid(100, 200, kBlue));
    View()->refresh();
    QVERIFY(View()->comparing() && !View()->splitView());
    QCOMPARE(ShownAt(180, 50), kBlue);

    View()->setSplitShown(true);
    QVERIFY(View()->splitView());
    QCOMPARE(ShownAt(20, 50), kBlue);
    QCOMPARE(ShownAt(180, 50), kRed);
    QCOMPARE(ShownAt(100, 50), QColor(Qt::white));  // the divider
    View()->setSplit(0.25);
    QCOMPARE(ShownAt(60, 50), kRed);
    View()->setSplit(-3.0);
    QCOMPARE(View()->split(), 0.0);
    QCOMPARE(ShownAt(20, 50), kRed);
    View()->setSplit(7.0);
    QCOMPARE(View()->split(), 1.0);
    QCOMPARE(ShownAt(180, 50), kBlue);
    // Zoomed, the divider stays at its share of the width.
    View()->setSplit(0.5);
    View()->zoomTo(2.0f);
    QCOMPARE(ShownAt(190, 100), kBlue);
    QCOMPARE(ShownAt(210, 100), kRed);

    View()->setComparing(false);
    QVERIFY(!View()->splitView());
    QCOMPARE(ShownAt(20, 50), kRed);
  }

  // A drag pans the picture by the pointer's travel and the document
  // keeps the position; in the split view it moves the divider instead.
  void aDragPansOrMovesTheDivider() {
    View()->showImage(TestPicture(1200, 1500));
    QScrollBar* h = Area()->horizontalScrollBar();
    QScrollBar* v = Area()->verticalScrollBar();
    QTRY_VERIFY(h->maximum() > 500 && v->maximum() > 500);
    h->setValue(300);
    v->setValue(200);
    QWidget* label = page->label();
    Mouse(label, QEvent::MouseButtonPress, {600, 500}, {1000, 1000});
    Mouse(label, QEvent::MouseMove, {550, 460}, {950, 960});
    Mouse(label, QEvent::MouseMove, {540, 450}, {940, 950});
    Mouse(label, QEvent::MouseButtonRelease, {540, 450}, {940, 950});
    QCOMPARE(h->value(), 360);
    QCOMPARE(v->value(), 250);
    QCOMPARE(model->scrollX(), 360);
    QCOMPARE(model->scrollY(), 250);

    View()->setComparison(TestPicture(1200, 1500));
    View()->setComparing(true);
    View()->setSplitShown(true);
    Mouse(label, QEvent::MouseButtonPress, {label->width() / 4, 500}, {700, 1000});
    Mouse(label, QEvent::MouseMove, {label->width() / 5, 400}, {600, 900});
    Mouse(label, QEvent::MouseButtonRelease, {label->width() / 5, 400}, {600, 900});
    QVERIFY(qAbs(View()->split() - 0.2) < 0.01);
    QCOMPARE(h->value(), 360);
    QCOMPARE(v->value(), 250);
  }

  // A region is the same part of the picture at any zoom.
  void regionsFollowTheZoom() {
    View()->showImage(TestPicture(300, 400));
    QTRY_COMPARE(page->label()->size(), QSize(400, 300));
    const velmora::DeblurRegion region{0.25, 0.2, 0.5, 0.4};
    QCOMPARE(View()->regionToLabel(region), QRect(QPoint(100, 60), QPoint(300, 180)));
    View()->zoomTo(2.0f);
    QTRY_COMPARE(page->label()->size(), QSize(800, 600));
    const QRect onLabel = View()->regionToLabel(region);
    QCOMPARE(onLabel, QRect(QPoint(200, 120), QPoint(600, 360)));
    const velmora::DeblurRegion back = View()->labelToRegion(onLabel);
    QVERIFY(qAbs(back.x - region.x) < 1e-9 && qAbs(back.y - region.y) < 1e-9);
    QVERIFY(qAbs(back.width - region.width) < 1.0 / 800 && qAbs(back.height - region.height) < 1.0 / 600);
  }
};

VELMORA_GUI_TEST_MAIN(PictureViewTest)
#include "test_app_picture_view.moc"
