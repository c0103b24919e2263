// One Velmora per user session: a second start hands over to the first.
#pragma once

// The message a second start posts to the running main window, asking for
// it back on screen.
unsigned ShowAgainMessage();
// True when Velmora already runs in this session: its main window (found by
// our window class, never by a title) has been asked to come back, and this
// process should end. False for the first instance, which keeps the claim
// for its whole life.
bool HandOverToRunningInstance();
