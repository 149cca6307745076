#include "mail/platform/charset_convert.h"

#include <cerrno>
#include <cstdio>

#include <iconv.h>

namespace {

// iconv's name of a Windows code page; empty for one it is not asked about.
std::string iconvName(int codePage)
{
    char name[32];
    if (codePage > 28590 && codePage <= 28606)
        std::snprintf(name, sizeof name, "ISO-8859-%d", codePage - 28590);
    else if (codePage == 20866)
        std::snprintf(name, sizeof name, "KOI8-R");
    else if (codePage == 21866)
        std::snprintf(name, sizeof name, "KOI8-U");
    else if (codePage == 20932)
        std::snprintf(name, sizeof name, "EUC-JP");
    else
        std::snprintf(name, sizeof name, "CP%d", codePage);
    return name;
}

} // namespace

bool appendCodePageAsUtf8(int codePage, const char* bytes, size_t size, std::string& out)
{
    iconv_t converter = iconv_open("UTF-8", iconvName(codePage).c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string converted;
    char* in = const_cast<char*>(bytes);
    size_t inLeft = size;
    char buffer[256];
    while (inLeft > 0) {
        char* to = buffer;
        size_t toLeft = sizeof buffer;
        size_t result = iconv(converter, &in, &inLeft, &to, &toLeft);
        converted.append(buffer, static_cast<size_t>(to - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            // As Windows does: a byte the code page does not map becomes U+FFFD.
            converted += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
        }
    }
    iconv_close(converter);
    out += converted;
    return true;
}
