// The headless mode, `quillmark --serve [--port N] [--osc N]`: the remote page and OSC
// for a small computer beside the unit, without a display. It sends on the stored MIDI
// output with the stored device ID, prints the page's address (a line of its own that
// begins with "http://") and its QR code, and ends cleanly on SIGTERM, SIGINT or SIGHUP.
#pragma once

#include <string>
#include <vector>

// The arguments after the program name. Returns the exit status: 0 after a clean end, 1
// when the server could not start, 2 for a usage error.
int RunHeadless(int argc, char** argv);
