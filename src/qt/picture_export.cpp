#include "qt/picture_export.h"

#include <QBuffer>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgGenerator>
#include <QWidget>

#include "qt/text.h"

namespace qt_adapters {

QString picturePathWithExtension(const QString& path) {
    return QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".png") : path;
}

bool isPicturePath(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QStringLiteral("png") || suffix == QStringLiteral("svg");
}

QString pictureFileFilter() {
    return QStringLiteral("PNG 图片(*.png);;SVG 矢量图(*.svg)");
}

common::FileResult saveWidgetPicture(QWidget& view, const QString& path, const QString& title) {
    const std::filesystem::path file = pathOf(path);
    const std::string shown = common::displayPath(file);
    if (!isPicturePath(path)) return {false, "无法保存图片 " + shown + "：只能存为 .png 或 .svg"};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    bool drawn = false;
    if (QFileInfo(path).suffix().toLower() == QStringLiteral("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(view.size());
        svg.setViewBox(QRect(QPoint(0, 0), view.size()));
        svg.setTitle(title);
        QPainter painter;
        drawn = painter.begin(&svg);
        if (drawn) {
            view.render(&painter);
            drawn = painter.end();
        }
    } else {
        drawn = view.grab().save(&buffer, "PNG");
    }
    if (!drawn || bytes.isEmpty()) return {false, "无法画出图片 " + shown};
    const common::SaveOutcome saved = common::saveFile(file, [&](common::ByteSink& sink) {
        return sink.write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    });
    if (!saved.ok) return {false, "无法保存图片 " + shown + "：" + saved.reason};
    return {};
}

void copyWidgetPicture(QWidget& view) {
    QGuiApplication::clipboard()->setPixmap(view.grab());
}

}  // namespace qt_adapters
