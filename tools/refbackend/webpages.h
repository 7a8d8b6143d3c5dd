#pragma once

#include "accountstore.h"

#include <QByteArray>

namespace Varnel::RefBackend {

// The provider's web pages that the client opens in the browser. The pages behind a sign-in
// decipher "authToken" and say whether it is valid and unexpired; the body element carries the
// verdict in "data-token-state" so that tests need not read prose.
class WebPages
{
public:
    static constexpr char kCheckoutPrefix[] = "/checkout/";
    static constexpr char kFeaturesPath[] = "/features";
    static constexpr char kOfferPath[] = "/offer";
    static constexpr char kPricingPath[] = "/pricing";
    static constexpr char kFeaturesImagePath[] = "/img/features.png";
    static constexpr char kBannerImagePath[] = "/img/home-banner.png";
    // The network test's probes: a page to download and one to post to.
    static constexpr char kDownloadProbePath[] = "/speedtest/download";
    static constexpr char kUploadProbePath[] = "/speedtest/upload";
    static constexpr int kDownloadProbeBytes = 256 * 1024;

    struct Page {
        int status = 200;
        QByteArray html;
    };

    WebPages(const AccountStore &store, const Catalogue &catalogue);

    // 200 with a valid token and a known package; 403 for a bad token; 404 for an unknown package.
    Page checkout(const QString &packageId, const QString &token) const;
    Page features(const QString &token) const;
    Page offer(const QString &token) const;
    Page pricing() const;

private:
    Page signedInPage(const QString &title, const QString &content, const QString &token) const;

    const AccountStore &store_;
    const Catalogue &catalogue_;
};

} // namespace Varnel::RefBackend
