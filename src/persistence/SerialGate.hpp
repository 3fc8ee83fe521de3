#pragma once

#include <coroutine>
#include <deque>

namespace lumora {

// Lets the coroutines of one object run one at a time, in the order they arrived, across
// their suspension points: `auto pass = co_await gate.enter();` holds the gate until `pass`
// goes out of scope. Single-threaded: for objects that live on one event loop.
class SerialGate {
public:
    class Pass {
    public:
        explicit Pass(SerialGate* gate)
            : m_gate(gate)
        {
        }
        Pass(Pass&& other) noexcept
            : m_gate(other.m_gate)
        {
            other.m_gate = nullptr;
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        Pass& operator=(Pass&&) = delete;
        ~Pass()
        {
            if (m_gate)
                m_gate->leave();
        }

    private:
        SerialGate* m_gate;
    };

    struct Entry {
        SerialGate* gate;
        bool await_ready() const noexcept { return !gate->m_busy; }
        void await_suspend(std::coroutine_handle<> waiter) { gate->m_waiting.push_back(waiter); }
        Pass await_resume() noexcept
        {
            gate->m_busy = true;
            return Pass(gate);
        }
    };

    SerialGate() = default;
    SerialGate(const SerialGate&) = delete;
    SerialGate& operator=(const SerialGate&) = delete;

    [[nodiscard]] Entry enter() { return Entry { this }; }

private:
    void leave();

    bool m_busy = false;
    std::deque<std::coroutine_handle<>> m_waiting;
};

} // namespace lumora
