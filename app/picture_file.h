// Reading and writing the pictures the application opens and saves.
#pragma once

#include <QString>
#include <opencv2/core.hpp>

// Reads fileName as 8-bit blue-green-red (grey becomes three equal
// channels). On refusal returns an empty matrix and sets *problem to the
// text to show: the file cannot be read, or a side is below 200 pixels.
cv::Mat ReadPictureFile(const QString& fileName, QString* problem);

// Reads a kernel picture as the command-line tool's --kernel does (odd
// sides, negatives to 0, summing to 1). On refusal returns an empty matrix
// and sets *problem.
cv::Mat LoadKernelPicture(const QString& fileName, QString* problem);

// Writes a kernel (CV_32F) keeping its precision: a .png as 16-bit grey
// scaled to its largest entry, a .tif or .tiff as 32-bit float values.
// Whole or not at all; returns an empty text on success.
QString SaveKernelPicture(const cv::Mat& kernel, const QString& fileName);

// Writes an 8-bit picture in the format of fileName's extension, whole or
// not at all: an existing file is replaced only by a complete one. Returns
// an empty text on success, otherwise the problem in words.
QString SavePicture(const cv::Mat& picture, const QString& fileName);
