// One Velmora per user session: a second start hands over to the first.
#pragma once

// The message a second start sends to the running main window, asking for
// it back on screen, and the window's answers. Any other answer, or none,
// is no hand-over.
unsigned ShowAgainMessage();
// It stays, and its window comes back: the second start ends.
constexpr int kShowAgainTaken = 1;
// Its exit is decided: the second start waits for the claim and comes up.
constexpr int kShowAgainEnding = 2;
// The message a start with the administrator's rights posts to a running
// instance without them, which then closes its main window: the advice to
// "run as administrator" would otherwise only bring back the instance that
// lacked the rights.
unsigned MakeWayMessage();

// True when Velmora already runs in this session and has answered that it
// stays and takes the request for its main window (found by our window
// class, never by a title): this process should end. False when this
// process is to run: it then holds the claim, or runs without it after a
// bounded wait for an instance that holds the claim but does not answer
// (one starting, one too busy, or one that never lets go).
bool HandOverToRunningInstance();
// The program's exit is decided (确定 in the exit question, 退出, the
// update's 是, making way for an administrator's start, EndProgram): the
// claim is let go of at once, before any window is hidden or destroyed, and
// the main window answers kShowAgainEnding from here on (or, in EndProgram,
// nothing). On the thread that made the claim.
void ExitDecided();
// The main window is gone: a new start may run while this process ends.
// On the thread that made the claim.
void ReleaseInstanceClaim();
