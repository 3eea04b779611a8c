#pragma once

#include <functional>
#include <mutex>

class QObject;

namespace vandrel::net {

// Qt passes posted events and queued calls between threads under locks of its own that
// thread checkers cannot see, so every hand-over through Qt would look like a race. Code that
// hands data to another thread through Qt holds HandOverLock while it posts, and the
// receiving side takes it once before it touches the data: a lock pair the checker sees.
std::mutex& HandOverLock();

// Runs call in a later event-loop pass of context's thread; callable from any thread.
void InvokeQueued(QObject* context, std::function<void()> call);

}  // namespace vandrel::net
