#include "platform/memory.h"

#include <malloc.h>

namespace qm::platform {

void ReturnFreeMemory() { malloc_trim(0); }

}  // namespace qm::platform
