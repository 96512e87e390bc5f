// Field lists: small tables kept as one 8-bit string whose first character is the delimiter.
//
//   "|&OK|&Cancel|&Yes|"   three fields, indexed 0 to 2
//   "||JAN|FEB|...|DEC|"   field 0 empty, so months are indexed 1 to 12
//
// A field is the text between delimiter i and delimiter i+1 (the leading delimiter is delimiter
// 0); text after the last delimiter is not a field. Every operation stops reading at the first
// NUL byte, so a field never contains NUL. A field "key=value" can be looked up by its key.
//
// Pure code (no Windows header): it also builds natively for the sanitizer and fuzz tests.
#pragma once

#include <string>

class SUB {
public:
    SUB() = delete;

    // Number of fields; 0 when the list is empty, a single character, or does not end with its
    // delimiter.
    static int FieldCount(const std::string& list);

    // Field `index`, or `def` when it is empty, missing, negative or not closed by a delimiter.
    static std::string GetField(const std::string& list, int index, const std::string& def);

    // Field `index` as a decimal integer (optional sign, digits only, fits in 32 bits), or `def`.
    static int GetIntField(const std::string& list, int index, int def);

    // Value of the first field "key=value", found ignoring ASCII letter case. One blank after a
    // delimiter and one blank before the equals sign are ignored; blanks after it are kept.
    // A trailing "=" on `key` is allowed. Returns `ifAbsent` when there is no such field (or the
    // list is not well formed) and `ifEmpty` when the value is empty.
    static std::string GetKeyValue(const std::string& list, const std::string& key,
                                   const std::string& ifAbsent, const std::string& ifEmpty);

    // The list with field `index` set to `text`, grown with empty fields when needed.
    // The result keeps the list's delimiter unless `text` or another field holds it; then the
    // first of | ^ ! ~ @ # $ & * and byte 0xFF that occurs in no field becomes the delimiter.
    // When all ten occur, the lowest byte value 0x01..0xFF that occurs in no field is used, so
    // no field is lost or split. Only when every such byte occurs somewhere in the fields (no
    // delimiter can exist) is the list returned unchanged. `text` is cut at its first NUL, since
    // no field can hold one. A negative index rebuilds the list without changing a field.
    static std::string SetField(const std::string& list, int index, const std::string& text);
};
