// The word search that tells whether an extension such as swap control is offered.
#include "display/extensions.h"

#include <cstring>

bool hasExtension(const char* extensions, const char* name)
{
    if (extensions == nullptr) {
        return false;
    }
    // A plain strstr would take GLX_EXT_swap_control_tear for GLX_EXT_swap_control:
    // a match counts only when it is a whole word.
    const std::size_t length = std::strlen(name);
    for (const char* at = std::strstr(extensions, name); at != nullptr;
         at = std::strstr(at + 1, name)) {
        const bool starts = at == extensions || at[-1] == ' ';
        const bool ends = at[length] == ' ' || at[length] == '\0';
        if (starts && ends) {
            return true;
        }
    }
    return false;
}
