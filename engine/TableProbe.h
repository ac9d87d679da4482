// The table format probe behind the export tsvFileFormatTest (declared in
// engine/Tarvok.h): does a tab-separated table have a header row and a
// label column?
#pragma once

#include <cstddef>

// IsNumericField: 1 when the field is one decimal number and nothing else,
// else 0.
//
// field (input) NUL-terminated text.
//
// The number is: leading white space, an optional sign, digits with an
// optional decimal point (at least one digit in all), an optional exponent
// "e"/"E" with an optional sign and at least one digit. Only white space may
// follow. An "e" without exponent digits ends the number before the "e" and
// so leaves a further word: "1e" is not numeric. Words such as inf, nan and
// hexadecimal forms are not numbers here.
int IsNumericField(const char* field);

// IsNumericText: IsNumericField over the first length bytes of text, which
// need not be NUL-terminated; an embedded NUL byte is an ordinary non-blank
// character.
int IsNumericText(const char* text, std::size_t length);
