#pragma once

#include <QObject>
#include <QUrl>

namespace Varnel {

// Opens the links of the pages (web pages, checkout, mail) in the user's
// browser or mail program, through the desktop's opener (xdg-open), and
// says so when nothing could: a message that shows the address, so that
// the user can copy it. While it lives it handles http, https and mailto
// for QDesktopServices::openUrl, so the pages keep calling that.
// Neither the address nor the opener's own output goes to any output: a
// checkout link carries the account's token.
class LinkOpener : public QObject
{
    Q_OBJECT
public:
    explicit LinkOpener(QObject *parent = nullptr);
    ~LinkOpener() override;

public slots:
    void open(const QUrl &url);

private:
    void tellNotOpened(const QUrl &url);
};

} // namespace Varnel
