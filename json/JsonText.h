// Texts of the JSON replies: the instrument's texts are ISO-8859-1 (the micro
// sign is the byte 0xB5), JSON texts are UTF-8.
#pragma once

#include <json/json.h>

#include <string>

namespace jsontext {

// Every byte of an ISO-8859-1 text as its UTF-8 character.
std::string latin1ToUtf8(const std::string& latin1);

// A reply string from an instrument text.
inline Json::Value text(const std::string& latin1) { return Json::Value(latin1ToUtf8(latin1)); }

// The text with every micro sign written as the letter "u" ("30\xB5T" -> "30uT").
std::string microAsU(const std::string& latin1);

// The value printed with a printf format taking one double (a range's value
// format, "%3.1f" ...).  Any length.
std::string formatValue(const std::string& format, double value);

}  // namespace jsontext
