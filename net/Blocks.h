// Zeroed memory blocks and the thread's last system error, portable.
#pragma once

#include <cstddef>

namespace net {

// GetLastError on Windows, errno elsewhere.
int LastSystemError();
void SetLastSystemError(int error);

// Zeroed memory from the process heap; null on failure. Natively
// large blocks come in huge pages where the system offers them: on a fresh block of many
// megabytes the page faults cost more than the work done in it. FreeBlock takes the size
// that was asked for.
void* AllocateZeroedBlock(std::size_t size);
void FreeBlock(void* block, std::size_t size);
// Asks for huge pages behind memory already allocated (a string's reserved capacity).
void AdviseLargeBlock(void* data, std::size_t size);

} // namespace net
