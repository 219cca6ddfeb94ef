// The viewport and the initial projection that every display sets once it has a current
// OpenGL context (the turtle's first measuring pass replaces the projection), and the
// word search that tells whether an extension such as swap control is offered.
#include "display/gl_setup.h"

#include <cstring>

#include "lsystem/gl.h"

void setInitialView()
{
    glViewport(0, 0, 600, 600);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-500.0, 500.0, 500.0, -500.0, -1.0, 1.0);  // bottom 500: y grows downwards
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

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
