// One start's whole work on a thread of its own, beside the window's: the
// wait for the station lock, the freshness check, the fetch, the extraction
// and replacement, tmp1's removal and the log line. One interlocked claim
// (work.h) settles who ends the start: the worker with its outcome, or a
// close on the window thread, which cancels only while nothing was claimed.
// The winner writes the start's one log line; a cancelled worker never
// replaces the element file.
//
// Shared between the threads: the heaps, which are serialized. The string
// engine, the file streams and the network are the worker's alone until
// start_ended says it ended; only then may the window thread end them.
#pragma once

#include "app/work.h"

struct Start {
    const char* url;  // what the worker asks for
    const char* site; // how the log names the catalogue server
    // Called on the worker's thread once it has claimed "done" and written
    // its log line: the outcome and report are then final.
    void (*told)(void* context);
    void* context;
    StopFlag stop;
    volatile LONG claim;
    HANDLE thread;
    WorkOutcome outcome;
    WorkReport report;
};

// Starts the worker; without a thread to run on, the work runs here and
// now. The record must outlive the worker.
void start_work(Start* s);

// From the window thread when its window closes: true when the close
// cancelled the start (the log says so and the worker is told to stop);
// false when the worker had claimed first and is finishing (a replacement
// takes milliseconds), or is done.
bool cancel_start(Start* s);

// Waits up to milliseconds for the worker to end; true once it has (or
// never ran on a thread of its own).
bool start_ended(Start* s, DWORD milliseconds);
