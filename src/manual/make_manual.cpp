// make_manual TEXT.md OUT.pdf: turns the user manual, kept as Markdown with
// screenshots beside it, into the PDF the analyzer's 用户手册 button opens:
// a table of contents with page numbers after the title, every screenshot
// whole within the text's width, page numbers at the foot. Run at build time,
// offscreen.
#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>

namespace {

constexpr char kFont[] = "WenQuanYi Micro Hei";

int fail(const QString& text) {
    std::fprintf(stderr, "make_manual: %s\n", qPrintable(text));
    return 1;
}

// Images come from the text's folder as the layout asks for them, whole: no
// wider than the text and at most 55 % of a page tall, so a picture never
// runs off the page and leaves little of one empty. The layout draws an image
// of n pixels over n × (PDF dpi ÷ 96) device pixels, so the limits are given
// to it in those 96-dpi pixels. A missing image is remembered, so a renamed
// screenshot fails the build instead of leaving a hole.
class ManualDocument final : public QTextDocument {
  public:
    ManualDocument(QString folder, QSizeF largest)
        : folder_(std::move(folder)), largest_(largest) {}
    QStringList missing;

  protected:
    QVariant loadResource(int type, const QUrl& name) override {
        if (type != QTextDocument::ImageResource) return QTextDocument::loadResource(type, name);
        QImage picture(folder_ + '/' + name.toString());
        if (picture.isNull()) {
            missing << name.toString();
            return {};
        }
        if (picture.width() > largest_.width() || picture.height() > largest_.height())
            picture =
                picture.scaled(largest_.toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return picture;
    }

  private:
    QString folder_;
    QSizeF largest_;
};

constexpr int kContentsLevel = 2;  // the chapters ("## 1 连接测试仪") are listed

// "目录" and one line per chapter after the title, each ending in a tab and a
// page number kept as wide as the finished one will be ("000" first).
// `tabAt` is where the numbers end, in 96-dpi pixels as tab stops are given.
QList<QTextBlock> insertContents(QTextDocument& document, qreal tabAt) {
    QStringList chapters;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == kContentsLevel) chapters << block.text();
    }
    QTextBlock title = document.begin();
    while (title.isValid() && title.blockFormat().headingLevel() != 1)
        title = title.next();
    if (!title.isValid() || chapters.isEmpty()) return {};
    QTextCursor cursor(title);
    cursor.movePosition(QTextCursor::EndOfBlock);
    QTextBlockFormat heading = title.blockFormat();
    heading.setHeadingLevel(0);
    QTextCharFormat headingText;
    headingText.setFontPointSize(13);
    headingText.setFontWeight(QFont::Bold);
    cursor.insertBlock(heading, headingText);
    cursor.insertText(QStringLiteral("目录"));
    QTextBlockFormat line;
    line.setTabPositions({QTextOption::Tab(tabAt, QTextOption::RightTab)});
    line.setTopMargin(2);
    QList<QTextBlock> lines;
    for (const QString& chapter : chapters) {
        cursor.insertBlock(line, QTextCharFormat());
        cursor.insertText(chapter + QStringLiteral("\t000"));
        lines << cursor.block();
    }
    QTextBlockFormat after = line;
    after.setBottomMargin(12);
    cursor.setBlockFormat(after);
    return lines;
}

// Examples (code blocks) in a smaller type on a grey ground, wrapped at the
// text's edge instead of running off the page.
void styleExamples(QTextDocument& document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (!format.nonBreakableLines()) continue;
        format.setNonBreakableLines(false);
        format.setBackground(QColor(242, 242, 242));
        QTextCursor cursor(block);
        cursor.setBlockFormat(format);
        cursor.select(QTextCursor::BlockUnderCursor);
        QTextCharFormat smaller;
        smaller.setFontPointSize(8.5);
        cursor.mergeCharFormat(smaller);
    }
}

// The page each chapter starts on, written into its contents line.
void numberContents(QTextDocument& document, const QList<QTextBlock>& lines) {
    const qreal pageHeight = document.pageSize().height();
    QList<int> pages;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() != kContentsLevel) continue;
        const qreal top = document.documentLayout()->blockBoundingRect(block).top();
        pages << int(top / pageHeight) + 1;
    }
    for (qsizetype i = 0; i < lines.size() && i < pages.size(); ++i) {
        QTextCursor cursor(lines[i]);
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, 3);
        cursor.insertText(QString::number(pages[i]).rightJustified(3, QLatin1Char(' ')));
    }
}

// One page of the laid-out document after another, each numbered at its foot
// (in the page's bottom margin).
void printPages(QTextDocument& document, QPdfWriter& writer, qreal footY) {
    QPainter painter(&writer);
    const QSizeF page = document.pageSize();
    QFont footFont(QString::fromUtf8(kFont));
    footFont.setPointSizeF(8.5);
    for (int number = 0; number < document.pageCount(); ++number) {
        if (number > 0) writer.newPage();
        painter.save();
        const QRectF shown(0, number * page.height(), page.width(), page.height());
        painter.translate(0, -shown.top());
        document.drawContents(&painter, shown);
        painter.restore();
        painter.setFont(footFont);
        painter.setPen(Qt::darkGray);
        painter.drawText(QRectF(0, footY, page.width(), page.height() * 0.03),
                         Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("— %1 —").arg(number + 1));
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
    const QSizeF printable = writer.pageLayout().paintRectPixels(writer.resolution()).size();
    // The text stops a little above the margin, which holds the page number.
    const QSizeF page(printable.width(), printable.height() - writer.resolution() * 0.25);
    const qreal toLayout = 96.0 / writer.logicalDpiX();
    ManualDocument document(QFileInfo(source).absolutePath(),
                            QSizeF((page.width() - 8) * toLayout, page.height() * 0.55 * toLayout));
    document.setDocumentMargin(4);
    // Fonts are measured on the PDF's own resolution, not the screen's.
    document.documentLayout()->setPaintDevice(&writer);
    document.setPageSize(page);
    QFont font(QString::fromUtf8(kFont));
    font.setPointSizeF(10.5);
    document.setDefaultFont(font);
    document.setMarkdown(QString::fromUtf8(source.readAll()));
    styleExamples(document);
    const QList<QTextBlock> contents = insertContents(document, (page.width() - 20) * toLayout);
    document.pageCount();  // lays the document out, loading every image
    if (!document.missing.isEmpty())
        return fail(QStringLiteral("no image ") + document.missing.join(QStringLiteral(", ")));
    numberContents(document, contents);
    printPages(document, writer, page.height() + writer.resolution() * 0.1);
    return 0;
}
