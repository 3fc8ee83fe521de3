#pragma once

#include "domain/PairingPendingConfirmation.hpp"
#include "domain/PairingPendingInvite.hpp"
#include "domain/PairingWorkspace.hpp"

#include <variant>

namespace lumora {

// Which step of pairing an account is at, with what that step shows.
class PairingStage {
public:
    enum class Kind {
        inviteOutstanding, // this user issued a code that is not used up yet
        awaitingConfirmation, // this user redeemed a partner's code and must still confirm
        paired, // the account is linked with a partner
        unpaired, // none of the above
    };

    static PairingStage inviteOutstanding(PairingPendingInvite invite)
    {
        return PairingStage(std::move(invite));
    }
    static PairingStage awaitingConfirmation(PairingPendingConfirmation confirmation)
    {
        return PairingStage(std::move(confirmation));
    }
    static PairingStage paired(PairingWorkspace workspace) { return PairingStage(std::move(workspace)); }
    static PairingStage unpaired() { return PairingStage(std::monostate {}); }

    Kind kind() const { return static_cast<Kind>(m_payload.index()); }

    // The payload of the matching stage; null for every other stage.
    const PairingPendingInvite* pendingInvite() const
    {
        return std::get_if<PairingPendingInvite>(&m_payload);
    }
    const PairingPendingConfirmation* pendingConfirmation() const
    {
        return std::get_if<PairingPendingConfirmation>(&m_payload);
    }
    const PairingWorkspace* workspace() const { return std::get_if<PairingWorkspace>(&m_payload); }

    // Equal when the same stage with equal payloads.
    bool operator==(const PairingStage&) const = default;

private:
    // Alternatives in the order of `Kind`.
    using Payload
        = std::variant<PairingPendingInvite, PairingPendingConfirmation, PairingWorkspace, std::monostate>;

    explicit PairingStage(Payload payload)
        : m_payload(std::move(payload))
    {
    }

    Payload m_payload;
};

} // namespace lumora
