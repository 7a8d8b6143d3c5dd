#include "common/art/catalogue.h"

#include <QFile>
#include <QStringList>

namespace Varnel {
namespace Art {

const Catalogue &Catalogue::compiledIn()
{
    static const Catalogue catalogue(QStringLiteral(":/artwork/pictures.txt"), QStringLiteral(":/artwork/svg"));
    return catalogue;
}

Catalogue::Catalogue(const QString &listFile, const QString &sourceDir)
    : m_rasteriser(sourceDir)
{
    QFile list(listFile);
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    for (const QByteArray &raw : list.readAll().split('\n')) {
        const QStringList fields = QString::fromUtf8(raw).split(QLatin1Char('|'));
        if (fields.size() != 3)
            continue;
        const QStringList size = fields.at(2).split(QLatin1Char('x'));
        Entry entry;
        entry.size = QSize(size.value(0).toInt(), size.value(1).toInt());
        bool valid = !entry.size.isEmpty();
        for (const QString &text : fields.at(1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            Layer layer;
            QString error;
            valid = valid && Layer::parse(text, &layer, &error);
            entry.layers.append(layer);
        }
        if (valid && !entry.layers.isEmpty())
            m_entries.insert(fields.at(0), entry);
    }
}

const Catalogue::Entry *Catalogue::find(const QString &name) const
{
    const auto it = m_entries.constFind(name);
    return it == m_entries.constEnd() ? nullptr : &*it;
}

QImage Catalogue::render(const Entry &entry, const QSize &outputSize, qreal rotation) const
{
    QString error;
    return m_rasteriser.render(entry.layers, entry.size, rotation, &error, outputSize);
}

void Catalogue::renderPart(const Entry &entry, QImage *image, const QRect &part) const
{
    QString error;
    m_rasteriser.renderPart(entry.layers, entry.size, image, part, &error);
}

} // namespace Art
} // namespace Varnel
