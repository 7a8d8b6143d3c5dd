#include "vpn/peerpin.h"

#include "vpn/enginelog.h"
#include "vpn/openconnectserver.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

namespace Varnel {

namespace {

// GnuTLS trust-database callbacks carry no user pointer: the server whose
// pins they read and write is the one checkPeerKey() is working on, on this
// thread.
thread_local OpenConnectServer *t_pinServer = nullptr;

QString gatewayKey(const char *host, const char *service)
{
    return QString::fromUtf8(host) + QLatin1Char(':') + QString::fromUtf8(service);
}

int storePin(const char *, const char *host, const char *service, time_t, const gnutls_datum_t *pubkey)
{
    QByteArray hash(int(gnutls_hash_get_len(GNUTLS_DIG_SHA1)), '\0');
    if (!t_pinServer || gnutls_hash_fast(GNUTLS_DIG_SHA1, pubkey->data, pubkey->size, hash.data()) < 0)
        return -1;
    t_pinServer->setPin(gatewayKey(host, service), KeyPin {GNUTLS_DIG_SHA1, hash});
    return 0;
}

int verifyPin(const char *, const char *host, const char *service, const gnutls_datum_t *pubkey)
{
    if (!t_pinServer)
        return -1;
    const KeyPin pin = t_pinServer->pin(gatewayKey(host, service));
    const auto algorithm = gnutls_digest_algorithm_t(pin.algorithm);
    const int length = int(gnutls_hash_get_len(algorithm));
    if (pin.algorithm == 0 || length > 64 || pin.hash.size() != length)
        return -1;
    QByteArray hash(length, '\0');
    if (gnutls_hash_fast(algorithm, pubkey->data, pubkey->size, hash.data()) < 0)
        return -1;
    return hash == pin.hash ? 0 : GNUTLS_E_CERTIFICATE_KEY_MISMATCH;
}

// The trust database for one check, released on every path.
class PinDatabase
{
public:
    explicit PinDatabase(OpenConnectServer &server)
    {
        t_pinServer = &server;
        if (gnutls_tdb_init(&m_tdb) < 0) {
            m_tdb = nullptr;
            return;
        }
        gnutls_tdb_set_verify_func(m_tdb, verifyPin);
        gnutls_tdb_set_store_func(m_tdb, storePin);
    }
    ~PinDatabase()
    {
        if (m_tdb)
            gnutls_tdb_deinit(m_tdb);
        t_pinServer = nullptr;
    }
    PinDatabase(const PinDatabase &) = delete;
    PinDatabase &operator=(const PinDatabase &) = delete;

    gnutls_tdb_t get() const { return m_tdb; }

private:
    gnutls_tdb_t m_tdb = nullptr;
};

} // namespace

PeerKey checkPeerKey(const QByteArray &der, const QString &host, const QString &service, OpenConnectServer &server)
{
    PinDatabase database(server);
    if (!database.get()) {
        engineLog(QStringLiteral("Could not verify certificate: no trust database"));
        return PeerKey::Refused;
    }
    const QByteArray hostName = host.toUtf8();
    const QByteArray serviceName = service.toUtf8();
    gnutls_datum_t certificate;
    certificate.data = reinterpret_cast<unsigned char *>(const_cast<char *>(der.constData()));
    certificate.size = unsigned(der.size());

    const int verified = gnutls_verify_stored_pubkey(nullptr, database.get(), hostName.constData(),
                                                     serviceName.constData(), GNUTLS_CRT_X509, &certificate, 0);
    if (verified == GNUTLS_E_NO_CERTIFICATE_FOUND) {
        engineLog(QStringLiteral("peer is unknown"));
        engineLog(QStringLiteral("saving peer's public key"));
        const int stored = gnutls_store_pubkey(nullptr, database.get(), hostName.constData(), serviceName.constData(),
                                               GNUTLS_CRT_X509, &certificate, 0, 0);
        if (stored < 0)
            engineLog(QStringLiteral("Could not store certificate: ") + QString::fromUtf8(gnutls_strerror(stored)));
        return PeerKey::Accepted;
    }
    if (verified == GNUTLS_E_CERTIFICATE_KEY_MISMATCH) {
        // Another key on a gateway we know: a man in the middle as far as we
        // can tell, so the password is not sent.
        engineLog(QStringLiteral("peer's key has changed!"));
        return PeerKey::Changed;
    }
    if (verified < 0) {
        engineLog(QStringLiteral("Could not verify certificate: ") + QString::fromUtf8(gnutls_strerror(verified)));
        return PeerKey::Refused;
    }
    return PeerKey::Accepted;
}

} // namespace Varnel
