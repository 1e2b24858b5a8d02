#pragma once

#include <QString>

#include <optional>

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double x);

// Round(x) clamped to 0 ... 255; NaN gives 0.
int RoundToByte(double x);

// The shortest general decimal form with at most 15 significant digits and "." as separator:
// -95.5, 10, -47.7486910994764; an exponent only below 1e-4 or from 1e15 up (1E-5, 1E15).
QString FloatToStr(double x);

// A decimal number with "." as separator and an optional exponent ("E" or "e"); blanks around it
// are allowed. Raises EConvertError "'x' is not a valid floating point value".
double StrToFloat(const QString& text);

// A decimal integer with an optional sign. Raises EConvertError "'x' is not a valid integer value".
int StrToInt(const QString& text);

// The boolean reader of project files: an integer counts as true when above 0; otherwise the
// upper-cased text must be "TRUE" or "FALSE". Raises EConvertError
// "String->Boolean conversion error! 'x' is not a valid boolean value!".
bool TextToBool(const QString& text);

// TextToBool without the error: no value when the text cannot be converted.
std::optional<bool> TryTextToBool(const QString& text);

// "True" or "False".
QString BoolToText(bool value);

// The text with the letters a-z made A-Z; every other character stays as it is.
QString UpperCaseLetters(QString text);

// The text without the spaces at its end.
QString WithoutTrailingBlanks(const QString& text);
