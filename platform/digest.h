#pragma once

// SHA-1 of a byte string, from the system's own cryptography: it uses the processor's SHA
// instructions where there are some, and hashing is a large part of a bulk import.

#include <array>
#include <string_view>

namespace krv::platform {

using Sha1 = std::array<unsigned char, 20>;

// False when the system refuses (no digest was made).
bool sha1(std::string_view bytes, Sha1& digest);

}  // namespace krv::platform
