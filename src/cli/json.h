#pragma once

#include <string>

namespace cli {

/** A JSON string literal. Bytes of 0x80 and above are taken as Latin-1, as GIF texts usually are. */
inline std::string jsonString(const std::string &bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += char(c);
            }
        }
    }
    out += '"';
    return out;
}

inline const char *jsonBool(bool b)
{
    return b ? "true" : "false";
}

} // namespace cli
