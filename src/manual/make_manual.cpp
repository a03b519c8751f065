// make_manual TEXT.md OUT.pdf: turns the user manual, kept as Markdown with
// screenshots beside it, into the PDF the analyzer's 用户手册 button opens.
// Run at build time, offscreen.
#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>

namespace {

constexpr char kFont[] = "WenQuanYi Micro Hei";

int fail(const QString& text) {
    std::fprintf(stderr, "make_manual: %s\n", qPrintable(text));
    return 1;
}

// Images come from the text's folder as the layout asks for them, no wider
// than the text; a missing one is remembered, so a renamed screenshot fails
// the build instead of leaving a hole.
class ManualDocument final : public QTextDocument {
  public:
    ManualDocument(QString folder, qreal textWidth)
        : folder_(std::move(folder)), textWidth_(textWidth) {}
    QStringList missing;

  protected:
    QVariant loadResource(int type, const QUrl& name) override {
        if (type != QTextDocument::ImageResource) return QTextDocument::loadResource(type, name);
        QImage picture(folder_ + '/' + name.toString());
        if (picture.isNull()) {
            missing << name.toString();
            return {};
        }
        if (picture.width() > textWidth_)
            picture = picture.scaledToWidth(int(textWidth_), Qt::SmoothTransformation);
        return picture;
    }

  private:
    QString folder_;
    qreal textWidth_;
};

// One page of the laid-out document after another.
void printPages(QTextDocument& document, QPdfWriter& writer) {
    QPainter painter(&writer);
    const QSizeF page = document.pageSize();
    for (int number = 0; number < document.pageCount(); ++number) {
        if (number > 0) writer.newPage();
        painter.save();
        const QRectF shown(0, number * page.height(), page.width(), page.height());
        painter.translate(0, -shown.top());
        document.drawContents(&painter, shown);
        painter.restore();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) return fail(QStringLiteral("usage: make_manual TEXT.md OUT.pdf"));
    QFile source(arguments[1]);
    if (!source.open(QIODevice::ReadOnly)) return fail(arguments[1] + ": " + source.errorString());

    QPdfWriter writer(arguments[2]);
    writer.setTitle(QStringLiteral("ufcs分析仪使用说明"));
    writer.setCreator(QStringLiteral("make_manual"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter));
    writer.setResolution(150);
    const QSizeF page = writer.pageLayout().paintRectPixels(writer.resolution()).size();

    ManualDocument document(QFileInfo(source).absolutePath(), page.width() - 8);
    document.setDocumentMargin(4);
    // Fonts are measured on the PDF's own resolution, not the screen's.
    document.documentLayout()->setPaintDevice(&writer);
    document.setPageSize(page);
    QFont font(QString::fromUtf8(kFont));
    font.setPointSizeF(10.5);
    document.setDefaultFont(font);
    document.setMarkdown(QString::fromUtf8(source.readAll()));
    document.pageCount();  // lays the document out, loading every image
    if (!document.missing.isEmpty())
        return fail(QStringLiteral("no image ") + document.missing.join(QStringLiteral(", ")));
    printPages(document, writer);
    return 0;
}
