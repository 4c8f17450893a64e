// Fresh random identifiers.
//
// Contract: makeUUID() returns a new random (version 4) UUID in canonical upper-case form,
// 36 characters ("8-4-4-4-12" hexadecimal groups). Safe from any thread. Linux: libuuid.
#pragma once

#include <string>

namespace quorvel {

std::string makeUUID();

}  // namespace quorvel
