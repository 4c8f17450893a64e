// makeUUID with libuuid's random (version 4) generator. Missing: nothing.
#include "platform/uuid.h"

#include <uuid/uuid.h>

namespace quorvel {

std::string makeUUID() {
  uuid_t value;
  uuid_generate_random(value);
  char text[37];
  uuid_unparse_upper(value, text);
  return std::string(text, 36);
}

}  // namespace quorvel
