#include "app/picture_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <exception>
#include <filesystem>

#include "cli/errors.h"
#include "cli/picture.h"
#include "cli/staged_file.h"

namespace {

QString tr(const char* text) { return QCoreApplication::translate("SubMainWindow", text); }

std::filesystem::path LocalPath(const QString& fileName) {
  return std::filesystem::path(QFile::encodeName(fileName).toStdString());
}

}  // namespace

cv::Mat ReadPictureFile(const QString& fileName, QString* problem) {
  try {
    return velmora::cli::ReadPicture(LocalPath(fileName));
  } catch (const velmora::cli::CliError& e) {
    // The refusals carry the application's own texts.
    *problem = e.verbatim() ? tr(e.what()) : tr("Error while opening image file.");
  } catch (const std::exception&) {
    *problem = tr("Error while opening image file.");
  }
  return cv::Mat();
}

QString SavePicture(const cv::Mat& picture, const QString& fileName) {
  if (picture.empty()) return tr("There is no result to save on this page.");
  const QString suffix = QFileInfo(fileName).suffix();
  if (suffix.isEmpty())
    return tr("The file name \"%1\" has no extension.\n\n"
              "Add .jpg, .png or .bmp to choose the format.")
        .arg(fileName);
  try {
    const std::filesystem::path path = LocalPath(fileName);
    const std::string extension = QStringLiteral(".%1").arg(suffix).toStdString();
    const std::vector<unsigned char> bytes = velmora::cli::EncodePicture(picture, extension);
    velmora::cli::WriteFileAtomically(path, bytes);
  } catch (const std::exception& e) {  // refusals of the encoder and of the file system
    return tr("The image could not be saved as \"%1\".\n\n%2").arg(fileName, QString::fromLocal8Bit(e.what()));
  }
  return QString();
}
