#include "audio/DefaultAudioInput.hpp"

#include <QElapsedTimer>
#include <QMediaDevices>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>

namespace lumora {

namespace {

// A local sound server answers in milliseconds; a hung one must not hold the caller.
constexpr qint64 serverTimeoutMilliseconds = 2000;

struct ServerQuery {
    QByteArray defaultSource;
    // The query is over; the server told about itself.
    bool answered = false;
    bool described = false;
};

void receiveServerInfo(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* query = static_cast<ServerQuery*>(userdata);
    if (info != nullptr && info->default_source_name != nullptr)
        query->defaultSource = info->default_source_name;
    query->described = info != nullptr;
    query->answered = true;
}

// Runs the loop until `done` or the time-out; false on time-out or a loop failure.
template <typename Done> bool iterateUntil(pa_mainloop* loop, const QElapsedTimer& clock, Done done)
{
    while (!done()) {
        if (clock.hasExpired(serverTimeoutMilliseconds))
            return false;
        if (pa_mainloop_prepare(loop, 50 * 1000) < 0 || pa_mainloop_poll(loop) < 0
            || pa_mainloop_dispatch(loop) < 0)
            return false;
    }
    return true;
}

} // namespace

QByteArray DefaultAudioInput::soundServerDefaultSource()
{
    return askSoundServer().value_or(QByteArray());
}

std::optional<QByteArray> DefaultAudioInput::askSoundServer()
{
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr)
        return std::nullopt;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Lumora");
    ServerQuery query;
    QElapsedTimer clock;
    clock.start();
    if (context != nullptr && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const bool ready = iterateUntil(loop, clock, [&] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (ready && pa_context_get_state(context) == PA_CONTEXT_READY) {
            if (pa_operation* operation = pa_context_get_server_info(context, &receiveServerInfo, &query)) {
                iterateUntil(loop, clock, [&] { return query.answered; });
                if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
                    pa_operation_cancel(operation);
                pa_operation_unref(operation);
            }
        }
        pa_context_disconnect(context);
    }
    if (context != nullptr)
        pa_context_unref(context);
    pa_mainloop_free(loop);
    if (!query.described)
        return std::nullopt;
    return query.defaultSource;
}

std::optional<QAudioDevice> DefaultAudioInput::find()
{
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    if (inputs.isEmpty())
        return std::nullopt;
    const QByteArray name = soundServerDefaultSource();
    for (const QAudioDevice& device : inputs) {
        if (!name.isEmpty() && device.id() == name)
            return device;
    }
    return QMediaDevices::defaultAudioInput();
}

} // namespace lumora
