#pragma once

#include <QImage>
#include <QString>

/// Writes an image as a JPEG file (libjpeg-turbo), atomically. False with the reason in `error`.
bool SaveJpeg(const QImage& image, const QString& path, int quality = 90, QString* error = nullptr);
