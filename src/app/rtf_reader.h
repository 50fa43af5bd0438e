#pragma once

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstddef>
#include <string_view>

class QTextDocument;

namespace k9 {

// A small reader for the rich text our guides are written in: groups, paragraphs, line breaks,
// tabs, bold/italic/underline, \'hh in code page 1252, \uN with its fallback, and the usual
// destinations (font and colour tables, pictures, ...) skipped. Fonts, sizes and colours are
// dropped on purpose: the windows restyle the text anyway.
//
// Parsing is separate from building the document so it can be tested and fuzzed on its own.
// It never recurses on the input's nesting, and every count it keeps is bounded.

struct RtfCharFormat {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool operator==(const RtfCharFormat&) const = default;
};

enum class RtfAlignment : unsigned char { Left, Center, Right, Justify };

// Tab stops beyond this many in one paragraph are ignored.
inline constexpr int kRtfMaxTabStops = 16;

// Paragraph properties; lengths are in twips (1/1440 inch) as in the file.
struct RtfParaFormat {
    RtfAlignment alignment = RtfAlignment::Left;
    int leftIndent = 0;
    int rightIndent = 0;
    int firstLineIndent = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
    std::array<int, kRtfMaxTabStops> tabStops{};  // \txN, in the order given
    int tabCount = 0;
    bool operator==(const RtfParaFormat&) const = default;
};

// Line break inside a paragraph (\line), as QTextDocument spells it.
inline constexpr char16_t kRtfLineBreak = u'\u2028';

// Receives the visible content in document order. Text runs are UTF-16 without CR, LF or other
// control characters except tab and kRtfLineBreak; surrogates always come in valid pairs.
class RtfSink {
  public:
    virtual ~RtfSink() = default;
    virtual void text(std::u16string_view run, const RtfCharFormat& format) = 0;
    // Ends the current paragraph, which has the given properties.
    virtual void paragraphEnd(const RtfParaFormat& format) = 0;
    // Called once at the end with the properties of the last, unterminated paragraph.
    virtual void documentEnd(const RtfParaFormat& format) = 0;
};

// What keeps hostile input cheap. Groups nested deeper than maxGroupDepth are skipped with
// their content. Reading stops once maxOutput characters and paragraph ends were produced, or
// maxParagraphs paragraphs ended, or maxRuns text runs were passed on (paragraphs and format
// changes cost the document far more than characters do).
struct RtfLimits {
    int maxGroupDepth = 512;
    std::size_t maxOutput = std::size_t{1} << 21;
    std::size_t maxParagraphs = std::size_t{1} << 16;
    std::size_t maxRuns = std::size_t{1} << 16;
};

struct RtfParseResult {
    bool header = false;         // the input starts with "{\rtf" (leading blanks allowed)
    bool balanced = true;        // no stray '}' and every group closed at the end
    bool depthLimited = false;   // some groups were too deep and were skipped
    bool outputLimited = false;  // reading stopped at the output limit
};

RtfParseResult parseRtf(std::string_view rtf, RtfSink& sink, const RtfLimits& limits = {});

// True when the bytes start like an RTF document ("{\rtf", leading blanks allowed).
bool looksLikeRtf(std::string_view rtf);

// Replaces the document's content with the RTF's text and returns true. Malformed RTF loads as
// far as it can be read. Bytes that are not RTF at all give false and leave the document alone.
bool loadRtf(QTextDocument& doc, QByteArrayView rtf);

// Files are read up to this size; anything beyond is ignored.
inline constexpr qsizetype kMaxRtfFileBytes = qsizetype{16} << 20;

// As loadRtf, from a file. False, with the document left alone, when the file cannot be opened
// or read or is not RTF.
bool loadRtfFile(QTextDocument& doc, const QString& path);

}  // namespace k9
