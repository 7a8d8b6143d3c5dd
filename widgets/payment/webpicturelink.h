#pragma once

#include "widgets/clickablecard.h"

#include <QImage>
#include <QString>

#include <memory>

class QLabel;

namespace Varnel {

namespace Ui {
class AccoutBottomButton;
class HomeImage;
}

class RemotePicture;

// A picture from the provider's site that, when pressed, opens a page of the
// site signed in with the account's token (the page's own query kept). The
// picture is fetched in the background and shown, scaled to the width of
// its label, once it arrives; until then the label stays hidden.
class WebPictureLink : public ClickableCard
{
    Q_OBJECT
protected:
    explicit WebPictureLink(QWidget *parent);
    ~WebPictureLink() override;

    // Fetches pictureUrl into the label; a press opens pageUrl.
    void load(QLabel *picture, const QString &pictureUrl, const QString &pageUrl);

    void resizeEvent(QResizeEvent *event) override;

private:
    void showPicture();
    void openPage() const;

    RemotePicture *m_fetch;
    QLabel *m_label = nullptr;
    QImage m_picture;
    QString m_pictureUrl;
    QString m_page;
    const QString m_key;
};

// The features block at the bottom of the payment page: the features
// picture and a link to the list of everything premium includes.
class AccoutBottomButton : public WebPictureLink
{
    Q_OBJECT
public:
    explicit AccoutBottomButton(QWidget *parent = nullptr);
    ~AccoutBottomButton() override;

private:
    std::unique_ptr<Ui::AccoutBottomButton> ui;
};

// The promotional banner of the home screen.
class HomeImage : public WebPictureLink
{
    Q_OBJECT
public:
    explicit HomeImage(QWidget *parent = nullptr);
    ~HomeImage() override;

private:
    std::unique_ptr<Ui::HomeImage> ui;
};

} // namespace Varnel
