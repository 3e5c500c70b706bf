// The gateway key must not outlive its use: not in freed memory, not in a core file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tessel::SecretMemory {

// Overwrites `size` bytes in a way the compiler cannot drop as a dead store.
void wipe(void* data, std::size_t size);
// Overwrites the whole buffer (also the unused part a shorter value left behind), then empties.
void wipe(std::string& text);
void wipe(std::optional<std::string>& text);

// Keeps the process out of core files and from being read by others of the same user; for
// programs that hold the key.
void forbidCoreDumps();

} // namespace tessel::SecretMemory
