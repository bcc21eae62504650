// Where curl speaks OpenSSL (Linux): the extra authorities join the system's through the SSL_CTX, the chain's
// result tells what is wrong with a certificate, and EVP computes the digests.
#include "platform/inet/Tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace inet::detail {

namespace {

// Adds the extra authorities to those curl loaded from the system's store.
CURLcode OnSslContext(CURL*, void* context, void* user) noexcept {
    const auto* conn = static_cast<const Connection*>(user);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(context));
    if (store && X509_STORE_load_file(store, conn->caFile.c_str()) == 1)
        return CURLE_OK;
    ERR_clear_error();
    return CURLE_SSL_CACERT_BADFILE;
}

} // namespace

void TrustAuthorities(Connection& conn) {
    if (conn.caFile.empty())
        return;
    curl_easy_setopt(conn.easy.get(), CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
    curl_easy_setopt(conn.easy.get(), CURLOPT_SSL_CTX_DATA, &conn);
}

DWORD TlsFailure(const Connection& conn, CURLcode result) {
    if (result != CURLE_PEER_FAILED_VERIFICATION)
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    long verify = X509_V_OK;
    curl_easy_getinfo(conn.easy.get(), CURLINFO_SSL_VERIFYRESULT, &verify);
    switch (verify) {
    // Curl checks the host name before it records the chain's result, which then still reads "unspecified".
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return ERROR_INTERNET_SEC_INVALID_CERT;
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return ERROR_INTERNET_INVALID_CA;
    default:
        return ERROR_INTERNET_SEC_CERT_ERRORS;
    }
}

struct Digest::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

Digest::Digest(const std::string& algorithm) : m_State(std::make_unique<State>()) {
    const EVP_MD* md = algorithm == "SHA-256" ? EVP_sha256() : algorithm == "SHA-1" ? EVP_sha1() : EVP_md5();
    if (!m_State->context || EVP_DigestInit_ex(m_State->context, md, nullptr) != 1)
        m_State.reset();
}

Digest::~Digest() = default;

void Digest::Add(const unsigned char* data, std::size_t size) {
    EVP_DigestUpdate(m_State->context, data, size);
}

std::vector<unsigned char> Digest::Finish() {
    std::vector<unsigned char> value(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_State->context, value.data(), &length);
    value.resize(length);
    return value;
}

} // namespace inet::detail
