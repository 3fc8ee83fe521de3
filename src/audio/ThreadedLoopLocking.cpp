// The sound server's contexts on a threaded main loop are disconnected and freed with that loop's
// lock held, as libpulse requires of every call on them from outside the loop's own thread.
//
// Qt Multimedia's PulseAudio engine (Qt 6.4) disconnects and frees its context without the lock
// when it is released (at the end of the process, or after the server went away) while its loop
// thread still runs; the two threads then change the loop's event lists at once, and libpulse
// aborts or crashes ("Assertion 'm->io_events_please_scan == 0' failed at mainloop.c",
// "pa_pdispatch_run", a freed eventfd) after everything else has ended. These definitions stand
// in front of libpulse's own for the whole process (the program's are found before any library's)
// and take the lock around those two calls when the caller needs it. Every other call passes on
// unchanged; a context on a plain main loop (the default source's query) is left alone.
#include <dlfcn.h>
#include <mutex>
#include <pulse/context.h>
#include <pulse/thread-mainloop.h>
#include <unordered_map>

namespace {

struct Loops {
    std::mutex guard;
    // The threaded loop behind each main loop interface handed out, and behind each context
    // made on one.
    std::unordered_map<const pa_mainloop_api*, pa_threaded_mainloop*> byInterface;
    std::unordered_map<const pa_context*, pa_threaded_mainloop*> byContext;
};

Loops& loops()
{
    // Never destroyed: the library may be called while the process ends.
    static auto* const known = new Loops;
    return *known;
}

template <typename Function> Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

pa_threaded_mainloop* loopOf(const pa_context* context)
{
    Loops& known = loops();
    const std::lock_guard lock(known.guard);
    const auto found = known.byContext.find(context);
    return found == known.byContext.end() ? nullptr : found->second;
}

void noteContext(const pa_context* context, const pa_mainloop_api* api)
{
    if (context == nullptr)
        return;
    Loops& known = loops();
    const std::lock_guard lock(known.guard);
    const auto found = known.byInterface.find(api);
    if (found == known.byInterface.end())
        known.byContext.erase(context);
    else
        known.byContext[context] = found->second;
}

// Runs `call` with the context's loop locked unless the caller is the loop's own thread (whose
// callbacks hold the lock already) or the loop is not a threaded one. The lock is recursive.
template <typename Call> void lockedFor(const pa_context* context, Call call)
{
    pa_threaded_mainloop* const loop = loopOf(context);
    if (loop == nullptr || pa_threaded_mainloop_in_thread(loop) != 0) {
        call();
        return;
    }
    pa_threaded_mainloop_lock(loop);
    call();
    pa_threaded_mainloop_unlock(loop);
}

} // namespace

extern "C" {

pa_mainloop_api* pa_threaded_mainloop_get_api(pa_threaded_mainloop* loop)
{
    static const auto real
        = next<pa_mainloop_api* (*)(pa_threaded_mainloop*)>("pa_threaded_mainloop_get_api");
    pa_mainloop_api* const api = real(loop);
    Loops& known = loops();
    const std::lock_guard lock(known.guard);
    known.byInterface[api] = loop;
    return api;
}

void pa_threaded_mainloop_free(pa_threaded_mainloop* loop)
{
    static const auto real = next<void (*)(pa_threaded_mainloop*)>("pa_threaded_mainloop_free");
    {
        Loops& known = loops();
        const std::lock_guard lock(known.guard);
        std::erase_if(known.byInterface, [loop](const auto& entry) { return entry.second == loop; });
        std::erase_if(known.byContext, [loop](const auto& entry) { return entry.second == loop; });
    }
    real(loop);
}

pa_context* pa_context_new(pa_mainloop_api* api, const char* name)
{
    static const auto real = next<pa_context* (*)(pa_mainloop_api*, const char*)>("pa_context_new");
    pa_context* const context = real(api, name);
    noteContext(context, api);
    return context;
}

pa_context* pa_context_new_with_proplist(
    pa_mainloop_api* api, const char* name, const pa_proplist* properties)
{
    static const auto real = next<pa_context* (*)(pa_mainloop_api*, const char*, const pa_proplist*)>(
        "pa_context_new_with_proplist");
    pa_context* const context = real(api, name, properties);
    noteContext(context, api);
    return context;
}

void pa_context_disconnect(pa_context* context)
{
    static const auto real = next<void (*)(pa_context*)>("pa_context_disconnect");
    lockedFor(context, [context] { real(context); });
}

void pa_context_unref(pa_context* context)
{
    static const auto real = next<void (*)(pa_context*)>("pa_context_unref");
    lockedFor(context, [context] { real(context); });
}

} // extern "C"
