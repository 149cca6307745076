#pragma once

#include <memory>

// Owners of what the program takes from a C interface and must give back (OpenSSL's objects,
// Win32 handles): each gives its object back when it goes or is reset, and holds nothing while
// null. The kinds stand beside this file, one header per interface (openssl_holders.h,
// win32_holders.h), so that the portable core never sees <windows.h>.

// Gives an object back by calling `release` on it; what release returns tells nothing here.
template <auto release> struct ReleaseWith {
    template <typename Object> void operator()(Object* object) const { release(object); }
};

// Owns one Object, given back with `release`.
template <typename Object, auto release> using Owned = std::unique_ptr<Object, ReleaseWith<release>>;
