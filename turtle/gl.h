// The OpenGL 1.x header. Windows' GL/gl.h expects the calling-convention macros of
// <windows.h>; MinGW's header supplies them itself, so nothing else is needed here.
#pragma once

#include <GL/gl.h>
