#include "app/rtf_reader.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/rtf_words.h"

namespace k9 {
namespace {

using rtf::fromCp1252;
using rtf::isSkippedDestination;
using rtf::isUnderlineWord;
using rtf::symbolFor;

// Longer control words are not RTF; they are read past and ignored.
constexpr std::size_t kMaxControlWord = 32;
constexpr std::int64_t kMaxParam = 2147483647;
// A \uN fallback longer than this is not a fallback.
constexpr int kMaxFallback = 64;
// Paragraph lengths beyond 22 inches are nonsense; clamp them.
constexpr int kMaxTwips = 31680;

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

int clampTwips(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, -kMaxTwips, kMaxTwips));
}

struct GroupState {
    RtfCharFormat chars;
    RtfParaFormat para;
    int fallback = 1;  // \ucN: characters that follow a \uN for readers without Unicode
    bool skip = false;
};

class Parser final {
  public:
    Parser(std::string_view in, RtfSink& sink, const RtfLimits& limits)
        : in_(in), sink_(sink), limits_(limits) {
        // Bytes before the first group are not content; after the document's group they are,
        // so that a stray '}' in the middle loses nothing.
        stack_.emplace_back().skip = true;
        result_.header = looksLikeRtf(in);
    }

    RtfParseResult run() {
        while (pos_ < in_.size() && !stopped_) {
            const char c = in_[pos_++];
            switch (c) {
                case '{':
                    openGroup();
                    break;
                case '}':
                    closeGroup();
                    break;
                case '\\':
                    controlSequence();
                    break;
                case '\t':
                    character(u'\t');
                    break;
                default:
                    // CR and LF are not content in RTF; other control bytes (NUL) are noise.
                    if (static_cast<unsigned char>(c) >= 0x20) {
                        character(fromCp1252(static_cast<unsigned char>(c)));
                    }
                    break;
            }
        }
        if (stack_.size() > 1 || overflow_ > 0) {
            result_.balanced = false;
        }
        flushRun();
        sink_.documentEnd(hasText_ ? textPara_ : state().para);
        return result_;
    }

  private:
    GroupState& state() { return stack_.back(); }
    bool hidden() const { return overflow_ > 0 || stack_.back().skip; }

    void openGroup() {
        fallbackLeft_ = 0;
        if (static_cast<int>(stack_.size()) > limits_.maxGroupDepth) {
            ++overflow_;
            result_.depthLimited = true;
            return;
        }
        if (stack_.size() == 1) {
            stack_.front().skip = false;
        }
        stack_.push_back(stack_.back());
    }

    void closeGroup() {
        fallbackLeft_ = 0;
        if (overflow_ > 0) {
            --overflow_;
        } else if (stack_.size() > 1) {
            stack_.pop_back();
        } else {
            result_.balanced = false;
        }
    }

    // True when this character or control belongs to a \uN fallback and is to be dropped.
    bool dropAsFallback() {
        if (fallbackLeft_ > 0) {
            --fallbackLeft_;
            return true;
        }
        return false;
    }

    void character(char16_t u) {
        if (!dropAsFallback()) {
            put(u);
        }
    }

    void controlSequence() {
        if (pos_ >= in_.size()) {
            return;
        }
        if (!isLetter(in_[pos_])) {
            controlSymbol(in_[pos_++]);
            return;
        }
        const std::size_t start = pos_;
        while (pos_ < in_.size() && isLetter(in_[pos_])) {
            ++pos_;
        }
        const std::size_t length = pos_ - start;
        bool hasParam = false;
        bool negative = false;
        std::int64_t param = 0;
        if (pos_ + 1 < in_.size() && in_[pos_] == '-' && isDigit(in_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        while (pos_ < in_.size() && isDigit(in_[pos_])) {
            hasParam = true;
            param = std::min(param * 10 + (in_[pos_] - '0'), kMaxParam);
            ++pos_;
        }
        if (negative) {
            param = -param;
        }
        if (pos_ < in_.size() && in_[pos_] == ' ') {
            ++pos_;
        }
        const std::string_view word =
            length <= kMaxControlWord ? in_.substr(start, length) : std::string_view();
        controlWord(word, hasParam, param);
    }

    void controlSymbol(char c) {
        if (c == '\'') {
            const int hi = pos_ < in_.size() ? hexValue(in_[pos_]) : -1;
            const int lo = hi >= 0 && pos_ + 1 < in_.size() ? hexValue(in_[pos_ + 1]) : -1;
            if (hi < 0 || lo < 0) {
                // A broken escape: drop it and read on from the next byte.
                pos_ += hi >= 0 ? 1 : 0;
                return;
            }
            pos_ += 2;
            character(fromCp1252(static_cast<unsigned char>(hi * 16 + lo)));
            return;
        }
        if (c == '*') {
            // Within groups past the depth limit the top state is not theirs to change.
            if (overflow_ == 0) {
                state().skip = true;
            }
            return;
        }
        if (dropAsFallback()) {
            return;
        }
        switch (c) {
            case '\\':
            case '{':
            case '}':
                put(static_cast<char16_t>(c));
                break;
            case '~':
                put(u'\u00A0');
                break;
            case '_':
                put(u'\u2011');
                break;
            case '\t':
                put(u'\t');
                break;
            case '\r':
            case '\n':
                paragraph();
                break;
            default:
                // \- (optional hyphen), \| and \: have nothing to show.
                break;
        }
    }

    void controlWord(std::string_view word, bool hasParam, std::int64_t param) {
        if (word == "bin") {
            // Raw bytes follow; they must not be read as RTF.
            const auto left = static_cast<std::int64_t>(in_.size() - pos_);
            pos_ += static_cast<std::size_t>(std::clamp<std::int64_t>(param, 0, left));
            return;
        }
        if (dropAsFallback() || hidden()) {
            return;
        }
        if (isSkippedDestination(word)) {
            state().skip = true;
            return;
        }
        const bool on = !hasParam || param != 0;
        GroupState& s = state();
        if (word == "par" || word == "sect" || word == "page" || word == "row") {
            paragraph();
        } else if (word == "line") {
            put(kRtfLineBreak);
        } else if (word == "tab" || word == "cell" || word == "nestcell") {
            put(u'\t');
        } else if (word == "b") {
            s.chars.bold = on;
        } else if (word == "i") {
            s.chars.italic = on;
        } else if (word == "ulnone") {
            s.chars.underline = false;
        } else if (isUnderlineWord(word)) {
            s.chars.underline = on;
        } else if (word == "plain") {
            s.chars = RtfCharFormat{};
        } else if (word == "pard") {
            s.para = RtfParaFormat{};
        } else if (word == "u") {
            unicode(hasParam, param);
        } else if (word == "uc") {
            if (hasParam) {
                s.fallback = static_cast<int>(std::clamp<std::int64_t>(param, 0, kMaxFallback));
            }
        } else if (word == "ql") {
            s.para.alignment = RtfAlignment::Left;
        } else if (word == "qc") {
            s.para.alignment = RtfAlignment::Center;
        } else if (word == "qr") {
            s.para.alignment = RtfAlignment::Right;
        } else if (word == "qj") {
            s.para.alignment = RtfAlignment::Justify;
        } else if (word == "li") {
            s.para.leftIndent = clampTwips(param);
        } else if (word == "ri") {
            s.para.rightIndent = clampTwips(param);
        } else if (word == "fi") {
            s.para.firstLineIndent = clampTwips(param);
        } else if (word == "sb") {
            s.para.spaceBefore = clampTwips(param);
        } else if (word == "sa") {
            s.para.spaceAfter = clampTwips(param);
        } else if (word == "tx") {
            if (s.para.tabCount < kRtfMaxTabStops) {
                s.para.tabStops[s.para.tabCount++] = clampTwips(param);
            }
        } else if (const char16_t symbol = symbolFor(word); symbol != 0) {
            put(symbol);
        }
        // Everything else (fonts, colours, sizes, page layout) is of no use to us.
    }

    void unicode(bool hasParam, std::int64_t param) {
        if (!hasParam) {
            return;
        }
        fallbackLeft_ = state().fallback;
        // Values above 32767 are written as negative 16-bit numbers.
        if (param < 0) {
            param += 65536;
        }
        if (param < 0 || param > 0xFFFF) {
            put(u'\uFFFD');
        } else if (param == 0x2029) {
            put(kRtfLineBreak);
        } else {
            put(static_cast<char16_t>(param));
        }
    }

    void put(char16_t u) {
        // Control characters other than tab (\'00, \u7, ...) have nothing to show.
        if (hidden() || (u < 0x20 && u != u'\t')) {
            return;
        }
        if (pendingHigh_ != 0) {
            const char16_t high = pendingHigh_;
            pendingHigh_ = 0;
            if (isLowSurrogate(u)) {
                const char16_t pair[] = {high, u};
                append(std::u16string_view(pair, 2));
                return;
            }
            append(u'\uFFFD');
        }
        if (isHighSurrogate(u)) {
            pendingHigh_ = u;
        } else if (isLowSurrogate(u)) {
            append(u'\uFFFD');
        } else {
            append(u);
        }
    }

    void append(char16_t u) { append(std::u16string_view(&u, 1)); }

    // The code units of one character, both halves of a surrogate pair, go into the run
    // together or not at all: a pair cut by the output limit would leave half a character.
    void append(std::u16string_view units) {
        if (stopped_) {
            return;
        }
        if (!run_.empty() && !(runFormat_ == state().chars)) {
            flushRun();
            if (stopped_) {
                return;
            }
        }
        if (output_ + units.size() > limits_.maxOutput) {
            stop();
            return;
        }
        runFormat_ = state().chars;
        run_.append(units);
        hasText_ = true;
        textPara_ = state().para;
        countOutput(units.size());
    }

    void paragraph() {
        if (hidden()) {
            return;
        }
        flushRun();
        if (stopped_) {
            return;
        }
        sink_.paragraphEnd(state().para);
        hasText_ = false;
        countOutput();
        if (++paragraphs_ >= limits_.maxParagraphs) {
            stop();
        }
    }

    void flushRun() {
        if (pendingHigh_ != 0) {
            pendingHigh_ = 0;
            append(u'\uFFFD');
        }
        if (!run_.empty()) {
            sink_.text(run_, runFormat_);
            run_.clear();
            if (++runs_ >= limits_.maxRuns) {
                stop();
            }
        }
    }

    void countOutput(std::size_t units = 1) {
        output_ += units;
        if (output_ >= limits_.maxOutput) {
            stop();
        }
    }

    void stop() {
        stopped_ = true;
        result_.outputLimited = true;
    }

    std::string_view in_;
    std::size_t pos_ = 0;
    RtfSink& sink_;
    RtfLimits limits_;
    RtfParseResult result_;
    std::vector<GroupState> stack_;  // [0] is the state outside every group
    std::size_t overflow_ = 0;       // groups opened beyond the depth limit
    int fallbackLeft_ = 0;
    char16_t pendingHigh_ = 0;
    std::u16string run_;
    RtfCharFormat runFormat_;
    bool hasText_ = false;  // the current paragraph has text
    RtfParaFormat textPara_;
    std::size_t output_ = 0;
    std::size_t paragraphs_ = 0;
    std::size_t runs_ = 0;
    bool stopped_ = false;
};

}  // namespace

bool looksLikeRtf(std::string_view rtf) {
    const auto start = rtf.find_first_not_of(" \t\r\n");
    return start != std::string_view::npos && rtf.substr(start).starts_with("{\\rtf");
}

RtfParseResult parseRtf(std::string_view rtf, RtfSink& sink, const RtfLimits& limits) {
    return Parser(rtf, sink, limits).run();
}

}  // namespace k9
