// Where curl speaks Schannel (Windows): certificates are checked against the Windows store, or against the PEM file
// of ZEL_FTP_CAFILE alone; what a failed check found is read from curl's words; BCrypt computes the digests.
#include "platform/inet/Tls.h"

#include <windows.h>
// <windows.h> first: bcrypt.h needs its types.
#include "platform/error/WindowsMacros.h"
#include <bcrypt.h>

#include <string_view>

namespace inet::detail {

namespace {

// Schannel's words for what it found wrong, as curl passes them on in its error text: the Windows status names of
// the handshake (SEC_E_..., CERT_E_...), those of the chain check that curl makes itself for a CA file
// (CERT_TRUST_...), and curl's own for a host name that does not match. Schannel does not tell a self-signed
// certificate from one whose authority is not trusted.
struct Word {
    std::string_view text;
    DWORD code;
};
constexpr Word kWords[] = {
    {"SEC_E_WRONG_PRINCIPAL", ERROR_INTERNET_SEC_CERT_CN_INVALID},
    {"CERT_E_CN_NO_MATCH", ERROR_INTERNET_SEC_CERT_CN_INVALID},
    {"against server certificate names", ERROR_INTERNET_SEC_CERT_CN_INVALID},
    {"SEC_E_CERT_EXPIRED", ERROR_INTERNET_SEC_CERT_DATE_INVALID},
    {"CERT_E_EXPIRED", ERROR_INTERNET_SEC_CERT_DATE_INVALID},
    {"CERT_TRUST_IS_NOT_TIME_VALID", ERROR_INTERNET_SEC_CERT_DATE_INVALID},
    {"SEC_E_UNTRUSTED_ROOT", ERROR_INTERNET_INVALID_CA},
    {"CERT_E_UNTRUSTEDROOT", ERROR_INTERNET_INVALID_CA},
    {"CERT_E_CHAINING", ERROR_INTERNET_INVALID_CA},
    {"CERT_TRUST_IS_UNTRUSTED_ROOT", ERROR_INTERNET_INVALID_CA},
    {"CERT_TRUST_IS_PARTIAL_CHAIN", ERROR_INTERNET_INVALID_CA},
};

} // namespace

void TrustAuthorities(Connection& conn) {
    CURL* easy = conn.easy.get();
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, conn.errorText.data());
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
    // Schannel then trusts the authorities in the file only, not the store besides.
    if (!conn.caFile.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, conn.caFile.c_str());
}

DWORD TlsFailure(const Connection& conn, CURLcode result) {
    const std::string_view text(conn.errorText.data());
    for (const Word& word : kWords) {
        if (text.find(word.text) != std::string_view::npos)
            return word.code;
    }
    return result == CURLE_PEER_FAILED_VERIFICATION ? ERROR_INTERNET_SEC_CERT_ERRORS
                                                    : ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

struct Digest::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash)
            BCryptDestroyHash(hash);
        if (algorithm)
            BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Digest::Digest(const std::string& algorithm) : m_State(std::make_unique<State>()) {
    const wchar_t* id = algorithm == "SHA-256" ? BCRYPT_SHA256_ALGORITHM
                        : algorithm == "SHA-1" ? BCRYPT_SHA1_ALGORITHM
                                               : BCRYPT_MD5_ALGORITHM;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_State->algorithm, id, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(m_State->algorithm, &m_State->hash, nullptr, 0, nullptr, 0, 0)))
        m_State.reset();
}

Digest::~Digest() = default;

void Digest::Add(const unsigned char* data, std::size_t size) {
    // BCryptHashData takes at most 4 GiB at a time; the caller's blocks are far smaller.
    BCryptHashData(m_State->hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0);
}

std::vector<unsigned char> Digest::Finish() {
    ULONG length = 0;
    ULONG got = 0;
    if (!BCRYPT_SUCCESS(BCryptGetProperty(m_State->hash, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                                          sizeof length, &got, 0)))
        return {};
    std::vector<unsigned char> value(length);
    if (!BCRYPT_SUCCESS(BCryptFinishHash(m_State->hash, value.data(), length, 0)))
        return {};
    return value;
}

} // namespace inet::detail
