#include "security/OpenSslProcess.hpp"

#include <openssl/crypto.h>

namespace lumora::OpenSslProcess {

void keepStateUntilExit()
{
    // The first initialisation decides whether a clean-up is registered at exit.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

} // namespace lumora::OpenSslProcess
