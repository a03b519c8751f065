#include "qt/picture_export.h"

#include <QBuffer>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
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

namespace {

constexpr int kHeadingLine = 22;

// The heading lines, then the view below them.
void paintPicture(QPainter& painter, QWidget& view, const QStringList& heading) {
    if (!heading.isEmpty()) {
        const int top = kHeadingLine * static_cast<int>(heading.size()) + 10;
        painter.fillRect(QRect(0, 0, view.width(), top), Qt::black);
        painter.setPen(Qt::white);
        QFont font = view.font();
        font.setPixelSize(15);
        painter.setFont(font);
        for (int i = 0; i < heading.size(); ++i)
            painter.drawText(QRect(10, 6 + i * kHeadingLine, view.width() - 20, kHeadingLine),
                             Qt::AlignLeft | Qt::AlignVCenter, heading[i]);
        painter.translate(0, top);
    }
    view.render(&painter);
}

QSize pictureSize(const QWidget& view, const QStringList& heading) {
    const int top = heading.isEmpty() ? 0 : kHeadingLine * static_cast<int>(heading.size()) + 10;
    return view.size() + QSize(0, top);
}

}  // namespace

common::FileResult saveWidgetPicture(QWidget& view, const QString& path, const QString& title,
                                     const QStringList& heading) {
    const std::filesystem::path file = pathOf(path);
    const std::string shown = common::displayPath(file);
    if (!isPicturePath(path)) return {false, "无法保存图片 " + shown + "：只能存为 .png 或 .svg"};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QSize size = pictureSize(view, heading);
    bool drawn = false;
    if (QFileInfo(path).suffix().toLower() == QStringLiteral("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title);
        QPainter painter;
        drawn = painter.begin(&svg);
        if (drawn) {
            paintPicture(painter, view, heading);
            drawn = painter.end();
        }
    } else if (heading.isEmpty()) {
        drawn = view.grab().save(&buffer, "PNG");
    } else {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        paintPicture(painter, view, heading);
        painter.end();
        drawn = image.save(&buffer, "PNG");
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
