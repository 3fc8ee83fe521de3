#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <vector>

namespace lumora {

// Key material that is overwritten with zeros when it is dropped. Every copy owns its own
// buffer (no implicit sharing), so wiping one copy never leaves another one behind.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(qsizetype size);
    explicit SecretBytes(QByteArrayView bytes);
    SecretBytes(const SecretBytes& other);
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(const SecretBytes& other);
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    ~SecretBytes();

    [[nodiscard]] qsizetype size() const { return qsizetype(m_bytes.size()); }
    [[nodiscard]] bool isEmpty() const { return m_bytes.empty(); }
    [[nodiscard]] unsigned char* data() { return m_bytes.data(); }
    [[nodiscard]] const unsigned char* data() const { return m_bytes.data(); }
    [[nodiscard]] QByteArrayView view() const { return { m_bytes.data(), size() }; }
    // A plain copy for handing the bytes on (for instance to a key store); the caller owns
    // that copy and its lifetime.
    [[nodiscard]] QByteArray toByteArray() const { return view().toByteArray(); }

    void wipe();

    // Constant-time comparison.
    bool operator==(const SecretBytes& other) const;

private:
    std::vector<unsigned char> m_bytes;
};

} // namespace lumora
