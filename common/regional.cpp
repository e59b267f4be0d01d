#include "common/regional.h"

namespace ratemover {

const RegionalSettings& Regional() {
  static const RegionalSettings settings;
  return settings;
}

}  // namespace ratemover
