#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class StatsIndicator;
}

// The connect page's traffic panel: the tunnel's total download and upload
// in human units, from the controller's statsChanged (back to zero when a
// new tunnel is being made), and a round-trip time
// to the connected server, measured once per program run on the first
// statistics update.
class StatsIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit StatsIndicator(QWidget *parent = nullptr);
    ~StatsIndicator() override;

public slots:
    // The round-trip measurement: one bounded ping to the active server.
    void oneTime();

private slots:
    void onStatsChanged(quint64 tx, quint64 rx);

private:
    std::unique_ptr<Ui::StatsIndicator> ui;
};

} // namespace Varnel
