#pragma once

namespace lumora::testing {

// Publishes a change of one field of a fake's state by that field's own signal, as the
// adapters do: only when the value differs.
template <typename Model, typename Signal, typename T>
void publishChange(Model* model, const T& before, const T& after, Signal changed)
{
    if (before != after)
        emit(model->*changed)();
}

} // namespace lumora::testing
