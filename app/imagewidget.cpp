#include "app/imagewidget.h"

#include "app/documentmodel.h"
#include "app/imagelabel.h"
#include "app/input_page.h"
#include "app/picture_view.h"
#include "app/result_page.h"
#include "ui_imagewidget.h"

ImageWidget::ImageWidget(Kind kind, QWidget* parent) : QWidget(parent), ui_(new Ui::ImageWidget) {
  ui_->setupUi(this);
  // What only a result page shows, and only once its job has got that far.
  for (QWidget* w : std::initializer_list<QWidget*>{ui_->btn_back, ui_->btn_next, ui_->btn_cancel, ui_->btn_compare,
                                                    ui_->chb_split, ui_->lbl_kernel, ui_->btn_saveKernel})
    w->hide();
  ui_->lbl_img->setOutlineOnly(true);
  view_ = new PictureView(this, {ui_->lbl_img, ui_->sca_imgArea, ui_->btn_zoomIn, ui_->lbl_zoom, ui_->btn_zoomOut});
  if (kind == Kind::kInput) {
    input_ = new InputPage(this, ui_->lbl_img, view_);
    ui_->lbl_param->setText(tr("Input Image"));
    ui_->pgb_progress->hide();
  } else {
    result_ = new ResultPage(this, ui_, view_);
  }
}

ImageWidget::~ImageWidget() {
  // The parts drive the form: they go first.
  delete result_;
  delete input_;
  delete view_;
  delete ui_;
}

void ImageWidget::setModel(DocumentModel* model) {
  model_ = model;
  view_->setModel(model);
  if (input_) input_->setModel(model);
}

bool ImageWidget::busy() const { return result_ && result_->busy(); }

void ImageWidget::refreshView() {
  if (!busy()) view_->refresh();
  view_->updateZoomControls();
}

const QImage& ImageWidget::picture() const { return view_->picture(); }

const velmora::io::PictureMetadata& ImageWidget::metadata() const {
  static const velmora::io::PictureMetadata kNone;
  return model_ ? model_->metadata() : kNone;
}

ImageLabel* ImageWidget::label() const { return ui_->lbl_img; }
QProgressBar* ImageWidget::progressBar() const { return ui_->pgb_progress; }
QString ImageWidget::caption() const { return ui_->lbl_param->text(); }
void ImageWidget::setCaption(const QString& text) { ui_->lbl_param->setText(text); }
bool ImageWidget::nextShown() const { return !ui_->btn_next->isHidden(); }
void ImageWidget::setNextEnabled(bool enable) { ui_->btn_next->setEnabled(enable); }
