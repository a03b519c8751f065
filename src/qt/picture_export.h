#pragma once
// A view as it is shown, handed on as a picture: 保存图片 writes PNG or SVG
// (by the file's extension; SVG through Qt's generator, so lines and text
// stay sharp), 复制图片 puts it on the clipboard.

#include <QString>
#include <QStringList>

#include "common/file_save.h"

class QWidget;

namespace qt_adapters {

// ".png" when the user gave no extension; false for anything but PNG and SVG.
QString picturePathWithExtension(const QString& path);
bool isPicturePath(const QString& path);

// Writes the view (and its children) to `path`, atomically; the message names the file.
// `heading` lines, when given, are written above the view on its background
// (a picture made without a window: the file's name and what it holds).
common::FileResult saveWidgetPicture(QWidget& view, const QString& path, const QString& title,
                                     const QStringList& heading = {});

// The view as shown, on the clipboard.
void copyWidgetPicture(QWidget& view);

// The file dialog's filter: "PNG 图片(*.png);;SVG 矢量图(*.svg)".
QString pictureFileFilter();

}  // namespace qt_adapters
