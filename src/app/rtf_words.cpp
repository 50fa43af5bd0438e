#include "app/rtf_words.h"

#include <algorithm>
#include <array>

namespace k9::rtf {
namespace {

// Code page 1252 from 0x80 to 0x9F; the five unassigned bytes become U+FFFD.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// Destinations whose content is never shown. Sorted for binary search.
constexpr std::string_view kSkippedDestinations[] = {
    "aftncn",    "aftnsep",   "aftnsepc", "annotation", "atnauthor",    "atnid",
    "atrfend",   "atrfstart", "author",   "bkmkend",    "bkmkstart",    "buptim",
    "category",  "colortbl",  "comment",  "company",    "creatim",      "datafield",
    "datastore", "doccomm",   "docvar",   "falt",       "filetbl",      "fldinst",
    "fonttbl",   "footer",    "footerf",  "footerl",    "footerr",      "footnote",
    "ftncn",     "ftnsep",    "ftnsepc",  "generator",  "header",       "headerf",
    "headerl",   "headerr",   "info",     "keywords",   "latentstyles", "listoverridetable",
    "listtable", "object",    "operator", "pict",       "pn",           "printim",
    "private",   "revtbl",    "revtim",   "rsidtbl",    "stylesheet",   "subject",
    "template",  "themedata", "title",    "xmlnstbl"};

static_assert(std::ranges::is_sorted(kSkippedDestinations));

// Control words that stand for one character.
struct SymbolWord {
    std::string_view word;
    char16_t symbol;
};
constexpr SymbolWord kSymbolWords[] = {
    {"bullet", u'\u2022'}, {"emdash", u'\u2014'},    {"emspace", u'\u2003'},
    {"endash", u'\u2013'}, {"enspace", u'\u2002'},   {"ldblquote", u'\u201C'},
    {"lquote", u'\u2018'}, {"rdblquote", u'\u201D'}, {"rquote", u'\u2019'}};

}  // namespace

char16_t fromCp1252(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kCp1252High[byte - 0x80];
    }
    return byte;
}

bool isSkippedDestination(std::string_view word) {
    return std::ranges::binary_search(kSkippedDestinations, word);
}

bool isUnderlineWord(std::string_view word) {
    static constexpr std::array<std::string_view, 9> kWords = {
        "ul", "uld", "uldash", "uldb", "ulhwave", "ulth", "ulw", "ulwave", "ululdbwave"};
    return std::find(kWords.begin(), kWords.end(), word) != kWords.end();
}

char16_t symbolFor(std::string_view word) {
    for (const SymbolWord& s : kSymbolWords) {
        if (s.word == word) {
            return s.symbol;
        }
    }
    return 0;
}

}  // namespace k9::rtf
