#include "gateway/secret_memory.h"

#include <string.h>
#include <sys/prctl.h>

namespace tessel::SecretMemory {

void wipe(void* data, std::size_t size) {
    if (data && size > 0)
        ::explicit_bzero(data, size);
}

void wipe(std::string& text) {
    // capacity() excludes the terminator; the small-string buffer is wiped as well.
    wipe(text.data(), text.capacity());
    text.clear();
}

void wipe(std::optional<std::string>& text) {
    if (text)
        wipe(*text);
    text.reset();
}

void forbidCoreDumps() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

} // namespace tessel::SecretMemory
