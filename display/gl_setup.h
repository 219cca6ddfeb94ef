// OpenGL set-up shared by the window-system files: the initial view of a freshly opened
// display and the search of an extension list, so both start drawing from the same state.
#pragma once

// Viewport over the 600x600 client area; projection with (-500, -500) at the top-left
// corner and (500, 500) at the bottom-right (y grows downwards); model-view identity,
// left selected.
void setInitialView();

// Whether `name` is one of the blank-separated words of `extensions` (which may be null).
bool hasExtension(const char* extensions, const char* name);
