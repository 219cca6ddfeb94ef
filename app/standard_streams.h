// The three standard streams as the program finds them at start-up.
#pragma once

// Opens the null device (/dev/null, NUL on Windows) on each of standard input, output and
// error that is closed, so that the next file or connection the program opens can't take
// its place: the console's text would then go into it (on Linux the X connection would
// get descriptor 1, and the reader's summary would corrupt it). Called first thing in
// main. Streams that are open are left alone; if the null device can't be opened, the
// closed ones stay closed.
void openClosedStandardStreams();
