// One Velmora per user session: a second start hands over to the first.
#pragma once

// The message a second start sends to the running main window, asking for
// it back on screen; the window answers 1 when it takes the request.
unsigned ShowAgainMessage();
// The message a start with the administrator's rights posts to a running
// instance without them, which then closes its main window: the advice to
// "run as administrator" would otherwise only bring back the instance that
// lacked the rights.
unsigned MakeWayMessage();

// True when Velmora already runs in this session and has taken the request
// for its main window (found by our window class, never by a title): this
// process should end. False when this process is to run: it then holds the
// claim, or runs without it after a bounded wait for an instance that holds
// the claim but shows no window (one starting, or one that never lets go).
bool HandOverToRunningInstance();
// The program's exit is decided (确定 in the exit question, 退出, the
// update's 是, making way for an administrator's start, EndProgram).
// On the thread that made the claim.
void ExitDecided();
// The main window is gone: a new start may run while this process ends.
// On the thread that made the claim.
void ReleaseInstanceClaim();
