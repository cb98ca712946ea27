// Reading and writing the pictures the application opens and saves.
#pragma once

#include <QString>
#include <opencv2/core.hpp>

// Reads fileName as 8-bit blue-green-red (grey becomes three equal
// channels). On refusal returns an empty matrix and sets *problem to the
// text to show: the file cannot be read, or a side is below 200 pixels.
cv::Mat ReadPictureFile(const QString& fileName, QString* problem);

// Writes an 8-bit picture in the format of fileName's extension, whole or
// not at all: an existing file is replaced only by a complete one. Returns
// an empty text on success, otherwise the problem in words.
QString SavePicture(const cv::Mat& picture, const QString& fileName);
