#include "tests/native/support.h"

#include <cstdio>

std::string Escaped(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c >= 0x20 && c < 0x7F)
            out += char(c);
        else {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}
