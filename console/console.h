// Console output that never makes the program wait for standard output. Whatever is
// printed goes into a buffer, and a writer thread of this module writes it to the real
// standard output; the calling thread never blocks on a write. So a pipe that nobody reads
// (`tendrilview plant.lsys | less` before less pages) can't freeze the window.
//
// Two kinds of text:
// - Reports (consolePrintf, consoleWrite): what the reader understood, the rewriting and
//   drawing reports. They are never lost and come out in the order printed.
// - Repetitions (consoleRepeat): the message that a broken word prints at every redraw.
//   One is dropped when the bytes waiting for the writer already fill the repetitions'
//   room (64 KiB, about what a pipe holds); the next one that finds room goes out.
//
// Reports have a much larger room, 16 MiB. A report that finds it full waits, in its
// caller, until the writer has made room: reports are never lost, and the memory the
// buffer takes stays bounded. The summary of a huge description fills it, and so do the
// iteration numbers of a rewriting with a large n, within seconds, when nothing reads the
// output. While a report waits, the wait hook (consoleSetWaitHook) is asked every 20 ms,
// so that the program can take its window's messages meanwhile.
//
// The text comes out byte for byte as printed; on Windows each "\n" becomes "\r\n", as
// the C library's text-mode standard output writes it. The functions are called from one
// thread, the program's main thread.
#pragma once

#include <cstddef>
#include <functional>

// Formats as printf does and adds the text to the reports.
[[gnu::format(printf, 1, 2)]] void consolePrintf(const char* format, ...);

// Adds size bytes to the reports as they are, NUL bytes included.
void consoleWrite(const char* bytes, std::size_t size);

// Adds text as a repetition: dropped if the buffer is full, and at the end of the run
// if it has not been written by then.
void consoleRepeat(const char* text);

// Sets what a report that waits for room asks every 20 ms or so, on the printing thread,
// with nothing of the console's locked. It answers whether to go on waiting: false (the
// user asked to end the program) makes the report taken at once, beyond the room, and
// so every report until the hook answers true again; a caller that is told to end
// should stop printing soon. Empty, the default: a report just waits. Set it empty again
// before whatever it refers to goes away.
void consoleSetWaitHook(std::function<bool()> hook);

// Hands what is buffered to the writer. Never waits.
void consoleFlush();

// Hands what is buffered to the writer and waits until all of it, repetitions included,
// has been written. For tests that capture standard output, and for code that still
// writes standard output with the C library, whose text must not overtake this module's.
void consoleSync();

// The end of the run, after the window is closed: drops the repetitions that have not
// been written and waits until the reports have been (on a pipe that nobody reads, until
// it is read). The writer then ends; a later print starts a new one. It also runs at
// exit(), for a run that ends that way.
void consoleFinish();

// The bytes handed over and not yet written, for tests.
std::size_t consolePendingBytes();
