#pragma once

#include <string>

// Microsoft's sign-in authority: `common` (personal and work accounts), `consumers`,
// `organizations`, or one tenant, named by its id (a GUID) or one of its domain names. Work
// tenants that admit no outside applications need their own.

// The authority an absent or empty setting means.
inline constexpr char defaultMicrosoftAuthority[] = "common";

struct MicrosoftEndpoints {
    std::string authorization;
    std::string token;
    std::string deviceAuthorization; // RFC 8628's device authorization endpoint
};

// The endpoints under https://login.microsoftonline.com/AUTHORITY/oauth2/v2.0/. False for an
// authority that is none of the above, so that nothing else ever goes into the URL; the three
// keywords are taken in any letter case and written in lower case.
bool microsoftEndpoints(const std::string& authority, MicrosoftEndpoints& endpoints);
