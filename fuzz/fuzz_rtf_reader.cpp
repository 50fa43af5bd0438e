// The rich-text reader on hostile bytes: the sink's contract, the limits that keep input cheap,
// and the document built from the same text.

#include <QByteArrayView>
#include <QGuiApplication>
#include <QString>
#include <QStringView>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/rtf_reader.h"
#include "fuzz_check.h"

namespace {

// Keeps what it receives as the document's raw text and checks each call against the contract.
class CheckingSink final : public k9::RtfSink {
  public:
    void text(std::u16string_view run, const k9::RtfCharFormat&) override {
        K9_FUZZ_CHECK(!ended_, "text after the end of the document");
        for (std::size_t i = 0; i < run.size(); ++i) {
            const char16_t u = run[i];
            K9_FUZZ_CHECK(u >= 0x20 || u == u'\t', "control character in a text run");
            if (u >= 0xD800 && u <= 0xDBFF) {
                K9_FUZZ_CHECK(i + 1 < run.size() && run[i + 1] >= 0xDC00 && run[i + 1] <= 0xDFFF,
                              "high surrogate without its low half");
                ++i;
            } else {
                K9_FUZZ_CHECK(u < 0xDC00 || u > 0xDFFF, "low surrogate on its own");
            }
        }
        raw += run;
        characters += run.size();
        ++runs;
    }

    void paragraphEnd(const k9::RtfParaFormat& format) override {
        K9_FUZZ_CHECK(!ended_, "paragraph after the end of the document");
        checkFormat(format);
        raw += u'\u2029';
        ++paragraphs;
    }

    void documentEnd(const k9::RtfParaFormat& format) override {
        K9_FUZZ_CHECK(!ended_, "the document ends twice");
        checkFormat(format);
        ended_ = true;
    }

    bool ended() const { return ended_; }

    std::u16string raw;
    std::size_t characters = 0;
    std::size_t runs = 0;
    std::size_t paragraphs = 0;

  private:
    static void checkFormat(const k9::RtfParaFormat& format) {
        K9_FUZZ_CHECK(format.tabCount >= 0 && format.tabCount <= k9::kRtfMaxTabStops,
                      "tab stops beyond the limit");
    }

    bool ended_ = false;
};

void checkParse(std::string_view rtf, const k9::RtfLimits& limits, CheckingSink& sink) {
    const k9::RtfParseResult result = k9::parseRtf(rtf, sink, limits);
    K9_FUZZ_CHECK(sink.ended(), "the document is ended");
    K9_FUZZ_CHECK(result.header == k9::looksLikeRtf(rtf), "header recognition");
    K9_FUZZ_CHECK(sink.runs <= limits.maxRuns, "text runs beyond the limit");
    K9_FUZZ_CHECK(sink.paragraphs <= limits.maxParagraphs, "paragraphs beyond the limit");
    K9_FUZZ_CHECK(sink.characters + sink.paragraphs <= limits.maxOutput, "output beyond the limit");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Documents lay out text with fonts, which want an application object; no display needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view rtf(reinterpret_cast<const char*>(bytes), size);

    CheckingSink full;
    checkParse(rtf, k9::RtfLimits{}, full);

    // Tight limits, so that short inputs reach every one of them.
    k9::RtfLimits tight;
    tight.maxGroupDepth = 4;
    tight.maxOutput = 40;
    tight.maxParagraphs = 3;
    tight.maxRuns = 5;
    CheckingSink small;
    checkParse(rtf, tight, small);

    QTextDocument doc;
    doc.setPlainText(QStringLiteral("before"));
    const bool loaded = k9::loadRtf(doc, QByteArrayView(rtf.data(), static_cast<qsizetype>(size)));
    K9_FUZZ_CHECK(loaded == k9::looksLikeRtf(rtf), "what loads is what looks like rich text");
    if (!loaded) {
        K9_FUZZ_CHECK(doc.toPlainText() == QStringLiteral("before"),
                      "a refused file leaves the document");
        return 0;
    }
    // The document's own frame marks cannot be text; everything else arrives unchanged.
    QString expected = QStringView(full.raw).toString();
    expected.replace(QChar(0xFDD0), QChar::ReplacementCharacter);
    expected.replace(QChar(0xFDD1), QChar::ReplacementCharacter);
    const QString raw = doc.toRawText();
    K9_FUZZ_CHECK(raw == expected, "the document holds exactly the text read");
    return 0;
}
