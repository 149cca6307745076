// Shared by the fuzz targets: the input cut into pieces whose sizes the input itself decides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// Each piece is one length byte n followed by up to n bytes (fewer at the input's end).
class Pieces {
public:
    Pieces(const uint8_t* data, size_t size) : at(data), end(data + size) {}

    bool done() const { return at >= end; }
    std::string next()
    {
        if (at >= end)
            return std::string();
        size_t wanted = *at++;
        size_t length = wanted < static_cast<size_t>(end - at) ? wanted : static_cast<size_t>(end - at);
        std::string piece(reinterpret_cast<const char*>(at), length);
        at += length;
        return piece;
    }

private:
    const uint8_t* at;
    const uint8_t* end;
};

} // namespace fuzzing
