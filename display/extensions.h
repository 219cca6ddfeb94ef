// The search of an OpenGL extension list, shared by the window-system files, which look
// for swap control in it.
#pragma once

// Whether `name` is one of the blank-separated words of `extensions` (which may be null).
bool hasExtension(const char* extensions, const char* name);
