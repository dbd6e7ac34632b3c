// The progress line of the program: on a terminal, a thread draws the
// board of the file being coded a few times a second, once a run has
// lasted more than a second:
//
//   x86 4.2 MB  37%  1.3 MB/s  12s left
//
// and clears it when the run ends. Without a terminal no thread is started
// and nothing is drawn.
#pragma once

#include "util/progress.h"

namespace vesk {

// Starts the display when standard error is a terminal; else nothing.
void display_begin();

// The board to draw from now on (null: none).
void display_show(progress_board* b);

// Stops the display and clears its line.
void display_end();

// Clears the line before a message on standard error; the display draws
// it again at its next turn.
void display_clear();

// Clears the line from a signal handler (async-signal-safe).
void display_clear_in_signal();

}  // namespace vesk
