// The signals that ask a program to end (SIGHUP, SIGINT, SIGTERM) end the window's program as
// they would by default, but from its event loop and only after the new files of outputs under
// way that have a name of their own are removed: a run ended from outside leaves nothing behind.
#pragma once

namespace tavrin {

// Once the application object exists; the second and later calls do nothing. A signal that the
// program was started ignoring (nohup) stays ignored.
void EndOnSignalsWithoutLeftovers();

}  // namespace tavrin
