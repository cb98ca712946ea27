// One tab of a document: the page built from imagewidget.ui. Every page
// shows a picture through its PictureView; the input page draws the region
// of interest on it (InputPage), a result page runs one job and shows what
// it gave (ResultPage).
#pragma once

#include <QImage>
#include <QWidget>

#include "io/metadata.h"

class QProgressBar;
class DocumentModel;
class ImageLabel;
class InputPage;
class PictureView;
class ResultPage;

namespace Ui {
class ImageWidget;
}

class ImageWidget : public QWidget {
  Q_OBJECT

 public:
  enum class Kind { kInput, kResult };

  explicit ImageWidget(Kind kind, QWidget* parent = nullptr);
  ~ImageWidget() override;

  // The document's model (not owned): its zoom, scroll position, region and
  // settings. A page without one shows its picture at 1.0x.
  void setModel(DocumentModel* model);

  bool isInput() const { return input_ != nullptr; }
  // The input page's region drawing; null on a result page.
  InputPage* input() const { return input_; }
  // A result page's job; null on the input page.
  ResultPage* result() const { return result_; }
  PictureView* view() const { return view_; }

  // A result page whose job runs.
  bool busy() const;
  // Shown again after another page: the picture (unless a job runs) at the
  // zoom and scroll position the pages share, which may have changed.
  void refreshView();

  // The picture shown, in sRGB.
  const QImage& picture() const;
  // The metadata the document's results are saved with (none without a
  // document).
  const velmora::io::PictureMetadata& metadata() const;

  ImageLabel* label() const;
  QProgressBar* progressBar() const;
  QString caption() const;
  void setCaption(const QString& text);
  bool nextShown() const;
  void setNextEnabled(bool enable);

 private:
  Ui::ImageWidget* ui_;
  PictureView* view_ = nullptr;
  InputPage* input_ = nullptr;
  ResultPage* result_ = nullptr;
  DocumentModel* model_ = nullptr;
};
