#pragma once

#include "tray/TrayHost.h"

#include <QObject>
#include <QString>

class QSystemTrayIcon;

// The real tray icon, through QSystemTrayIcon. Whether the desktop's tray
// reports double-clicks is the platform's to say (see platform/linux and
// platform/windows); the icon itself is the same everywhere.
class QtTrayHost final : public QObject, public TrayHost {
    Q_OBJECT

public:
    explicit QtTrayHost(bool hostReportsDoubleClick, QObject *parent = nullptr);
    ~QtTrayHost() override;

    void show(const QIcon &icon, const QString &tip) override;
    void update(const QIcon &icon, const QString &tip) override;
    void remove() override;
    bool isShown() const override;
    bool reportsDoubleClick() const override;
    void setContextMenu(QMenu *menu) override;

private:
    QSystemTrayIcon *icon_;
    bool reportsDoubleClick_;
};
