#include "app/rtf_reader.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <string>
#include <tuple>
#include <vector>

namespace k9 {
namespace {

QString q(const char16_t* text) {
    return QString::fromUtf16(text);
}

// Blocks joined by '\n'; line breaks inside a block stay U+2028.
QString blocksOf(const QTextDocument& doc) {
    QStringList blocks;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        blocks << b.text();
    }
    return blocks.join(u'\n');
}

QString load(const QByteArray& rtf) {
    QTextDocument doc;
    EXPECT_TRUE(loadRtf(doc, rtf));
    return blocksOf(doc);
}

// b(old), i(talic), u(nderlined): the first character of `word`'s first occurrence.
std::string marksOf(QTextDocument& doc, const QString& word) {
    const QTextCursor found = doc.find(word, 0, QTextDocument::FindCaseSensitively);
    EXPECT_FALSE(found.isNull()) << word.toStdString();
    QTextCursor at(&doc);
    at.setPosition(found.selectionStart() + 1);
    const QTextCharFormat f = at.charFormat();
    return std::string(f.fontWeight() >= QFont::Bold ? "b" : "") + (f.fontItalic() ? "i" : "") +
           (f.fontUnderline() ? "u" : "");
}

// Collects what the parser produces, paragraphs ended by '\n'.
class TextSink final : public RtfSink {
  public:
    void text(std::u16string_view run, const RtfCharFormat&) override { out.append(run); }
    void paragraphEnd(const RtfParaFormat&) override { out += u'\n'; }
    void documentEnd(const RtfParaFormat&) override { ++ends; }
    std::u16string out;
    int ends = 0;
};

RtfParseResult parse(const QByteArray& rtf, TextSink& sink, const RtfLimits& limits = {}) {
    return parseRtf(std::string_view(rtf.constData(), static_cast<std::size_t>(rtf.size())), sink,
                    limits);
}

TEST(RtfReaderTest, ParagraphsLineBreaksTabsCodePage1252EscapesAndUnicode) {
    const std::pair<const char*, const char16_t*> rows[] = {
        {"{\\rtf1\\ansi First line\\line second\\par\nNext\\tab paragraph.\\par\nLast}",
         u"First line\u2028second\nNext\tparagraph.\nLast"},
        // CR and LF in the file are not content; a backslash before a line end is \par.
        {"{\\rtf1 one\r\ntwo\\\nthree}", u"onetwo\nthree"},
        // A trailing \par leaves an empty last paragraph, as in a word processor.
        {R"({\rtf1 only\par})", u"only\n"},
        // \'80-\'9f are the Windows characters, not C1 controls; unassigned bytes show as U+FFFD.
        {R"({\rtf1 \'80 \'93q\'94 \'96 \'97 \'85 \'99 \'9f \'e9\'C9 \'81})",
         u"\u20AC \u201Cq\u201D \u2013 \u2014 \u2026 \u2122 \u0178 \u00E9\u00C9 \uFFFD"},
        {R"({\rtf1 \'C9\'c9 \'AF\'af \'Fa})", u"\u00C9\u00C9 \u00AF\u00AF \u00FA"},
        // A broken escape is dropped; what follows it is text.
        {R"({\rtf1 \'G1 \'9z})", u"G1 z"},
        // Bytes above 0x7F written directly are code page 1252 as well.
        {"{\\rtf1 caf\xe9 \x80}", u"caf\u00E9 \u20AC"},
        {R"({\rtf1 a\\b \{c\} d\~e\_f\-g})", u"a\\b {c} d\u00A0e\u2011fg"},
        {R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})",
         u"\u2014\u2013\u2022\u2018\u2019\u201C\u201D"},
        // \uc1 is the default: one fallback character follows \uN and is dropped.
        {R"({\rtf1 \u8211?x})", u"\u2013x"},
        // A \'hh escape counts as one fallback character.
        {R"({\rtf1 \u8364\'80x})", u"\u20ACx"},
        // Values above 32767 come as negative numbers; \uc is scoped to its group.
        {R"({\rtf1 \u-4064?})", u"\uF020"},
        {R"({\rtf1 {\uc3 \u955 abc}\u955 xy})", u"\u03BB\u03BBy"},
        // Surrogate pairs join; a lone surrogate becomes U+FFFD.
        {R"({\rtf1 \u-10179?\u-8704?})", u"\U0001F600"},
        {R"({\rtf1 a\u-10179?b\u-8704?c})", u"a\uFFFDb\uFFFDc"},
    };
    for (const auto& [rtf, text] : rows) {
        EXPECT_EQ(load(rtf).toStdString(), q(text).toStdString()) << rtf;
    }
}

TEST(RtfReaderTest, CharacterFormattingFollowsGroupsAndResets) {
    QTextDocument doc;
    ASSERT_TRUE(loadRtf(
        doc,
        R"({\rtf1 plain {\b bold {\i both} \ul under\ulnone} normal \b on\b0  off \i it\plain  reset \ul u1\ul0  u0})"));
    EXPECT_EQ(blocksOf(doc), QString("plain bold both under normal on off it reset u1 u0"));
    const std::vector<std::pair<QString, std::string>> words{
        {"plain", ""}, {"bold", "b"}, {"both", "bi"}, {"under", "bu"}, {"normal", ""}, {"on", "b"},
        {"off", ""},   {"it", "i"},   {"reset", ""},  {"u1", "u"},     {"u0", ""}};
    for (const auto& [word, marks] : words) {
        EXPECT_EQ(marksOf(doc, word), marks) << word.toStdString();
    }
}

TEST(RtfReaderTest, ParagraphPropertiesAndPard) {
    QTextDocument doc;
    ASSERT_TRUE(loadRtf(doc, R"({\rtf1\pard\qc\sa120 Title\par
\pard\li720\fi-360\tx720 1.\tab Step\par
\pard Body})"));
    ASSERT_EQ(doc.blockCount(), 3);
    const QTextBlock title = doc.begin();
    const QTextBlock step = title.next();
    const QTextBlock body = step.next();
    EXPECT_EQ(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_DOUBLE_EQ(title.blockFormat().bottomMargin(), 8.0);
    EXPECT_DOUBLE_EQ(step.blockFormat().leftMargin(), 48.0);
    EXPECT_DOUBLE_EQ(step.blockFormat().textIndent(), -24.0);
    ASSERT_EQ(step.blockFormat().tabPositions().size(), 1);
    EXPECT_DOUBLE_EQ(step.blockFormat().tabPositions().front().position, 48.0);
    EXPECT_EQ(body.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_DOUBLE_EQ(body.blockFormat().leftMargin(), 0.0);
    EXPECT_TRUE(body.blockFormat().tabPositions().isEmpty());
}

TEST(RtfReaderTest, DestinationsAreSkipped) {
    const QByteArray rtf = R"({\rtf1\ansi\ansicpg1252\deff0
{\fonttbl{\f0\fswiss\fcharset0 Tahoma;}{\f1\froman Times New Roman;}}
{\colortbl ;\red255\green0\blue0;}
{\stylesheet{\s0 Normal;}{\s1\b heading 1;}}
{\info{\title Secret title}{\author Someone}{\creatim\yr2024}}
{\*\generator Some writer 1.0;}{\*\unknownthing hidden}
\viewkind4\uc1\pard\f0\fs18 Visible
{\pict\pngblip\picw10\pich10 89504e470d0a1a0a}
{\*\shppict{\pict\emfblip 0102}}{\nonshppict{\pict\wmetafile8 0304}}
{\object\objemb{\*\objdata 0102}}
 {\field{\*\fldinst HYPERLINK "http://example"}{\fldrslt link text}}
{\header page header}{\footnote a note}
 end.\par
})";
    EXPECT_EQ(load(rtf), QString("Visible link text end.\n"));
}

TEST(RtfReaderTest, NotRtfIsRefusedAndLeavesTheDocument) {
    QTextDocument doc;
    doc.setPlainText("kept");
    EXPECT_FALSE(loadRtf(doc, "plain text, not rich text"));
    EXPECT_FALSE(loadRtf(doc, ""));
    EXPECT_FALSE(loadRtf(doc, "{\\rt"));
    EXPECT_EQ(doc.toPlainText(), QString("kept"));
    // Leading blank lines before the header are tolerated.
    EXPECT_TRUE(loadRtf(doc, "\r\n {\\rtf1 ok}"));
    EXPECT_EQ(doc.toPlainText(), QString("ok"));
}

TEST(RtfReaderTest, UnbalancedBracesLoadWhatIsThere) {
    // The bytes, their text, whether they begin with the header and are balanced.
    const std::vector<std::tuple<const char*, std::u16string, bool, bool>> cases{
        {R"({\rtf1 {\b start {\i more)", u"start more", true, false},
        {R"({\rtf1 a}} b}}})", u"a b", true, false},
        // Bytes before the document's group are not text.
        {"junk {\\rtf1 x}", u"x", false, true},
        {R"({\rtf1 {a}{b}})", u"ab", true, true},
    };
    for (const auto& [rtf, text, header, balanced] : cases) {
        TextSink sink;
        const RtfParseResult r = parse(rtf, sink);
        EXPECT_EQ(
            std::tie(sink.out, r.header, r.balanced, r.depthLimited, r.outputLimited, sink.ends),
            std::tuple(text, header, balanced, false, false, 1))
            << rtf;
    }
}

TEST(RtfReaderTest, OutputIsCapped) {
    // Reading stops at the limit; what came before is kept.
    const QByteArray big = "{\\rtf1 " + QByteArray(10 << 20, 'x') + "}";
    TextSink sink;
    RtfParseResult r = parse(big, sink, RtfLimits{.maxOutput = 1000});
    EXPECT_TRUE(r.outputLimited);
    EXPECT_EQ(sink.out.size(), 1000u);

    // The default limit keeps a document of more than two million characters in check.
    QTextDocument doc;
    ASSERT_TRUE(loadRtf(doc, "{\\rtf1 " + QByteArray(3 << 20, 'y') + "}"));
    EXPECT_EQ(doc.characterCount(), static_cast<int>(RtfLimits{}.maxOutput) + 1);
}

TEST(RtfFileTest, LoadsAFileRefusesWhatCannotBeReadAndReadsAGiantInPart) {
    QTemporaryDir dir;
    const auto write = [&dir](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_EQ(f.write(bytes), bytes.size());
        return f.fileName();
    };
    QTextDocument doc;
    ASSERT_TRUE(loadRtfFile(doc, write("guide.rtf", R"({\rtf1 {\b Heading}\par Body})")));
    EXPECT_EQ(blocksOf(doc), QString("Heading\nBody"));

    EXPECT_FALSE(loadRtfFile(doc, dir.filePath("missing.rtf")));
    EXPECT_FALSE(loadRtfFile(doc, dir.path()));
    EXPECT_FALSE(loadRtfFile(doc, write("notes.txt", "just text")));
    EXPECT_FALSE(loadRtfFile(doc, write("empty.rtf", "")));
    EXPECT_EQ(blocksOf(doc), QString("Heading\nBody"));

    // A gigantic file is read only in part: a sparse 1 GiB of the header and text, then zero
    // bytes to the end.
    const QString path = write("huge.rtf", "{\\rtf1 Hello");
    ASSERT_TRUE(QFile(path).resize(qint64{1} << 30));
    ASSERT_TRUE(loadRtfFile(doc, path));
    EXPECT_EQ(blocksOf(doc), QString("Hello"));
}

// The two guides shipped with the program.
class GuideTest : public ::testing::TestWithParam<const char*> {};

TEST_P(GuideTest, LoadsCleanlyWithTheWindowsSteps) {
    QFile f(QStringLiteral(K9_DOCS_DIR "/") + GetParam());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
    const QByteArray bytes = f.readAll();

    TextSink sink;
    const RtfParseResult r = parse(bytes, sink);
    EXPECT_TRUE(r.header);
    EXPECT_TRUE(r.balanced);
    EXPECT_FALSE(r.depthLimited);
    EXPECT_FALSE(r.outputLimited);
    // Leaked RTF syntax or undecodable bytes would show as text.
    const QString shown = QString::fromStdU16String(sink.out);
    EXPECT_FALSE(shown.contains(QRegularExpression(R"([{}\x{FFFD}]|\\[a-z]+-?\d)")))
        << shown.toStdString();

    // The button steps read exactly as in the main window's instructions.
    for (const char16_t* step :
         {u"PRESS and hold down the MODE/MENU button until TONE is displayed.",
          u"Press MUTE/CANCEL button twice \u2013 DOWNLOAD should be displayed.",
          u"Press SELECT twice \u2013 CONNECT should be displayed."}) {
        EXPECT_TRUE(shown.contains(q(step))) << q(step).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Docs, GuideTest,
                         ::testing::Values("K9DownloadInstructions.rtf", "UserGuide.rtf"));

}  // namespace
}  // namespace k9
