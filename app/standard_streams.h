// The three standard streams as the program finds them at start-up, and what a write to
// a broken pipe does.
#pragma once

// Opens the null device (/dev/null, NUL on Windows) on each of standard input, output and
// error that is closed, so that the next file or connection the program opens can't take
// its place: the console's text would then go into it (on Linux the X connection would
// get descriptor 1, and the reader's summary would corrupt it). Called first thing in
// main. Streams that are open are left alone; if the null device can't be opened, the
// closed ones stay closed.
void openClosedStandardStreams();

// Makes a write to a pipe whose reader has gone (`tendrilview plant.lsys | head -c 20`)
// fail with an error, which the console drops, instead of ending the process: on Linux
// SIGPIPE is ignored. Windows reports a broken pipe as an error anyway.
void ignoreBrokenPipes();
