#pragma once

#include <cstddef>
#include <string>

// The SASL messages of a login with an OAuth 2.0 access token (XOAUTH2, OAUTHBEARER of
// RFC 7628) or a password (PLAIN).

// A token longer than this is not one a provider issues; nothing is encoded for it.
static const size_t maxTokenLength = 16 * 1024;

// True for a token of printable ASCII without blanks (RFC 6750's b64token, and the '!' and
// '*' of some providers' refresh tokens), so that it cannot end a line or a field of the
// messages below.
bool isSendableToken(const std::string& token);

// base64 of "user=ADDRESS\x01auth=Bearer TOKEN\x01\x01"; empty for an address holding a
// control character or a token that isSendableToken refuses.
std::string xoauth2InitialResponse(const std::string& address, const std::string& token);

// base64 of "n,a=ADDRESS,\x01host=HOST\x01port=PORT\x01auth=Bearer TOKEN\x01\x01", with ','
// and '=' of the address escaped as RFC 5801 wants; empty when refused as above.
std::string oauthBearerInitialResponse(const std::string& address, const std::string& host, int port,
                                       const std::string& token);

// base64 of "\0USER\0PASSWORD", SASL PLAIN (RFC 4616) with no authorization identity;
// empty for an empty user, a NUL in either, or more than maxTokenLength bytes together.
std::string plainInitialResponse(const std::string& user, const std::string& password);
