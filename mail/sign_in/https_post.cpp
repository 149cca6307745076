#include "mail/sign_in/https_post.h"

#include <cstdlib>

bool parseHttpsUrl(const std::string& url, HttpsUrl& parts)
{
    const std::string scheme = "https://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return false;
    size_t authorityEnd = url.find_first_of("/?#", scheme.size());
    if (authorityEnd == std::string::npos)
        authorityEnd = url.size();
    std::string authority = url.substr(scheme.size(), authorityEnd - scheme.size());
    parts.path = authorityEnd < url.size() && url[authorityEnd] == '/' ? url.substr(authorityEnd) : "/";
    if (authorityEnd < url.size() && url[authorityEnd] != '/')
        parts.path += url.substr(authorityEnd);
    if (authority.find('@') != std::string::npos || authority.find_first_of(" \t\r\n") != std::string::npos)
        return false;
    size_t colon = authority.rfind(':');
    if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
        std::string port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return false;
        parts.port = std::atoi(port.c_str());
        authority.resize(colon);
    } else {
        parts.port = 443;
    }
    parts.host = authority;
    size_t fragment = parts.path.find('#');
    if (fragment != std::string::npos)
        parts.path.resize(fragment);
    return !parts.host.empty() && parts.port > 0 && parts.port <= 65535 &&
           parts.path.find_first_of(" \t\r\n") == std::string::npos;
}
