#pragma once

// What depends on the TLS library that curl speaks through: how the server's certificate is checked, what a failed
// check means, and the digests that verify a copy. One file per library, chosen by CMake: TlsOpenSsl.cpp (Linux),
// TlsSchannel.cpp (Windows). Internal to inet.
#include "platform/inet/Connection.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace inet::detail {

// Sets how the server's certificate is checked: against the system's store, and the authorities in conn.caFile
// (ZEL_FTP_CAFILE) where it names a file.
void TrustAuthorities(Connection& conn);
// The platform's code for a failed TLS step (CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CONNECT_ERROR): what the
// certificate check found wrong, as far as the library tells, or ERROR_INTERNET_SECURITY_CHANNEL_ERROR.
DWORD TlsFailure(const Connection& conn, CURLcode result);

// A digest of "SHA-256", "SHA-1" or "MD5", for comparing a copy with the server's checksum.
class Digest {
public:
    explicit Digest(const std::string& algorithm);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    bool Ready() const { return m_State != nullptr; } // false when the library cannot compute it
    void Add(const unsigned char* data, std::size_t size);
    // The digest's bytes; empty when the library failed.
    std::vector<unsigned char> Finish();

private:
    struct State;
    std::unique_ptr<State> m_State;
};

} // namespace inet::detail
