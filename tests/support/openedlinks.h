#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

// Receives what the pages open instead of the system browser or mail client,
// for as long as it lives.
class OpenedLinks : public QObject
{
    Q_OBJECT
public:
    OpenedLinks() { install(); }
    // Takes the links over again (after another handler, such as the
    // program's own opener, had them).
    void install()
    {
        for (const char *scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~OpenedLinks() override
    {
        for (const char *scheme : {"http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};
