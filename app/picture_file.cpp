#include "app/picture_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <exception>
#include <filesystem>

#include "io/errors.h"
#include "io/kernel_file.h"
#include "io/picture.h"
#include "io/staged_file.h"

namespace {

QString tr(const char* text) { return QCoreApplication::translate("SubMainWindow", text); }

// The picture library's marked texts, in their own context.
QString Translated(const velmora::io::IoError& e) {
  return e.markedText() ? QCoreApplication::translate("Picture", e.markedText()) : QString::fromLocal8Bit(e.what());
}

std::filesystem::path LocalPath(const QString& fileName) {
  return std::filesystem::path(QFile::encodeName(fileName).toStdString());
}

}  // namespace

cv::Mat ReadPictureFile(const QString& fileName, QString* problem, velmora::io::PictureMetadata* metadata) {
  try {
    velmora::io::LoadedPicture loaded = velmora::io::ReadPictureWithMetadata(LocalPath(fileName));
    *metadata = std::move(loaded.metadata);
    return loaded.pixels;
  } catch (const velmora::io::IoError& e) {
    // The refusals carry the application's own texts.
    *problem = e.markedText() ? Translated(e) : QCoreApplication::translate("Picture", velmora::io::kOpenFailed);
  } catch (const std::exception&) {
    *problem = QCoreApplication::translate("Picture", velmora::io::kOpenFailed);
  }
  return cv::Mat();
}

cv::Mat LoadKernelPicture(const QString& fileName, QString* problem) {
  try {
    return velmora::io::LoadKernelFile(LocalPath(fileName));
  } catch (const std::exception& e) {
    *problem = tr("The kernel \"%1\" cannot be used:\n%2").arg(fileName, QString::fromLocal8Bit(e.what()));
  }
  return cv::Mat();
}

QString SaveKernelPicture(const cv::Mat& kernel, const QString& fileName) {
  if (kernel.empty()) return tr("There is no kernel to save on this page.");
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  cv::Mat picture;
  if (suffix == QLatin1String("png")) {
    double top = 0.0;
    cv::minMaxLoc(kernel, nullptr, &top);
    kernel.convertTo(picture, CV_16U, top > 0.0 ? 65535.0 / top : 0.0);
  } else if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff")) {
    kernel.convertTo(picture, CV_32F);
  } else {
    return tr("A kernel is saved as .png (16-bit) or .tif (32-bit float), not as \"%1\".").arg(fileName);
  }
  try {
    const std::string extension = QStringLiteral(".%1").arg(suffix).toStdString();
    velmora::io::WriteFileAtomically(LocalPath(fileName), velmora::io::EncodePicture(picture, extension));
  } catch (const std::exception& e) {
    return tr("The kernel could not be saved as \"%1\".\n\n%2").arg(fileName, QString::fromLocal8Bit(e.what()));
  }
  return QString();
}

QString SavePicture(const cv::Mat& picture, const QString& fileName, const velmora::io::PictureMetadata& metadata,
                    QString* notice) {
  if (picture.empty()) return tr("There is no result to save on this page.");
  const QString suffix = QFileInfo(fileName).suffix();
  if (suffix.isEmpty())
    return tr("The file name \"%1\" has no extension.\n\n"
              "Add .jpg, .png, .bmp or .tif to choose the format.")
        .arg(fileName);
  try {
    const std::filesystem::path path = LocalPath(fileName);
    const std::string extension = QStringLiteral(".%1").arg(suffix).toStdString();
    std::string metadataProblem;
    const std::vector<unsigned char> bytes =
        metadata.AddTo(velmora::io::EncodePicture(picture, extension), extension, &metadataProblem);
    velmora::io::WriteFileAtomically(path, bytes);
    if (!metadataProblem.empty())
      *notice = tr("The image was saved as \"%1\" without the picture's metadata.\n\n%2")
                    .arg(fileName, QString::fromStdString(metadataProblem));
  } catch (const std::exception& e) {  // refusals of the encoder and of the file system
    return tr("The image could not be saved as \"%1\".\n\n%2").arg(fileName, QString::fromLocal8Bit(e.what()));
  }
  return QString();
}

QString PictureShortName(const QString& path) {
  if (path.contains('/')) return path.mid(path.lastIndexOf('/') + 1);
  if (path.contains('\\')) return path.mid(path.lastIndexOf('\\') + 1);
  return path;
}

QString PictureFileType(const QString& path) {
  const int dot = path.lastIndexOf('.');
  return dot < 0 ? QStringLiteral("unknown") : path.mid(dot + 1).toLower();
}

QString LocalFileOf(const QString& argument, QString* problem) {
  // A Windows drive letter ("C:/...") parses as a scheme: only names that
  // say "scheme://" are taken for URIs.
  if (!argument.contains(QStringLiteral("://"))) return argument;
  const QUrl url(argument);
  if (url.isLocalFile()) return url.toLocalFile();
  *problem = QCoreApplication::translate("PictureFile", "Only pictures on this computer can be opened: %1")
                 .arg(argument);
  return QString();
}
