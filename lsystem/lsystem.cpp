// Construction of the LSystem: the defaults are member initialisers, and the
// drawing state that every later pass relies on is set here, once.
#include "lsystem/lsystem.h"

#include "lsystem/gl.h"

LSystem::LSystem()
{
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glLineWidth(1.0f);
    glEnable(GL_LINE_SMOOTH);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glPointSize(4.0f);
}
