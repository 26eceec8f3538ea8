#pragma once
// A read of the PC's file systems (a folder's contents, whether a mounted
// volume is there) that the GUI thread must never wait for: a network or
// FUSE mount that stops answering blocks a stat for as long as it likes.
#include <functional>

class QObject;

namespace lyr {

// What a read hands back to the GUI thread: it holds the read's results by
// value and runs there, while `context` lives.
using ReadDelivery = std::function<void()>;

// Runs `read` on a thread of its own; its delivery runs on the GUI thread
// once it has answered. When it has not answered within `bound_ms`, `late`
// runs first (the place is shown as not answering); an answer that comes
// later still delivers. `read` may touch nothing but what it captured.
//
// The thread is not joined: one blocked in the kernel on a mount that does
// not answer cannot be woken, and the program must still be able to end.
// It shares nothing with the windows but its own answer.
void ReadOffGuiThread(QObject* context, std::function<ReadDelivery()> read, int bound_ms,
                      std::function<void()> late = {});

}  // namespace lyr
