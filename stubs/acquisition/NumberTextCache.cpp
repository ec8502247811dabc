#include "stubs/acquisition/NumberTextCache.h"

namespace kra::device::stubs {

NumberTextCache::NumberTextCache() : slots_(kSlots) {}

}  // namespace kra::device::stubs
