#pragma once

namespace lumora::OpenSslProcess {

// Call first in main, before anything uses TLS or the crypto layer. OpenSSL then keeps its
// shared state until the process ends instead of freeing it at exit: QThread::wait() returns
// before a finished network thread has run its thread-local OpenSSL clean-up, so a clean-up at
// exit could run at the same moment and corrupt the heap.
void keepStateUntilExit();

} // namespace lumora::OpenSslProcess
