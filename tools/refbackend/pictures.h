#pragma once

#include <QByteArray>
#include <QColor>
#include <QSize>

namespace Varnel::RefBackend {

// PNG pictures for the banner and the features block, drawn at start-up. They only need to be
// real images of a plausible size; the client scales whatever it receives.
class Pictures
{
public:
    Pictures();

    const QByteArray &banner() const { return banner_; }
    const QByteArray &features() const { return features_; }

    static QByteArray render(const QSize &size, const QColor &from, const QColor &to);

private:
    QByteArray banner_;
    QByteArray features_;
};

} // namespace Varnel::RefBackend
