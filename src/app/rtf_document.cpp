// Builds a QTextDocument from what the reader passes on.
#include "app/rtf_reader.h"

#include <QFile>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace k9 {
namespace {

Qt::Alignment toQt(RtfAlignment alignment) {
    switch (alignment) {
        case RtfAlignment::Center:
            return Qt::AlignHCenter;
        case RtfAlignment::Right:
            return Qt::AlignRight;
        case RtfAlignment::Justify:
            return Qt::AlignJustify;
        case RtfAlignment::Left:
            break;
    }
    return Qt::AlignLeft;
}

// Twips to document pixels at 96 dots per inch.
qreal toPixels(int twips) {
    return twips / 15.0;
}

// QTextDocument's marks of the start and end of a frame (QTextBeginningOfFrame, QTextEndOfFrame).
constexpr char16_t kFrameStart = u'\uFDD0';
constexpr char16_t kFrameEnd = u'\uFDD1';

class DocumentBuilder final : public RtfSink {
  public:
    explicit DocumentBuilder(QTextDocument& doc) : cursor_(&doc) { cursor_.beginEditBlock(); }
    ~DocumentBuilder() override { cursor_.endEditBlock(); }
    DocumentBuilder(const DocumentBuilder&) = delete;
    DocumentBuilder& operator=(const DocumentBuilder&) = delete;

    void text(std::u16string_view run, const RtfCharFormat& format) override {
        QTextCharFormat qf;
        qf.setFontWeight(format.bold ? QFont::Bold : QFont::Normal);
        qf.setFontItalic(format.italic);
        qf.setFontUnderline(format.underline);
        // Copied as it is: fromUtf16 would take a leading U+FEFF or U+FFFE for a byte order mark
        // and drop it, or swap the bytes of the whole run.
        QString text(reinterpret_cast<const QChar*>(run.data()),
                     static_cast<qsizetype>(run.size()));
        // The document keeps its frame marks in the text; inserted as text they would start new
        // paragraphs.
        text.replace(QChar(kFrameStart), QChar::ReplacementCharacter);
        text.replace(QChar(kFrameEnd), QChar::ReplacementCharacter);
        cursor_.insertText(text, qf);
    }

    void paragraphEnd(const RtfParaFormat& format) override {
        cursor_.setBlockFormat(blockFormat(format));
        cursor_.insertBlock();
    }

    void documentEnd(const RtfParaFormat& format) override {
        cursor_.setBlockFormat(blockFormat(format));
    }

  private:
    static QTextBlockFormat blockFormat(const RtfParaFormat& format) {
        QTextBlockFormat qf;
        qf.setAlignment(toQt(format.alignment));
        qf.setLeftMargin(toPixels(format.leftIndent));
        qf.setRightMargin(toPixels(format.rightIndent));
        qf.setTextIndent(toPixels(format.firstLineIndent));
        qf.setTopMargin(toPixels(format.spaceBefore));
        qf.setBottomMargin(toPixels(format.spaceAfter));
        QList<QTextOption::Tab> tabs;
        for (int i = 0; i < format.tabCount; ++i) {
            tabs.append(QTextOption::Tab(toPixels(format.tabStops[i]), QTextOption::LeftTab));
        }
        qf.setTabPositions(tabs);
        return qf;
    }

    QTextCursor cursor_;
};

}  // namespace

bool loadRtf(QTextDocument& doc, QByteArrayView rtf) {
    const std::string_view bytes(rtf.data(), static_cast<std::size_t>(rtf.size()));
    if (!looksLikeRtf(bytes)) {
        return false;
    }
    // Loading is not an edit the user could undo; an undo stack would only cost memory.
    const bool undo = doc.isUndoRedoEnabled();
    doc.setUndoRedoEnabled(false);
    doc.clear();
    {
        DocumentBuilder builder(doc);
        parseRtf(bytes, builder);
    }
    doc.setUndoRedoEnabled(undo);
    return true;
}

bool loadRtfFile(QTextDocument& doc, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.read(kMaxRtfFileBytes);
    if (file.error() != QFileDevice::NoError) {
        return false;
    }
    return loadRtf(doc, bytes);
}

}  // namespace k9
