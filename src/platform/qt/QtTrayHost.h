#pragma once

#include "tray/TrayHost.h"

#include <QObject>

class QSystemTrayIcon;

// The real tray icon, through QSystemTrayIcon (XEmbed or StatusNotifierItem).
class QtTrayHost final : public QObject, public TrayHost {
    Q_OBJECT

public:
    explicit QtTrayHost(QObject *parent = nullptr);
    ~QtTrayHost() override;

    void show(const QIcon &icon, const QString &tip) override;
    void update(const QIcon &icon, const QString &tip) override;
    void remove() override;
    bool isShown() const override;
    bool reportsDoubleClick() const override;
    void setContextMenu(QMenu *menu) override;

private:
    QSystemTrayIcon *icon_;
};
