// The plain way to draw a pass: the red start point as the program draws it, then every
// F line as a GL_LINES primitive of its own. The chunked drawing is checked against it
// in the tests and measured beside it in the benchmark.
#pragma once

#include <deque>

#include "turtle/gl.h"
#include "lsystem/lsystem.h"
#include "turtle/walk.h"

inline turtle::WalkEnd drawOneLineAtATime(const LSystem& lsystem, std::deque<TurtleState>& stack)
{
    struct OneLineAtATime {
        void line(float x0, float y0, float x1, float y1)
        {
            glBegin(GL_LINES);
            glVertex2f(x0, y0);
            glVertex2f(x1, y1);
            glEnd();
        }
    } sink;
    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    glVertex2f(0.0f, 0.0f);
    glEnd();
    glColor3f(0.0f, 0.0f, 0.0f);
    TurtleState end;
    return turtle::walkWord(lsystem.word, lsystem.d, lsystem.delta, lsystem.stackCeiling, end, stack, sink);
}
