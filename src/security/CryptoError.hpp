#pragma once

namespace lumora {

// Why a cryptographic operation gave no result.
enum class CryptoError {
    invalidKey, // key bytes of the wrong length or not a valid key
    invalidInput, // malformed sealed box, signature or public key
    authenticationFailed, // a sealed box that was altered or sealed under another key
    randomUnavailable, // the system's random source failed
    primitiveFailed, // the library failed in a way the input does not explain
};

} // namespace lumora
