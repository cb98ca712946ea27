// Reading and writing the pictures the application opens and saves.
#pragma once

#include <QString>
#include <opencv2/core.hpp>

#include "io/metadata.h"

// Reads fileName as blue-green-red at its own depth (grey becomes three
// equal channels), upright, with its metadata in *metadata. On refusal
// returns an empty matrix and sets *problem to the text to show: the file
// cannot be read, or a side is below 200 pixels.
cv::Mat ReadPictureFile(const QString& fileName, QString* problem, velmora::io::PictureMetadata* metadata);

// Reads a kernel picture as the command-line tool's --kernel does (odd
// sides, negatives to 0, summing to 1). On refusal returns an empty matrix
// and sets *problem.
cv::Mat LoadKernelPicture(const QString& fileName, QString* problem);

// Writes a kernel (CV_32F) keeping its precision: a .png as 16-bit grey
// scaled to its largest entry, a .tif or .tiff as 32-bit float values.
// Whole or not at all; returns an empty text on success.
QString SaveKernelPicture(const cv::Mat& kernel, const QString& fileName);

// Writes a picture in the format of fileName's extension (16-bit PNG and
// TIFF for a deeper picture), with `metadata`, whole or not at all: an
// existing file is replaced only by a complete one. Returns an empty text
// on success, otherwise the problem in words. When the picture was saved
// but its metadata could not be, *notice says so.
QString SavePicture(const cv::Mat& picture, const QString& fileName, const velmora::io::PictureMetadata& metadata,
                    QString* notice);

// The short name shown for a picture: the text after the last "/", else
// after the last "\".
QString PictureShortName(const QString& path);

// The picture's file type as shown: the text after the last "." anywhere in
// the path, lower case; "unknown" without one.
QString PictureFileType(const QString& path);

// The local file a start-up argument names: a path as it is, a file:// URI
// as its path. Empty, with *problem set, for another kind of URI.
QString LocalFileOf(const QString& argument, QString* problem);
