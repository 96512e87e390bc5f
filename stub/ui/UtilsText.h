// Text utilities of the stub: the replace routine, small string helpers, message-text escapes,
// the reversible text scrambling of stored values and hexadecimal conversion.
//
// Pure code (no Windows header): it also builds natively for the sanitizer and fuzz tests.
// Strings are 8-bit (ANSI code page); "ignoring case" folds ASCII letters only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Utils {

// Replaces occurrences of `search` in `text`, left to right. An occurrence is numbered from 1;
// those numbered below `firstOccurrence` are left alone (0 and 1 both mean "from the first").
// At most `maxCount` occurrences are replaced (0 = no limit). Occurrences do not overlap and are
// taken from the original text only: text produced by a replacement is never searched again,
// and text on both sides of a removed occurrence never joins into a new one. An empty `search`
// changes nothing.
std::string ReplaceText(const std::string& text, const std::string& search,
                        const std::string& replacement, int maxCount, int firstOccurrence,
                        bool ignoreCase);
std::string ReplaceAll(const std::string& text, const std::string& search,
                       const std::string& replacement);
std::string ReplaceAllIgnoreCase(const std::string& text, const std::string& search,
                                 const std::string& replacement);

// Position of `needle` in `haystack` ignoring ASCII letter case, or npos. Empty needle: npos.
std::size_t PosIgnoreCase(const std::string& needle, const std::string& haystack,
                          std::size_t from = 0);
// Position of the last occurrence of `needle`, or npos. Empty needle: npos.
std::size_t LastPos(const std::string& needle, const std::string& haystack);

// Text before / after the first occurrence of `separator`; `def` when it does not occur.
std::string TextBefore(const std::string& text, const std::string& separator,
                       const std::string& def = "");
std::string TextAfter(const std::string& text, const std::string& separator,
                      const std::string& def = "");

std::string ReverseText(const std::string& text);
bool StartsWith(const std::string& text, const std::string& prefix, bool ignoreCase = false);
bool EndsWith(const std::string& text, const std::string& suffix, bool ignoreCase = false);
// Blanks and control characters removed from both ends.
std::string TrimText(const std::string& text);
// Equal after trimming both, ignoring ASCII letter case.
bool SameTextTrimmed(const std::string& a, const std::string& b);
std::string UpperCaseAscii(const std::string& text);

// Positive `width`: `fill` added on the left up to `width`. Negative `width`: `fill` added on
// the right up to -width; below -2 a longer text is also cut to -width characters, the last of
// them ".". Text already long enough is otherwise kept whole.
std::string PadText(const std::string& text, int width, char fill = ' ');
// Decimal text of `value` with zeros after the sign up to `width` characters in all.
std::string ZeroPad(std::int64_t value, int width);

// One pair of enclosing double quotes removed.
std::string StripQuotes(const std::string& text);
// Every byte `from` replaced by `to`.
std::string ReplaceChars(const std::string& text, char from, char to);

// Message-text escapes: the three characters \\n and the tag <P> become CR LF, \\t and <T> a
// TAB. The backslash escapes are matched with case, the tags without.
std::string ExpandEscapes(const std::string& text);

// "TRUE" or "FALSE", as diagnostic lines print booleans.
const char* BoolText(bool value);

// Every byte as two upper-case hexadecimal digits.
std::string BytesToHex(const std::string& bytes);
// Each pair of characters from the start becomes one byte; a final single character is dropped.
// Digits 0-9, A-F and a-f; any other character counts as digit 0.
std::string HexToBytes(const std::string& hex);

// Reversible obfuscation of stored values; one routine both encodes and decodes.
// Encoding yields "Scrambled=01", a printable key character and the scrambled bytes (with `hex`
// all of that as hexadecimal digits); a text that already carries the marker is returned as it
// is. Decoding reverses it (with `hex`, from hexadecimal digits); a text without the marker is
// returned as it is. The empty text and the bare marker decode to the empty text.
std::string ScrambleText(const std::string& text, bool encode, bool hex);

// Source of random numbers: a number from 0 to range-1. Tests bind their own; nullptr restores
// the default generator.
using RandomSource = int (*)(int range);
void SetRandomSource(RandomSource source);
int RandomBelow(int range);

} // namespace Utils
