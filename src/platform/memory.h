#pragma once

namespace qm::platform {

// Hands freed heap memory back to the system. After a large batch has been
// written and freed, the allocator would otherwise keep it all for good.
void ReturnFreeMemory();

}  // namespace qm::platform
