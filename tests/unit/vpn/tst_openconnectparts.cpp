#include "common/logger.h"
#include "vpn/authform.h"
#include "vpn/openconnectserver.h"
#include "vpn/peerpin.h"
#include "vpn/scriptlog.h"
#include "vpn/tunnelinfo.h"
#include "logwatch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <openconnect.h>

#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

using namespace Varnel;

namespace {

// A login form as the OpenConnect library hands it over; it owns the values
// the filler sets (the library frees them in a real session).
class Form
{
public:
    ~Form()
    {
        for (oc_form_opt *option : m_options) {
            if (option->type == OC_FORM_OPT_TEXT || option->type == OC_FORM_OPT_PASSWORD)
                std::free(option->_value);
            delete option;
        }
    }

    Form &field(int type, const char *name, unsigned flags = 0)
    {
        auto *option = new oc_form_opt {};
        option->type = type;
        option->name = const_cast<char *>(name);
        option->flags = flags;
        append(option);
        return *this;
    }

    Form &groups(const QList<QByteArray> &names)
    {
        m_names = names;
        for (QByteArray &name : m_names) {
            m_choices.push_back(oc_choice {});
            m_choices.back().name = name.data();
        }
        for (oc_choice &choice : m_choices)
            m_choicePointers.push_back(&choice);
        m_groups.form.type = OC_FORM_OPT_SELECT;
        m_groups.form.name = const_cast<char *>("group_list");
        m_groups.nr_choices = int(m_choicePointers.size());
        m_groups.choices = m_choicePointers.data();
        m_form.authgroup_opt = &m_groups;
        // The group list is also the form's first field.
        m_groups.form.next = m_form.opts;
        m_form.opts = &m_groups.form;
        return *this;
    }

    oc_auth_form *get() { return &m_form; }

    QString value(const char *name) const
    {
        for (oc_form_opt *option = m_form.opts; option; option = option->next) {
            if (qstrcmp(option->name, name) == 0)
                return QString::fromUtf8(option->_value);
        }
        return QStringLiteral("<no such field>");
    }

private:
    void append(oc_form_opt *option)
    {
        oc_form_opt **end = &m_form.opts;
        while (*end)
            end = &(*end)->next;
        *end = option;
        m_options.push_back(option);
    }

    oc_auth_form m_form {};
    oc_form_opt_select m_groups {};
    QList<QByteArray> m_names;
    std::vector<oc_choice> m_choices;
    std::vector<oc_choice *> m_choicePointers;
    std::vector<oc_form_opt *> m_options;
};

const AuthFormInput kInput {QStringLiteral("alice"), QStringLiteral("secret"), QString()};

// A self-signed certificate (DER) for key, with the given serial number.
QByteArray certificate(gnutls_x509_privkey_t key, unsigned char serial)
{
    gnutls_x509_crt_t crt;
    gnutls_x509_crt_init(&crt);
    gnutls_x509_crt_set_version(crt, 3);
    gnutls_x509_crt_set_serial(crt, &serial, 1);
    const time_t now = std::time(nullptr);
    gnutls_x509_crt_set_activation_time(crt, now - 60);
    gnutls_x509_crt_set_expiration_time(crt, now + 3600);
    const char cn[] = "vpn.example";
    gnutls_x509_crt_set_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, cn, sizeof cn - 1);
    gnutls_x509_crt_set_key(crt, key);
    QByteArray der;
    if (gnutls_x509_crt_sign2(crt, crt, key, GNUTLS_DIG_SHA256, 0) == 0) {
        gnutls_datum_t out {};
        if (gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_DER, &out) == 0) {
            der = QByteArray(reinterpret_cast<const char *>(out.data), int(out.size));
            gnutls_free(out.data);
        }
    }
    gnutls_x509_crt_deinit(crt);
    return der;
}

gnutls_x509_privkey_t newKey()
{
    gnutls_x509_privkey_t key;
    gnutls_x509_privkey_init(&key);
    gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA, GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0);
    return key;
}

QString progressText(const char *format, ...) __attribute__((format(printf, 1, 2)));
QString progressText(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const QString text = formatProgress(format, arguments);
    va_end(arguments);
    return text;
}

} // namespace

// The pure pieces of the OpenConnect session: the form filler, the key
// pins, the tunnel facts, progress formatting and the script log.
class TestOpenConnectParts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void singleGroupFetchedThenFilled();
    void credentialsGoOutAsUtf8();
    void severalGroups();
    void fieldNames();
    void repeatedFieldMeansRejected();
    void formsWithNothingToFill();
    void keyPinnedPerGateway();
    void unreadableCertificateRefused();
    void tunnelAddresses();
    void progressFormatting();
    void scriptLogForwarded();
    void scriptLogRefusedUnlessOurs();
};

void TestOpenConnectParts::initTestCase()
{
    QCOMPARE(gnutls_global_init(), 0);
}

void TestOpenConnectParts::singleGroupFetchedThenFilled()
{
    AuthFormState state;
    Form first;
    first.field(OC_FORM_OPT_TEXT, "username").groups({"staff"});
    QCOMPARE(fillAuthForm(first.get(), state, kInput), OC_FORM_RESULT_NEWGROUP);
    QCOMPARE(first.value("group_list"), QStringLiteral("staff"));
    QCOMPARE(first.value("username"), QString());
    QVERIFY(state.authGroupChosen);

    // The group's own form: the group is set again and the fields filled.
    Form second;
    second.field(OC_FORM_OPT_TEXT, "username").field(OC_FORM_OPT_PASSWORD, "password").groups({"staff"});
    QCOMPARE(fillAuthForm(second.get(), state, kInput), OC_FORM_RESULT_OK);
    QCOMPARE(second.value("group_list"), QStringLiteral("staff"));
    QCOMPARE(second.value("username"), QStringLiteral("alice"));
    QCOMPARE(second.value("password"), QStringLiteral("secret"));
}

// The server compares the bytes the user typed: UTF-8, as OpenVPN sends them.
void TestOpenConnectParts::credentialsGoOutAsUtf8()
{
    AuthFormState state;
    Form form;
    form.field(OC_FORM_OPT_TEXT, "username").field(OC_FORM_OPT_PASSWORD, "password");
    const AuthFormInput input {QStringLiteral("jörg"), QStringLiteral("pässwörd€"), QString()};
    QCOMPARE(fillAuthForm(form.get(), state, input), OC_FORM_RESULT_OK);
    QCOMPARE(form.value("username"), input.username);
    QCOMPARE(form.value("password"), input.password);
}

void TestOpenConnectParts::severalGroups()
{
    AuthFormState state;
    Form unnamed;
    unnamed.field(OC_FORM_OPT_TEXT, "username").groups({"staff", "guests"});
    QCOMPARE(fillAuthForm(unnamed.get(), state, kInput), OC_FORM_RESULT_CANCELLED);
    QVERIFY(!state.authGroupChosen);

    AuthFormInput wanted = kInput;
    wanted.groupName = QStringLiteral("nobody-offers-this");
    Form unknown;
    unknown.field(OC_FORM_OPT_TEXT, "username").groups({"staff", "guests"});
    QCOMPARE(fillAuthForm(unknown.get(), state, wanted), OC_FORM_RESULT_CANCELLED);

    wanted.groupName = QStringLiteral("guests");
    Form named;
    named.field(OC_FORM_OPT_TEXT, "username").groups({"staff", "guests"});
    QCOMPARE(fillAuthForm(named.get(), state, wanted), OC_FORM_RESULT_NEWGROUP);
    QCOMPARE(named.value("group_list"), QStringLiteral("guests"));
}

void TestOpenConnectParts::fieldNames()
{
    const auto fill = [](Form &form) {
        AuthFormState state;
        return fillAuthForm(form.get(), state, kInput);
    };
    Form caseless;
    caseless.field(OC_FORM_OPT_TEXT, "UserName").field(OC_FORM_OPT_PASSWORD, "PASSWORD");
    QCOMPARE(fill(caseless), OC_FORM_RESULT_OK);
    QCOMPARE(caseless.value("UserName"), QStringLiteral("alice"));
    QCOMPARE(caseless.value("PASSWORD"), QStringLiteral("secret"));

    Form unknown;
    unknown.field(OC_FORM_OPT_TEXT, "email");
    QCOMPARE(fill(unknown), OC_FORM_RESULT_CANCELLED);

    // A select that is not the group list cannot be answered.
    Form realm;
    realm.field(OC_FORM_OPT_SELECT, "realm").field(OC_FORM_OPT_TEXT, "username");
    QCOMPARE(fill(realm), OC_FORM_RESULT_CANCELLED);

    // Ignored fields are skipped, whatever they are.
    Form ignored;
    ignored.field(OC_FORM_OPT_TEXT, "email", OC_FORM_OPT_IGNORE).field(OC_FORM_OPT_TEXT, "username");
    QCOMPARE(fill(ignored), OC_FORM_RESULT_OK);
    QCOMPARE(ignored.value("email"), QString());
}

void TestOpenConnectParts::repeatedFieldMeansRejected()
{
    // ocserv asks for the user name, then the password, and asks for the
    // password again when it was wrong: the second time is not answered.
    AuthFormState state;
    Form user;
    user.field(OC_FORM_OPT_TEXT, "username");
    QCOMPARE(fillAuthForm(user.get(), state, kInput), OC_FORM_RESULT_OK);
    Form password;
    password.field(OC_FORM_OPT_PASSWORD, "password");
    QCOMPARE(fillAuthForm(password.get(), state, kInput), OC_FORM_RESULT_OK);
    QVERIFY(!state.rejected);
    Form again;
    again.field(OC_FORM_OPT_PASSWORD, "password");
    QCOMPARE(fillAuthForm(again.get(), state, kInput), OC_FORM_RESULT_CANCELLED);
    QVERIFY(state.rejected);
    Form userAgain;
    userAgain.field(OC_FORM_OPT_TEXT, "username");
    QCOMPARE(fillAuthForm(userAgain.get(), state, kInput), OC_FORM_RESULT_CANCELLED);
}

void TestOpenConnectParts::formsWithNothingToFill()
{
    const LogWatch log;
    auto filled = [] {
        AuthFormState state;
        Form form;
        form.field(OC_FORM_OPT_TEXT, "username");
        return fillAuthForm(form.get(), state, kInput);
    };
    auto empty = [] {
        AuthFormState state;
        Form form;
        form.field(OC_FORM_OPT_HIDDEN, "csrf");
        return fillAuthForm(form.get(), state, kInput);
    };
    // The count is process-wide: a filled form starts it afresh.
    QCOMPARE(filled(), OC_FORM_RESULT_OK);
    QCOMPARE(empty(), OC_FORM_RESULT_OK);
    QCOMPARE(empty(), OC_FORM_RESULT_CANCELLED);
    QCOMPARE(filled(), OC_FORM_RESULT_OK);
    QCOMPARE(empty(), OC_FORM_RESULT_OK);
    QVERIFY(log.lines().contains(QStringLiteral("unknown type 4")));
}

void TestOpenConnectParts::keyPinnedPerGateway()
{
    gnutls_x509_privkey_t keyA = newKey();
    gnutls_x509_privkey_t keyB = newKey();
    const QByteArray certA = certificate(keyA, 1);
    const QByteArray reissuedA = certificate(keyA, 2);
    const QByteArray certB = certificate(keyB, 3);
    gnutls_x509_privkey_deinit(keyA);
    gnutls_x509_privkey_deinit(keyB);
    QVERIFY(!certA.isEmpty() && !certB.isEmpty() && reissuedA != certA);

    OpenConnectServer server(QStringLiteral("vpn.example"));
    {
        const LogWatch log;
        QCOMPARE(checkPeerKey(certA, QStringLiteral("vpn.example"), QStringLiteral("443"), server), PeerKey::Accepted);
        QVERIFY(log.lines().contains(QStringLiteral("peer is unknown")));
        QVERIFY(log.lines().contains(QStringLiteral("saving peer's public key")));
    }
    const KeyPin pin = server.pin(QStringLiteral("vpn.example:443"));
    QCOMPARE(pin.algorithm, int(GNUTLS_DIG_SHA1));
    QCOMPARE(pin.hash.size(), 20);
    {
        // Same key, even in a new certificate: accepted without a word.
        const LogWatch log;
        QCOMPARE(checkPeerKey(certA, QStringLiteral("vpn.example"), QStringLiteral("443"), server), PeerKey::Accepted);
        QCOMPARE(checkPeerKey(reissuedA, QStringLiteral("vpn.example"), QStringLiteral("443"), server), PeerKey::Accepted);
        QVERIFY(!log.lines().contains(QStringLiteral("peer is unknown")));
    }
    {
        // Another key for a pinned gateway: refused, and the pin stays.
        const LogWatch log;
        QCOMPARE(checkPeerKey(certB, QStringLiteral("vpn.example"), QStringLiteral("443"), server), PeerKey::Changed);
        QVERIFY(log.lines().contains(QStringLiteral("peer's key has changed!")));
        QCOMPARE(server.pin(QStringLiteral("vpn.example:443")).hash, pin.hash);
    }
    // Other gateways, another host or another port, have pins of their own.
    QCOMPARE(checkPeerKey(certB, QStringLiteral("other.example"), QStringLiteral("443"), server), PeerKey::Accepted);
    QCOMPARE(checkPeerKey(certB, QStringLiteral("vpn.example"), QStringLiteral("4443"), server), PeerKey::Accepted);
    QCOMPARE(checkPeerKey(certA, QStringLiteral("other.example"), QStringLiteral("443"), server), PeerKey::Changed);
    QCOMPARE(checkPeerKey(certA, QStringLiteral("vpn.example"), QStringLiteral("443"), server), PeerKey::Accepted);
}

void TestOpenConnectParts::unreadableCertificateRefused()
{
    OpenConnectServer server;
    const LogWatch log;
    QCOMPARE(checkPeerKey(QByteArray("not a certificate"), QStringLiteral("h"), QStringLiteral("443"), server), PeerKey::Refused);
    QVERIFY(log.lines().filter(QStringLiteral("Could not verify certificate: ")).size() == 1);
    QCOMPARE(server.pin(QStringLiteral("h:443")).algorithm, 0);
}

void TestOpenConnectParts::tunnelAddresses()
{
    oc_ip_info full {};
    full.addr = "10.1.0.7";
    full.netmask = "255.255.255.0";
    full.addr6 = "fd00::7";
    full.netmask6 = "fd00::7/64";
    full.dns[0] = "10.1.0.1";
    full.dns[1] = "10.1.0.2";
    full.dns[2] = "10.1.0.3";
    TunnelInfo info;
    info.readAddresses(full);
    QCOMPARE(info.ipv4, QStringLiteral("10.1.0.7/255.255.255.0"));
    QCOMPARE(info.ipv6, QStringLiteral("fd00::7/fd00::7/64"));
    QCOMPARE(info.dns, QStringLiteral("10.1.0.1, 10.1.0.2 10.1.0.3"));

    oc_ip_info bare {};
    bare.addr = "10.1.0.8";
    bare.dns[0] = "10.1.0.1";
    TunnelInfo partial;
    partial.readAddresses(bare);
    QCOMPARE(partial.ipv4, QStringLiteral("10.1.0.8"));
    QCOMPARE(partial.ipv6, QString());
    QCOMPARE(partial.dns, QStringLiteral("10.1.0.1"));
}

void TestOpenConnectParts::progressFormatting()
{
    const QByteArray long600(600, 'a');
    const QString cut = progressText("%s", long600.constData());
    QCOMPARE(cut.size(), 511);
    QCOMPARE(cut, QString(511, QLatin1Char('a')));
    QCOMPARE(progressText("Connected to %s:%d\n", "10.0.0.1", 443), QStringLiteral("Connected to 10.0.0.1:443"));
    QCOMPARE(progressText("two\n\n"), QStringLiteral("two\n"));
}

void TestOpenConnectParts::scriptLogForwarded()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("vpnc.log"));
    {
        const LogWatch log;
        forwardScriptLog(dir.path());
        QCOMPARE(log.lines(), QStringList {QStringLiteral("Could not open %1: 5").arg(path)});
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Setting up routes\n--------------------- BANNER ---------------------\nWelcome\n"
               "------------------- BANNER end -------------------\ndone\n");
    file.close();
    const LogWatch log;
    forwardScriptLog(dir.path());
    QCOMPARE(log.lines(), QStringList({"Setting up routes", "--------------------- BANNER ---------------------",
                                       "Welcome", "------------------- BANNER end -------------------", "done"}));
    QVERIFY(!QFile::exists(path));
}

void TestOpenConnectParts::scriptLogRefusedUnlessOurs()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString secret = dir.filePath(QStringLiteral("secret"));
    QFile file(secret);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("do not log me\n");
    file.close();

    const QString path = dir.filePath(QStringLiteral("vpnc.log"));
    QVERIFY(QFile::link(secret, path));
    {
        const LogWatch log;
        forwardScriptLog(dir.path());
        QCOMPARE(log.lines(), QStringList {QStringLiteral("Could not open %1: not a regular file of ours").arg(path)});
        QVERIFY(QFileInfo(path).isSymLink());
        QVERIFY(QFile::exists(secret));
    }
    QVERIFY(QFile::remove(path));

    if (::geteuid() != 0)
        QSKIP("handing a file to another user needs root");
    QVERIFY(QFile::copy(secret, path));
    QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    const LogWatch log;
    forwardScriptLog(dir.path());
    QCOMPARE(log.lines(), QStringList {QStringLiteral("Could not open %1: not a regular file of ours").arg(path)});
    QVERIFY(QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestOpenConnectParts)
#include "tst_openconnectparts.moc"
