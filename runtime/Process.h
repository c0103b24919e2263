// The process: start, message dispatching, waiting, the cursor and the end.
#pragma once

#include <functional>

#include "runtime/Text.h"

// Before any window exists: the program's folder becomes the current folder,
// OLE is initialised for this thread and the random generator starts over.
void InitRuntime();

// A hook that sees each message before it is dispatched (keyboard handling of
// the main window); returning true means it was handled and is not dispatched.
using MessageFilter = bool (*)(void* msg);
void SetMessageFilter(MessageFilter filter);

// Dispatches every waiting message, stopping at (and leaving) a quit message.
// False when a quit message is waiting.
bool DispatchPendingMessages();
// Runs the message loop until the quit message; returns its exit code.
int RunMessageLoop();

// Waits while keeping every window responsive: handlers may run inside.
void Delay(int milliseconds);

int CursorX();
int CursorY();

// Clean-up steps for EndProgram, run last registered first.
void AtProgramEnd(std::function<void()> step);
[[noreturn]] void EndProgram(int exitCode);
